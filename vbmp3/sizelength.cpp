#include "sizelength.h"

#include "lengthheader.h"

#include <unistd.h>

#include <cstring>
#include <vector>

namespace vbmp3 {
namespace {

constexpr int kFirstFrames = 32;       // frames in a row from the start
constexpr int kSampledFrames = 8;      // frames in a row at each sampled place
constexpr std::size_t kWindow = 16384; // bytes searched at a sampled place
constexpr int kLongestFrame = 1729;    // MPEG-1 layer II at 384 kbit/s and 32 kHz, padded

bool sameRate(const FrameHeader &a, const FrameHeader &b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate &&
           a.bitrateKbps == b.bitrateKbps;
}

bool readAt(int fd, int64_t offset, std::vector<unsigned char> &buffer)
{
    const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (got < 0)
        return false;
    buffer.resize(static_cast<std::size_t>(got));
    return true;
}

// Frames read in a row: how much audio they hold, and whether all have first's rate.
struct Run {
    int frames = 0;
    int64_t bytes = 0;
    double seconds = 0;
    bool firstRate = true;
};

// Up to `count` frames that follow each other from `pos` in the buffer.
Run runOfFrames(const std::vector<unsigned char> &data, std::size_t pos, int count,
                const FrameHeader &first)
{
    Run run;
    FrameHeader header;
    while (run.frames < count && pos + 4 <= data.size() &&
           parseFrameHeader(data.data() + pos, header)) {
        ++run.frames;
        run.bytes += header.length;
        run.seconds += static_cast<double>(samplesPerFrame(header)) / header.sampleRate;
        run.firstRate = run.firstRate && sameRate(header, first);
        pos += static_cast<std::size_t>(header.length);
    }
    return run;
}

// The first run of kSampledFrames frames that starts in the window at `offset`; no frames
// when there is none.
Run sampleAt(int fd, int64_t offset, const FrameHeader &first)
{
    std::vector<unsigned char> data(kWindow + std::size_t{kSampledFrames} * kLongestFrame);
    if (!readAt(fd, offset, data))
        return {};
    for (std::size_t pos = 0; pos + 4 <= kWindow && pos + 4 <= data.size(); ++pos) {
        if (data[pos] != 0xFF)
            continue;
        const Run run = runOfFrames(data, pos, kSampledFrames, first);
        if (run.frames == kSampledFrames)
            return run;
    }
    return {};
}

// Where the audio ends: before an ID3v1 block and an APE tag at the end of the file.
int64_t audioEnd(int fd, int64_t size)
{
    unsigned char tail[160];
    if (size < static_cast<int64_t>(sizeof tail) ||
        ::pread(fd, tail, sizeof tail, static_cast<off_t>(size - 160)) != sizeof tail)
        return size;
    int64_t end = size;
    const unsigned char *footer = tail + 128;
    if (std::memcmp(tail + 32, "TAG", 3) == 0) {
        end -= 128;
        footer = tail;
    }
    if (std::memcmp(footer, "APETAGEX", 8) == 0) {
        // The size counts the items and the footer; a header of 32 bytes may lead them.
        const uint32_t tagSize = footer[12] | (uint32_t{footer[13]} << 8) |
                                 (uint32_t{footer[14]} << 16) | (uint32_t{footer[15]} << 24);
        end -= static_cast<int64_t>(tagSize) + ((footer[23] & 0x80) != 0 ? 32 : 0);
    }
    return end;
}

} // namespace

SizeLength lengthFromSize(int fd, const FrameHeader &first)
{
    const int64_t end = audioEnd(fd, fileSize(fd));
    const int64_t bytes = end - first.offset;
    std::vector<unsigned char> head(static_cast<std::size_t>(kFirstFrames * (first.length + 1)));
    if (bytes <= 0 || !readAt(fd, first.offset, head))
        return {};
    const Run start = runOfFrames(head, 0, kFirstFrames, first);
    // A file shorter than the run is never taken as CBR: its few frames are all there is.
    bool constant = start.frames == kFirstFrames && start.firstRate;
    // Each place stands for a quarter of the bytes, so each weighs the same in the mean,
    // however many frames were read there (a loud first frame must not outweigh the rest).
    double secondsPerByte = 0;
    int places = 0;
    for (const int quarter : {0, 1, 2, 3}) {
        const Run run =
            quarter == 0 ? start : sampleAt(fd, first.offset + bytes * quarter / 4, first);
        constant = constant && run.frames > 0 && run.firstRate;
        if (run.bytes > 0) {
            secondsPerByte += run.seconds / static_cast<double>(run.bytes);
            ++places;
        }
    }
    if (places == 0)
        return {};
    const double seconds = constant ? static_cast<double>(bytes) * 8 / (first.bitrateKbps * 1000.0)
                                    : static_cast<double>(bytes) * secondsPerByte / places;
    return {constant, static_cast<int64_t>(seconds * first.sampleRate + 0.5)};
}

} // namespace vbmp3
