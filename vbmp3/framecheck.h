// Decides whether a file really holds MPEG audio. A decoder that resyncs through junk would
// "play" a text file whose lines start with frame-sync bytes; here a file counts as audio only
// when several frame headers follow each other exactly where each previous frame's length puts
// them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vbmp3 {

struct FrameHeader {
    int version = 0; // 1 = MPEG-1, 2 = MPEG-2, 25 = MPEG-2.5
    int layer = 0;
    int bitrateKbps = 0;
    int sampleRate = 0;
    int channels = 0;
    int length = 0;     // bytes, header included
    int64_t offset = 0; // where the frame starts: in the data given, or in the file once probed
};

// Parses the four bytes at p as a frame header; false for anything that cannot start a frame
// (no sync, reserved values, free format).
bool parseFrameHeader(const unsigned char *p, FrameHeader &header);

// Size of an ID3v2 tag (footer included) starting at p, or 0 when none starts there.
std::size_t id3v2Size(const unsigned char *p, std::size_t available);

enum class ProbeResult { Audio, NotAudio, NeedMoreData };

// Looks for a chain of consecutive frames in data, which starts at the file's first byte after
// any ID3v2 tags; `atEnd` says that data reaches the end of the file.
ProbeResult findFrameChain(const unsigned char *data, std::size_t size, bool atEnd,
                           FrameHeader &first);

// Opens a file for reading when it is a regular, non-empty file; -1 otherwise. FIFOs, devices
// and folders are refused by name before anything is opened, and a name swapped between the
// check and the open is refused too. Everything the engine does with a file goes through this
// one descriptor, so what was checked is what is read.
int openRegularFile(const char *path);

// Probes an open file by position-independent reads; the descriptor stays open.
bool probeMpegFile(int fd, FrameHeader &first);

// The file's size in bytes, 0 when unknown.
int64_t fileSize(int fd);

} // namespace vbmp3
