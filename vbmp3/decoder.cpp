#include "decoder.h"

#include <cmath>
#include <mutex>

namespace vbmp3 {
namespace {

constexpr int kMaxErrorRun = 32;

bool initLibrary()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = mpg123_init() == MPG123_OK; });
    return ok;
}

} // namespace

void Decoder::HandleDeleter::operator()(mpg123_handle *h) const
{
    mpg123_close(h);
    mpg123_delete(h);
}

std::unique_ptr<Decoder> Decoder::open(const char *path, bool lengthHeader)
{
    if (!initLibrary())
        return nullptr;
    int error = MPG123_OK;
    mpg123_handle *raw = mpg123_new(nullptr, &error);
    if (!raw)
        return nullptr;
    std::unique_ptr<Decoder> decoder(new Decoder(raw));
    mpg123_handle *h = raw;
    if (mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0) != MPG123_OK)
        return nullptr;
    // Keep the file's own rate and channel count, always as 16-bit samples.
    if (mpg123_format_none(h) != MPG123_OK)
        return nullptr;
    const long *rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h, path) != MPG123_OK)
        return nullptr;
    int encoding = 0;
    if (mpg123_getformat(h, &decoder->rate_, &decoder->channels_, &encoding) != MPG123_OK ||
        decoder->rate_ <= 0 || decoder->channels_ < 1 || decoder->channels_ > 2)
        return nullptr;
    // Without a length header libmpg123 only estimates from the first frame's bitrate, which
    // is wrong for VBR; a scan of the frame headers gives the real length.
    if (!lengthHeader && mpg123_scan(h) != MPG123_OK)
        return nullptr;
    const off_t length = mpg123_length(h);
    if (length < 0)
        return nullptr;
    decoder->totalFrames_ = length;
    return decoder;
}

int Decoder::totalSeconds() const
{
    return static_cast<int>(std::lround(static_cast<double>(totalFrames_) / rate_));
}

int Decoder::bitrateKbps() const
{
    mpg123_frameinfo info{};
    return mpg123_info(handle_.get(), &info) == MPG123_OK ? info.bitrate : 0;
}

Decoder::ReadResult Decoder::read(unsigned char *buffer, std::size_t bytes, std::size_t &written)
{
    written = 0;
    while (written < bytes) {
        size_t done = 0;
        const int result = mpg123_read(handle_.get(), buffer + written, bytes - written, &done);
        written += done;
        if (result == MPG123_DONE)
            return ReadResult::Ended;
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(handle_.get(), &rate, &channels, &encoding);
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
    return mpg123_seek(handle_.get(), static_cast<off_t>(frame), SEEK_SET) >= 0;
}

} // namespace vbmp3
