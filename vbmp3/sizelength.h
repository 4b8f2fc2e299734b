// The length of a file that states none, from its size and a few small reads: exact when it is
// plainly of one bit rate (CBR), an estimate otherwise, as counting the frames of a large file
// reads all of it. Only the caller decides to count instead.
#pragma once

#include "framecheck.h"

#include <cstdint>

namespace vbmp3 {

struct SizeLength {
    bool constantRate = false; // frames is exact
    int64_t frames = -1;       // sample frames of the audio; -1 when no frame could be read
};

// Sample frames of the audio from `first` to the end of the file (trailing ID3v1 and APE tags
// left out). Its first frames and runs of frames found at a quarter, half and three quarters of
// the way are read: when they all have first's bit rate the stream is taken as CBR and the
// size gives its length exactly; otherwise (a variable rate, or junk where frames should be)
// the size over the mean bit rate of the frames read estimates it.
SizeLength lengthFromSize(int fd, const FrameHeader &first);

} // namespace vbmp3
