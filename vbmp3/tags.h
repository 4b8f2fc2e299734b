// Title and artist of a track: ID3v2 first, then APE, then ID3v1, field by field.
#pragma once

#include <string>

namespace vbmp3 {

struct TrackTags {
    std::string title; // UTF-8
    std::string artist;
    std::string album;
    std::string comment;
    std::string year;
    int genre = -1;
    std::string genreName;
};

// Reads the tags of an MPEG audio file; a file without tags gives empty fields.
TrackTags readTags(const char *path);

} // namespace vbmp3
