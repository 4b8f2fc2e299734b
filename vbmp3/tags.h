// Title and artist of a track: ID3v2 first, then APE, then ID3v1, field by field.
#pragma once

#include <string>

namespace vbmp3 {

// Only what the player shows; the rest of a tag is never read.
struct TrackTags {
    std::string title; // UTF-8
    std::string artist;
};

// Reads the tags of an MPEG audio file open as fd by position-independent reads; fd stays
// open. Only the frames and items that matter are read, so a tag of any size or frame count
// takes little time. A file without tags gives empty fields.
TrackTags readTags(int fd);

} // namespace vbmp3
