// One open MP3 file decoded to signed 16-bit interleaved samples by libmpg123.
#pragma once

#include "framecheck.h"

#include <mpg123.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vbmp3 {

class Decoder {
public:
    // Takes over fd, a file that passed the frame check with `first` as its first frame, and
    // decodes it by position-independent reads: nothing opens the file again. nullptr (fd
    // closed) when libmpg123 cannot decode it. It never counts the frames: the length is from
    // the Xing/Info/VBRI header when the file's size agrees with it; else from the size when
    // the stream is plainly CBR; else `countedFrames` when the caller knows them (from
    // countedLength), or an estimate from the size and sampled frames.
    static std::unique_ptr<Decoder> open(int fd, const FrameHeader &first,
                                         int64_t countedFrames = -1);
    // Whether only counting the frames tells the length of the file at fd: it states none that
    // its size agrees with, and is not plainly CBR.
    static bool needsCounting(int fd, const FrameHeader &first);
    // Sample frames of the file at fd as libmpg123 counts them, reading all of it; -1 when it
    // cannot. fd stays open.
    static int64_t countedLength(int fd);
    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    long rate() const { return rate_; }
    int channels() const { return channels_; }
    int frameBytes() const { return channels_ * 2; }
    int64_t totalFrames() const { return totalFrames_; }
    int totalSeconds() const;
    int bitrateKbps() const;

    enum class ReadResult { Ok, Ended };
    // Fills up to `bytes` bytes; `written` says how many. Ended once the file is decoded to the
    // end, or after a run of decode errors the file does not recover from.
    ReadResult read(unsigned char *buffer, std::size_t bytes, std::size_t &written);

    // Positions decoding at a sample frame; false when the decoder refuses. Takes bounded time
    // whatever the file: within reach of the frames seen so far it lands exactly, farther away
    // it jumps by bytes (the Xing table of contents, or the mean frame size).
    bool seek(int64_t frame);

private:
    // The file as libmpg123 reads it: buffered (it reads single bytes while it searches for
    // a frame), with a budget of bytes per decode or seek so that junk costs bounded time.
    struct Source {
        int fd = -1;
        int64_t position = 0;
        int64_t budget = -1; // bytes left to read, -1 for no limit
        std::vector<unsigned char> buffer;
        int64_t bufferStart = 0;
        std::size_t bufferSize = 0;
    };
    explicit Decoder(int fd) { source_.fd = fd; }
    bool start();
    bool findLength(const FrameHeader &first, int64_t countedFrames);

    static mpg123_ssize_t readSource(void *source, void *buffer, size_t bytes);
    static off_t seekSource(void *source, off_t offset, int whence);

    Source source_;
    mpg123_handle *handle_ = nullptr;
    int samplesPerFrame_ = 1152;
    long rate_ = 0;
    int channels_ = 0;
    int64_t totalFrames_ = 0;
    int errorRun_ = 0;
};

} // namespace vbmp3
