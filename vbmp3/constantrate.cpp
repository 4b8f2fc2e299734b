#include "constantrate.h"

#include <unistd.h>

#include <cstring>
#include <vector>

namespace vbmp3 {
namespace {

constexpr int kFirstFrames = 32;       // frames in a row from the start
constexpr int kSampledFrames = 8;      // frames in a row at each sampled place
constexpr std::size_t kWindow = 16384; // bytes searched at a sampled place

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

// Whether `count` frames of first's rate follow each other from `pos` in the buffer.
bool runOfFrames(const std::vector<unsigned char> &data, std::size_t pos, int count,
                 const FrameHeader &first)
{
    for (int i = 0; i < count; ++i) {
        FrameHeader header;
        if (pos + 4 > data.size() || !parseFrameHeader(data.data() + pos, header) ||
            !sameRate(header, first))
            return false;
        pos += static_cast<std::size_t>(header.length);
    }
    return true;
}

// Whether the first run of frames that starts in the window at `offset` has first's rate.
bool sampleHasRate(int fd, int64_t offset, const FrameHeader &first)
{
    std::vector<unsigned char> data(kWindow + kSampledFrames * (first.length + 1));
    if (!readAt(fd, offset, data))
        return false;
    for (std::size_t pos = 0; pos + 4 <= kWindow && pos + 4 <= data.size(); ++pos) {
        FrameHeader header;
        if (data[pos] != 0xFF || !parseFrameHeader(data.data() + pos, header))
            continue;
        if (runOfFrames(data, pos, kSampledFrames, header))
            return sameRate(header, first);
    }
    return false;
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

int64_t constantRateLength(int fd, const FrameHeader &first)
{
    const int64_t size = fileSize(fd);
    const int64_t end = audioEnd(fd, size);
    const int64_t bytes = end - first.offset;
    std::vector<unsigned char> head(static_cast<std::size_t>(kFirstFrames * (first.length + 1)));
    if (bytes <= 0 || !readAt(fd, first.offset, head))
        return -1;
    // A file shorter than the run is counted, which costs nothing.
    if (head.size() < static_cast<std::size_t>(kFirstFrames) * first.length ||
        !runOfFrames(head, 0, kFirstFrames, first))
        return -1;
    for (const int quarter : {1, 2, 3}) {
        if (!sampleHasRate(fd, first.offset + bytes * quarter / 4, first))
            return -1;
    }
    const double seconds = static_cast<double>(bytes) * 8 / (first.bitrateKbps * 1000.0);
    return static_cast<int64_t>(seconds * first.sampleRate + 0.5);
}

} // namespace vbmp3
