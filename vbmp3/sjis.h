// Text conversions for tag fields: eight-bit tag text that Japanese taggers wrote in
// Shift_JIS, and UTF-8 copied into the engine's fixed-size record fields.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vbmp3 {

// True when the bytes form valid Shift_JIS that is not better read as Latin-1: at least one
// double-byte character, or a run of three or more half-width katakana.
bool looksLikeShiftJis(std::string_view bytes);

// Eight-bit tag text (ID3v1, ID3v2 "ISO-8859-1" frames) to UTF-8: Shift_JIS when it looks like
// it, Latin-1 otherwise.
std::string eightBitToUtf8(std::string_view bytes);

// Copies UTF-8 text into a record field of `size` bytes, cut at a character boundary so that
// the field always ends with a NUL and never with half a character.
void copyUtf8Field(char *field, std::size_t size, std::string_view utf8);

} // namespace vbmp3
