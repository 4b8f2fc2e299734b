#include "framecheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vbmp3 {
namespace {

constexpr int kChainLength = 4;              // frames that must line up
constexpr std::size_t kSearchWindow = 65536; // bytes searched for the first frame
constexpr std::size_t kFirstRead = 4096;     // four frames of any common bit rate

constexpr int kBitrates[2][3][16] = {
    // MPEG-1: layer I, II, III
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1}},
    // MPEG-2 and 2.5
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1}},
};
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

bool sameStream(const FrameHeader &a, const FrameHeader &b)
{
    return a.version == b.version && a.layer == b.layer && a.sampleRate == b.sampleRate;
}

bool tagStartsAt(const unsigned char *p, std::size_t available)
{
    auto starts = [&](const char *magic) {
        const std::size_t n = std::strlen(magic);
        return available >= n && std::memcmp(p, magic, n) == 0;
    };
    return starts("TAG") || starts("APETAGEX") || starts("LYRICSBEGIN");
}

// Follows frames from `start`; Audio when enough of them line up, or when a shorter chain runs
// exactly into the end of the file or into a trailing tag (a very short track).
ProbeResult followChain(const unsigned char *data, std::size_t size, bool atEnd, std::size_t start,
                        FrameHeader &first)
{
    FrameHeader header;
    if (!parseFrameHeader(data + start, header))
        return ProbeResult::NotAudio;
    first = header;
    first.offset = static_cast<int64_t>(start);
    std::size_t pos = start + static_cast<std::size_t>(header.length);
    for (int count = 1; count < kChainLength; ++count) {
        if (pos + 4 > size) {
            if (!atEnd)
                return ProbeResult::NeedMoreData;
            return pos == size && count >= 2 ? ProbeResult::Audio : ProbeResult::NotAudio;
        }
        FrameHeader next;
        if (!parseFrameHeader(data + pos, next) || !sameStream(first, next))
            return count >= 2 && atEnd && tagStartsAt(data + pos, size - pos)
                       ? ProbeResult::Audio
                       : ProbeResult::NotAudio;
        pos += static_cast<std::size_t>(next.length);
    }
    return ProbeResult::Audio;
}

} // namespace

bool parseFrameHeader(const unsigned char *p, FrameHeader &header)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3 || (p[3] & 3) == 2)
        return false;
    header.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    header.layer = 4 - layerBits;
    const int family = header.version == 1 ? 0 : 1;
    header.bitrateKbps = kBitrates[family][header.layer - 1][bitrateIndex];
    header.sampleRate = kSampleRates[header.version == 1   ? 0
                                     : header.version == 2 ? 1
                                                           : 2][rateIndex];
    header.channels = (p[3] >> 6) == 3 ? 1 : 2;
    const int padding = (p[2] >> 1) & 1;
    const int bits = header.bitrateKbps * 1000;
    if (header.layer == 1)
        header.length = (12 * bits / header.sampleRate + padding) * 4;
    else if (header.layer == 3 && header.version != 1)
        header.length = 72 * bits / header.sampleRate + padding;
    else
        header.length = 144 * bits / header.sampleRate + padding;
    return header.length > 4;
}

std::size_t id3v2Size(const unsigned char *p, std::size_t available)
{
    if (available < 10 || std::memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF)
        return 0;
    std::size_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (p[i] & 0x80)
            return 0;
        size = (size << 7) | p[i];
    }
    const bool footer = (p[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

ProbeResult findFrameChain(const unsigned char *data, std::size_t size, bool atEnd,
                           FrameHeader &first)
{
    const std::size_t limit = std::min(size, kSearchWindow);
    for (std::size_t pos = 0; pos + 4 <= limit; ++pos) {
        if (data[pos] != 0xFF)
            continue;
        const ProbeResult result = followChain(data, size, atEnd, pos, first);
        if (result != ProbeResult::NotAudio)
            return result;
    }
    return atEnd || size >= kSearchWindow ? ProbeResult::NotAudio : ProbeResult::NeedMoreData;
}

int openRegularFile(const char *path)
{
    // Checked before opening: opening a FIFO releases a writer waiting on it, and opening a
    // device can have effects of its own (a modem line hangs up, a tape rewinds).
    struct stat named {};
    if (::stat(path, &named) != 0 || !S_ISREG(named.st_mode) || named.st_size <= 0)
        return -1;
    // Non-blocking and never a controlling terminal, in case the name was swapped meanwhile;
    // what was opened must be the very file that was checked.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_size <= 0 ||
        opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int64_t fileSize(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<int64_t>(st.st_size) : 0;
}

bool probeMpegFile(int fd, FrameHeader &first)
{
    const auto fileSize = static_cast<std::size_t>(vbmp3::fileSize(fd));
    if (fileSize == 0)
        return false;
    // Skip ID3v2 tags (some files carry more than one) without reading their bodies.
    std::size_t offset = 0;
    unsigned char head[10];
    for (int tags = 0; tags < 4; ++tags) {
        if (::pread(fd, head, sizeof head, static_cast<off_t>(offset)) != sizeof head)
            break;
        const std::size_t skip = id3v2Size(head, sizeof head);
        if (skip == 0)
            break;
        offset += skip;
    }
    // Most files are decided by the first small read; only junk before the first frame needs
    // the larger one.
    unsigned char small[kFirstRead];
    std::vector<unsigned char> large;
    unsigned char *buffer = small;
    std::size_t want = kFirstRead;
    while (offset < fileSize) {
        want = std::min(want, fileSize - offset);
        if (want > kFirstRead) {
            large.resize(want);
            buffer = large.data();
        }
        const ssize_t got = ::pread(fd, buffer, want, static_cast<off_t>(offset));
        if (got <= 0)
            return false;
        const auto size = static_cast<std::size_t>(got);
        const bool atEnd = offset + size >= fileSize;
        const ProbeResult result = findFrameChain(buffer, size, atEnd, first);
        if (result != ProbeResult::NeedMoreData) {
            first.offset += static_cast<int64_t>(offset);
            return result == ProbeResult::Audio;
        }
        if (atEnd || want >= kSearchWindow + 8192)
            return false;
        want = kSearchWindow + 8192; // room for the window plus a chain of large frames
    }
    return false;
}

} // namespace vbmp3
