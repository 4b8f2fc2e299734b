// The length a file states about itself in its first frame: a Xing or Info header (written by
// LAME and most encoders) or a VBRI header (Fraunhofer's encoders, which libmpg123 does not
// read). A hostile or cut file states whatever it likes, so the stated length is only believed
// when the file's size agrees with it.
#pragma once

#include "framecheck.h"

#include <cstddef>
#include <cstdint>

namespace vbmp3 {

struct StatedLength {
    enum class Kind { None, Xing, Info, Vbri };
    Kind kind = Kind::None;
    int64_t frames = -1; // MPEG frames of audio, -1 when not stated
    int64_t bytes = -1;  // bytes of the audio stream, -1 when not stated
};

// Reads the header at its exact place in the first frame (`frame` holds `size` bytes of it,
// starting at the frame header). Text that merely contains "Info" elsewhere is no header.
StatedLength readStatedLength(const unsigned char *frame, std::size_t size,
                              const FrameHeader &header);

// Sample frames per MPEG frame of that version and layer.
int samplesPerFrame(const FrameHeader &header);

// Whether the stated length fits a stream of `streamBytes` bytes (from the first frame to the
// end of the file): the stated byte count within a few percent of it, an average bit rate that
// MPEG audio can have, and for a constant bit rate ("Info") the first frame's bit rate.
bool statedLengthFits(const StatedLength &stated, const FrameHeader &first, int64_t streamBytes);

} // namespace vbmp3
