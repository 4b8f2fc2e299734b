#include "decoder.h"

#include "lengthheader.h"
#include "sizelength.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>

namespace vbmp3 {
namespace {

constexpr int kMaxErrorRun = 32;
// How many MPEG frames past the last one seen a seek may read its way through (about 4 s);
// farther targets are reached by a jump.
constexpr int64_t kExactSeekReach = 150;
// Bytes one decode call or one seek may read: far more than the audio it needs, so that
// only a long stretch of junk ends the track early.
constexpr int64_t kReadBudget = 256 * 1024;
constexpr std::size_t kSourceBuffer = 64 * 1024;

// Arms the source's budget for one call and disarms it after.
class Budget {
public:
    explicit Budget(int64_t &budget) : budget_(budget) { budget_ = kReadBudget; }
    ~Budget() { budget_ = -1; }
    Budget(const Budget &) = delete;
    Budget &operator=(const Budget &) = delete;

private:
    int64_t &budget_;
};

bool initLibrary()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = mpg123_init() == MPG123_OK; });
    return ok;
}

// What a file tells of its length without counting its frames.
struct KnownLength {
    StatedLength stated; // only a header the file's size agrees with; kind None otherwise
    SizeLength sized;    // when no header is believed
};

KnownLength knownLength(int fd, const FrameHeader &first)
{
    std::vector<unsigned char> head(static_cast<std::size_t>(first.length));
    const ssize_t got = ::pread(fd, head.data(), head.size(), static_cast<off_t>(first.offset));
    KnownLength known;
    known.stated =
        readStatedLength(head.data(), got > 0 ? static_cast<std::size_t>(got) : 0, first);
    if (statedLengthFits(known.stated, first, fileSize(fd) - first.offset))
        return known;
    // A file whose header is false may be cut or patched anywhere: its size is only an estimate.
    known.sized = lengthFromSize(fd, first);
    known.sized.constantRate =
        known.sized.constantRate && known.stated.kind == StatedLength::Kind::None;
    known.stated = {};
    return known;
}

} // namespace

Decoder::~Decoder()
{
    if (handle_) {
        mpg123_close(handle_);
        mpg123_delete(handle_);
    }
    if (source_.fd >= 0)
        ::close(source_.fd);
}

mpg123_ssize_t Decoder::readSource(void *source, void *buffer, size_t bytes)
{
    auto *s = static_cast<Source *>(source);
    if (s->budget == 0)
        return 0; // reads as the end of the file
    if (s->budget > 0)
        bytes = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(bytes), s->budget));
    if (s->position < s->bufferStart ||
        s->position >= s->bufferStart + static_cast<int64_t>(s->bufferSize)) {
        s->buffer.resize(kSourceBuffer);
        ssize_t got = 0;
        do
            got =
                ::pread(s->fd, s->buffer.data(), s->buffer.size(), static_cast<off_t>(s->position));
        while (got < 0 && errno == EINTR);
        if (got <= 0)
            return got;
        s->bufferStart = s->position;
        s->bufferSize = static_cast<std::size_t>(got);
    }
    const auto at = static_cast<std::size_t>(s->position - s->bufferStart);
    const std::size_t n = std::min(bytes, s->bufferSize - at);
    std::memcpy(buffer, s->buffer.data() + at, n);
    s->position += static_cast<int64_t>(n);
    if (s->budget > 0)
        s->budget -= static_cast<int64_t>(n);
    return static_cast<mpg123_ssize_t>(n);
}

off_t Decoder::seekSource(void *source, off_t offset, int whence)
{
    auto *s = static_cast<Source *>(source);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = s->position;
    else if (whence == SEEK_END)
        base = fileSize(s->fd);
    else if (whence != SEEK_SET)
        return -1;
    if (base + offset < 0)
        return -1;
    s->position = base + offset;
    return static_cast<off_t>(s->position);
}

std::unique_ptr<Decoder> Decoder::open(int fd, const FrameHeader &first, int64_t countedFrames)
{
    std::unique_ptr<Decoder> decoder(new Decoder(fd));
    if (fd < 0 || !initLibrary() || !decoder->start() || !decoder->findLength(first, countedFrames))
        return nullptr;
    return decoder;
}

bool Decoder::needsCounting(int fd, const FrameHeader &first)
{
    const KnownLength known = knownLength(fd, first);
    return known.stated.kind == StatedLength::Kind::None && !known.sized.constantRate;
}

