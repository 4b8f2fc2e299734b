#include "sjis.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vbmp3 {
namespace {

bool isLead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
bool isTrail(unsigned char c)
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}
bool isHalfWidthKana(unsigned char c)
{
    return c >= 0xA1 && c <= 0xDF;
}

std::string latin1ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// iconv descriptors are not thread-safe; tags are read on the caller's thread and in tests
// from several, so one shared descriptor is guarded.
std::string shiftJisToUtf8(std::string_view bytes, bool &ok)
{
    static std::mutex mutex;
    static iconv_t cd = iconv_open("UTF-8", "CP932");
    std::lock_guard lock(mutex);
    ok = false;
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string in(bytes);
    std::string out(bytes.size() * 3 + 4, '\0');
    char *inPtr = in.data();
    char *outPtr = out.data();
    size_t inLeft = in.size();
    size_t outLeft = out.size();
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1))
        return {};
    out.resize(out.size() - outLeft);
    ok = true;
    return out;
}

} // namespace

bool looksLikeShiftJis(std::string_view bytes)
{
    bool doubleByte = false;
    int kanaRun = 0;
    int longestKanaRun = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (isLead(c)) {
            if (i + 1 >= bytes.size() || !isTrail(static_cast<unsigned char>(bytes[i + 1])))
                return false;
            doubleByte = true;
            kanaRun = 0;
            ++i;
        } else if (isHalfWidthKana(c)) {
            longestKanaRun = std::max(longestKanaRun, ++kanaRun);
        } else if (c >= 0x80) {
            return false; // 0x80, 0xA0, 0xFD-0xFF stand alone nowhere in Shift_JIS
        } else {
            kanaRun = 0;
        }
    }
    return doubleByte || longestKanaRun >= 3;
}

std::string eightBitToUtf8(std::string_view bytes)
{
    if (looksLikeShiftJis(bytes)) {
        bool ok = false;
        std::string text = shiftJisToUtf8(bytes, ok);
        if (ok)
            return text;
    }
    return latin1ToUtf8(bytes);
}

void copyUtf8Field(char *field, std::size_t size, std::string_view utf8)
{
    if (size == 0)
        return;
    size_t length = std::min(utf8.size(), size - 1);
    if (length < utf8.size()) {
        // Step back over continuation bytes to the start of the character that was cut.
        while (length > 0 && (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80)
            --length;
    }
    std::memcpy(field, utf8.data(), length);
    std::memset(field + length, 0, size - length);
}

} // namespace vbmp3
