// Text conversions for tag fields: the encodings tags store their text in (UTF-16, UTF-8, and
// eight-bit text that Japanese taggers wrote in Shift_JIS) to UTF-8, and UTF-8 copied into the
// engine's fixed-size record fields. Every function may run on several threads at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vbmp3 {

// True when the bytes form valid Shift_JIS that is not better read as Latin-1: at least one
// double-byte character, or a run of three or more half-width katakana. A lead byte alone at
// the very end (a fixed-size field cut in the middle of a character) does not count against it.
bool looksLikeShiftJis(std::string_view bytes);

// Eight-bit tag text (ID3v1, ID3v2 "ISO-8859-1" frames) to UTF-8: Shift_JIS when it looks like
// it, without a character cut at the end, Latin-1 otherwise.
std::string eightBitToUtf8(std::string_view bytes);

// ID3v2 UTF-16 text: led by a byte order mark (big-endian when it lacks one), or big-endian
// without a mark. A unit that is no character becomes U+FFFD; an odd last byte is dropped.
std::string utf16ToUtf8(std::string_view bytes, bool byteOrderMark);

// UTF-8 as a tag stores it, made valid: each byte that starts no valid character becomes
// U+FFFD, and a character cut at the end is dropped.
std::string validUtf8(std::string_view bytes);

// Copies UTF-8 text into a record field of `size` bytes, cut at a character boundary so that
// the field always ends with a NUL and never with half a character.
void copyUtf8Field(char *field, std::size_t size, std::string_view utf8);

} // namespace vbmp3