int64_t Decoder::countedLength(int fd)
{
    // The counter closes a descriptor of its own; the caller's stays open.
    std::unique_ptr<Decoder> counter(new Decoder(::fcntl(fd, F_DUPFD_CLOEXEC, 0)));
    if (counter->source_.fd < 0 || !initLibrary() || !counter->start() ||
        mpg123_scan(counter->handle_) != MPG123_OK)
        return -1;
    return mpg123_length(counter->handle_);
}

bool Decoder::start()
{
    int error = MPG123_OK;
    handle_ = mpg123_new(nullptr, &error);
    if (!handle_)
        return false;
    mpg123_handle *h = handle_;
    // The tags are read elsewhere, in bounded time; libmpg123 would parse every frame of them.
    if (mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_SKIP_ID3V2, 0.0) !=
        MPG123_OK)
        return false;
    // Keep the file's own rate and channel count, always as 16-bit samples.
    if (mpg123_format_none(h) != MPG123_OK)
        return false;
    const long *rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_replace_reader_handle(h, &Decoder::readSource, &Decoder::seekSource, nullptr) !=
            MPG123_OK ||
        mpg123_open_handle(h, &source_) != MPG123_OK)
        return false;
    int encoding = 0;
    return mpg123_getformat(h, &rate_, &channels_, &encoding) == MPG123_OK && rate_ > 0 &&
           channels_ >= 1 && channels_ <= 2;
}

bool Decoder::findLength(const FrameHeader &first, int64_t countedFrames)
{
    samplesPerFrame_ = samplesPerFrame(first);
    const KnownLength known = knownLength(source_.fd, first);
    if (known.stated.kind == StatedLength::Kind::Vbri) {
        // libmpg123 reads Xing/Info itself (and trims the encoder's delay), but not VBRI.
        totalFrames_ = known.stated.frames * samplesPerFrame_;
        return true;
    }
    if (known.stated.kind == StatedLength::Kind::None) {
        // Without a header, a plainly CBR file's size tells its length without reading it all.
        // Otherwise only counting the frames does, which reads all of the file: the caller
        // counts beforehand, away from the UI thread, and when it could not, an estimate from
        // the size stands in (a first-frame estimate would be far off for VBR).
        const int64_t frames =
            known.sized.constantRate || countedFrames < 0 ? known.sized.frames : countedFrames;
        if (frames >= 0) {
            totalFrames_ = frames;
            return true;
        }
    }
    const off_t length = mpg123_length(handle_);
    if (length < 0)
        return false;
    totalFrames_ = length;
    return true;
}

int Decoder::totalSeconds() const
{
    return static_cast<int>(std::lround(static_cast<double>(totalFrames_) / rate_));
}

int Decoder::bitrateKbps() const
{
    mpg123_frameinfo info{};
    return mpg123_info(handle_, &info) == MPG123_OK ? info.bitrate : 0;
}

Decoder::ReadResult Decoder::read(unsigned char *buffer, std::size_t bytes, std::size_t &written)
{
    written = 0;
    const Budget budget(source_.budget);
    while (written < bytes) {
        size_t done = 0;
        const int result = mpg123_read(handle_, buffer + written, bytes - written, &done);
        written += done;
        if (result == MPG123_DONE)
            return ReadResult::Ended;
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(handle_, &rate, &channels, &encoding);
            // The output stream was made for the first format; a file that changes it midway
            // ends there rather than playing at the wrong speed.
            if (rate != rate_ || channels != channels_)
                return ReadResult::Ended;
        } else if (result != MPG123_OK) {
            if (++errorRun_ > kMaxErrorRun)
                return ReadResult::Ended;
            continue;
        }
        if (done > 0)
            errorRun_ = 0;
        else if (result == MPG123_OK && ++errorRun_ > kMaxErrorRun)
            return ReadResult::Ended;
    }
    return ReadResult::Ok;
}

bool Decoder::seek(int64_t frame)
{
    errorRun_ = 0;
    const Budget budget(source_.budget);
    off_t *offsets = nullptr;
    off_t step = 0;
    size_t fill = 0;
    int64_t seen = 0; // MPEG frames whose place libmpg123 knows
    if (mpg123_index(handle_, &offsets, &step, &fill) == MPG123_OK && fill > 0)
        seen = static_cast<int64_t>(fill - 1) * step;
    const bool jump = frame / samplesPerFrame_ > seen + kExactSeekReach;
    mpg123_param(handle_, jump ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_FUZZY, 0.0);
    return mpg123_seek(handle_, static_cast<off_t>(frame), SEEK_SET) >= 0;
}

} // namespace vbmp3
