// One open MP3 file decoded to signed 16-bit interleaved samples by libmpg123.
#pragma once

#include <mpg123.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vbmp3 {

class Decoder
{
public:
    // Opens a file that passed the frame check; nullptr when libmpg123 cannot decode it. The
    // length is exact: from the Xing/Info/VBRI header when there is one, else from a scan.
    static std::unique_ptr<Decoder> open(const char *path, bool lengthHeader);

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

    // Positions decoding at a sample frame; false when the decoder refuses.
    bool seek(int64_t frame);

private:
    struct HandleDeleter {
        void operator()(mpg123_handle *h) const;
    };
    explicit Decoder(mpg123_handle *handle) : handle_(handle) {}

    std::unique_ptr<mpg123_handle, HandleDeleter> handle_;
    long rate_ = 0;
    int channels_ = 0;
    int64_t totalFrames_ = 0;
    int errorRun_ = 0;
};

} // namespace vbmp3
