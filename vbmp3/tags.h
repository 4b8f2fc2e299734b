// Title and artist of a track: ID3v2 first, then APE, then ID3v1, field by field.
#pragma once

#include <string>

namespace vbmp3 {

// Only what the player shows; the rest of a tag is never read.
struct TrackTags {
    std::string title; // UTF-8
    std::string artist;
};

// Reads the tags of an MPEG audio file open as fd, and closes fd (TagLib takes it over, which
// spares a second open of the file). A file without tags gives empty fields.
TrackTags readTags(int fd);

} // namespace vbmp3
