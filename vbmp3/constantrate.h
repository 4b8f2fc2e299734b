// The length of a file that states none: from its size when it is plainly of one bit rate
// (CBR), as counting the frames of a large file reads all of it. Only the caller decides to
// count instead.
#pragma once

#include "framecheck.h"

#include <cstdint>

namespace vbmp3 {

// Sample frames of the audio from `first` to the end of the file (trailing ID3v1 and APE tags
// left out) when the stream keeps first's bit rate: its first frames all have it, and so do
// runs of frames found at a quarter, half and three quarters of the way. -1 otherwise: a
// variable rate, or junk where frames should be.
int64_t constantRateLength(int fd, const FrameHeader &first);

} // namespace vbmp3
