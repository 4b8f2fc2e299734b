#include "lengthheader.h"

#include <cmath>
#include <cstring>

namespace vbmp3 {
namespace {

constexpr double kTolerance = 0.04; // ID3v1/APE tags at the end and encoder rounding fit in this
constexpr int kMinKbps = 8;
constexpr int kMaxKbps = 448;
constexpr std::size_t kVbriOffset = 4 + 32; // always right after a 32-byte side information

uint32_t bigEndian32(const unsigned char *p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// The Xing header follows the side information, whose size depends on version and channels.
std::size_t xingOffset(const FrameHeader &header)
{
    if (header.version == 1)
        return 4 + (header.channels == 1 ? 17 : 32);
    return 4 + (header.channels == 1 ? 9 : 17);
}

bool near(double value, double expected)
{
    return std::fabs(value - expected) <= kTolerance * expected;
}

} // namespace

int samplesPerFrame(const FrameHeader &header)
{
    if (header.layer == 1)
        return 384;
    return header.layer == 3 && header.version != 1 ? 576 : 1152;
}

StatedLength readStatedLength(const unsigned char *frame, std::size_t size,
                              const FrameHeader &header)
{
    StatedLength stated;
    if (header.layer != 3)
        return stated;
    const std::size_t xing = xingOffset(header);
    if (size >= xing + 8 &&
        (std::memcmp(frame + xing, "Xing", 4) == 0 || std::memcmp(frame + xing, "Info", 4) == 0)) {
        stated.kind = frame[xing] == 'X' ? StatedLength::Kind::Xing : StatedLength::Kind::Info;
        const uint32_t flags = bigEndian32(frame + xing + 4);
        std::size_t field = xing + 8;
        if ((flags & 1) && size >= field + 4) {
            stated.frames = bigEndian32(frame + field);
            field += 4;
        }
        if ((flags & 2) && size >= field + 4)
            stated.bytes = bigEndian32(frame + field);
        return stated;
    }
    // VBRI: version, delay and quality (2 bytes each), then bytes and frames.
    if (size >= kVbriOffset + 18 && std::memcmp(frame + kVbriOffset, "VBRI", 4) == 0) {
        stated.kind = StatedLength::Kind::Vbri;
        stated.bytes = bigEndian32(frame + kVbriOffset + 10);
        stated.frames = bigEndian32(frame + kVbriOffset + 14);
    }
    return stated;
}

bool statedLengthFits(const StatedLength &stated, const FrameHeader &first, int64_t streamBytes)
{
    if (stated.kind == StatedLength::Kind::None || stated.frames <= 0 || streamBytes <= 0)
        return false;
    if (stated.bytes >= 0 &&
        !near(static_cast<double>(stated.bytes), static_cast<double>(streamBytes)))
        return false;
    const double seconds =
        static_cast<double>(stated.frames) * samplesPerFrame(first) / first.sampleRate;
    const double averageKbps = static_cast<double>(streamBytes) * 8 / seconds / 1000;
    if (averageKbps < kMinKbps * (1 - kTolerance) || averageKbps > kMaxKbps * (1 + kTolerance))
        return false;
    return stated.kind != StatedLength::Kind::Info || near(averageKbps, first.bitrateKbps);
}

} // namespace vbmp3
