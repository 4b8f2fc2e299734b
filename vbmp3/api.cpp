// The exported entry points. Each one catches everything: no exception may cross the C
// interface into the player.
#include "decoder.h"
#include "framecheck.h"
#include "lengthcache.h"
#include "playback.h"
#include "tags.h"
#include "tagtext.h"

#include <vbmp3.h>

#include <unistd.h>

#include <cstring>
#include <mutex>
#include <utility>

namespace {

// Playback serves one caller at a time, and vbmp3_open may run on a worker thread beside the
// UI thread's calls: every call holds this lock while it reaches playback, which only ever
// takes the engine lock inside it. Reading a file happens before, without it.
class PlaybackCall {
public:
    PlaybackCall() : lock_(mutex()) {}
    vbmp3::Playback *operator->()
    {
        static vbmp3::Playback instance;
        return &instance;
    }

private:
    static std::mutex &mutex()
    {
        static std::mutex instance;
        return instance;
    }
    std::lock_guard<std::mutex> lock_;
};

PlaybackCall playback()
{
    return {};
}

// Lengths counted where the tags are read, for vbmp3_open, which never counts. A few thousand
// tracks of a list cost a few hundred kilobytes.
vbmp3::LengthCache &countedLengths()
{
    static vbmp3::LengthCache instance(4096);
    return instance;
}

// The file is opened once, for the frame check, the tags and the decoding.
class FileHandle {
public:
    explicit FileHandle(const char *path) : fd_(path ? vbmp3::openRegularFile(path) : -1) {}
    ~FileHandle()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    bool probe(vbmp3::FrameHeader &first) const
    {
        return fd_ >= 0 && vbmp3::probeMpegFile(fd_, first);
    }
    vbmp3::TrackTags readTags() const { return vbmp3::readTags(fd_); }
    std::vector<unsigned char> readPicture(std::size_t limit) const
    {
        return fd_ >= 0 ? vbmp3::readPicture(fd_, limit) : std::vector<unsigned char>();
    }
    // Counts the length of a file that only counting tells, unless it is known for the file
    // as it is now: on the tag reader's thread, ahead of vbmp3_open.
    void countLength(const vbmp3::FrameHeader &first) const
    {
        if (vbmp3::Decoder::needsCounting(fd_, first))
            countedLengths().countOnce(fd_, [this] { return vbmp3::Decoder::countedLength(fd_); });
    }
    int64_t countedLength() const { return countedLengths().find(fd_); }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

template <std::size_t N> void setText(char (&field)[N], const std::string &utf8)
{
    vbmp3::copyUtf8Field(field, N, utf8);
}

template <typename F> auto guarded(F &&body, decltype(body()) onError) noexcept
{
    try {
        return body();
    } catch (...) {
        return onError;
    }
}

} // namespace

extern "C" {

int32_t vbmp3_init(void)
{
    return 1;
}

int32_t vbmp3_free(void)
{
    return guarded(
        [] {
            playback()->shutdown();
            return 1;
        },
        0);
}

int16_t vbmp3_open(const char *path, Vbmp3OpenRecord *record)
{
    return guarded(
        [&]() -> int16_t {
            playback()->replace(nullptr); // a failed open leaves nothing open
            vbmp3::FrameHeader first;
            FileHandle file(path);
            if (!file.probe(first))
                return 0;
            const vbmp3::TrackTags tags = record ? file.readTags() : vbmp3::TrackTags{};
            const int64_t counted = file.countedLength();
            auto decoder = vbmp3::Decoder::open(file.release(), first, counted);
            if (!decoder)
                return 0;
            if (record) {
                setText(record->Title, tags.title);
                setText(record->Artist, tags.artist);
                record->SampleRate = static_cast<int32_t>(decoder->rate());
                record->Channels = decoder->channels();
                record->Bitrate = decoder->bitrateKbps();
                record->TotalSeconds = decoder->totalSeconds();
            }
            playback()->replace(std::move(decoder));
            return 1;
        },
        int16_t{0});
}

int32_t vbmp3_close(void)
{
    return guarded(
        [] {
            playback()->replace(nullptr);
            return 1;
        },
        0);
}

int32_t vbmp3_play(void)
{
    return guarded(
        [] {
            playback()->play();
            return 1;
        },
        0);
}

int32_t vbmp3_stop(void)
{
    return guarded(
        [] {
            playback()->stop();
            return 1;
        },
        0);
}

int32_t vbmp3_pause(void)
{
    return guarded(
        [] {
            playback()->pause();
            return 1;
        },
        0);
}

int32_t vbmp3_restart(void)
{
    return guarded(
        [] {
            playback()->restart();
            return 1;
        },
        0);
}

int32_t vbmp3_seek(int32_t seconds)
{
    return guarded(
        [=] {
            playback()->seek(seconds);
            return 1;
        },
        0);
}

int32_t vbmp3_getState(int32_t *seconds)
{
    return guarded(
        [=] {
            int32_t position = 0;
            const int32_t state = playback()->state(position);
            if (seconds && state != 0)
                *seconds = position;
            return state;
        },
        0);
}

int32_t vbmp3_setVolume(int32_t percent)
{
    return guarded(
        [=] {
            playback()->setVolume(percent);
            return 1;
        },
        0);
}

int32_t vbmp3_getVolume(void)
{
    return guarded([] { return playback()->volume(); }, 100);
}

int16_t vbmp3_getFileInfo(const char *path, Vbmp3TagRecord *tag, Vbmp3StreamRecord *stream)
{
    return guarded(
        [&]() -> int16_t {
            vbmp3::FrameHeader first;
            FileHandle file(path);
            if (!file.probe(first))
                return 0;
            file.countLength(first);
            if (tag) {
                const vbmp3::TrackTags tags = file.readTags();
                setText(tag->Title, tags.title);
                setText(tag->Artist, tags.artist);
            }
            if (stream) {
                std::memset(stream, 0, sizeof *stream);
                stream->Words[0] = first.version;
                stream->Words[1] = first.layer;
                stream->Words[2] = first.bitrateKbps;
                stream->Words[3] = first.sampleRate;
                stream->Words[4] = first.channels;
                stream->Words[5] = first.length;
            }
            return 1;
        },
        int16_t{0});
}

int32_t vbmp3_getPicture(const char *path, void *buffer, int32_t size)
{
    return guarded(
        [&]() -> int32_t {
            if (!buffer || size <= 0)
                return 0;
            const std::vector<unsigned char> picture =
                FileHandle(path).readPicture(static_cast<std::size_t>(size));
            // Whatever the reader kept, no more than the buffer holds is written.
            if (picture.empty() || picture.size() > static_cast<std::size_t>(size))
                return 0;
            std::memcpy(buffer, picture.data(), picture.size());
            return static_cast<int32_t>(picture.size());
        },
        0);
}

} // extern "C"
