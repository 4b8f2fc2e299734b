// Title and artist of a track: ID3v2 first, then APE, then ID3v1, field by field; and the
// picture of its ID3v2 tag.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

// The picture of the ID3v2 tag (an APIC frame, PIC in ID3v2.2) that holds JPEG or PNG data,
// known by its first bytes, of at most `limit` bytes: the front cover where there are several,
// else the first. Within the same bounds as the tags: only the tag's first 12 MiB are read.
// Empty when there is none.
std::vector<unsigned char> readPicture(int fd, std::size_t limit);

} // namespace vbmp3
