#include "tagtext.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>

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

// One iconv descriptor to UTF-8 per source encoding, shared by every thread: opening one
// costs more than converting a field, and a descriptor carries state, so each is used under
// its own lock.
class ToUtf8 {
public:
    explicit ToUtf8(const char *from) : cd_(iconv_open("UTF-8", from)) {}
    ~ToUtf8()
    {
        if (cd_ != kNone)
            iconv_close(cd_);
    }
    ToUtf8(const ToUtf8 &) = delete;
    ToUtf8 &operator=(const ToUtf8 &) = delete;

    // The text without a character cut at its end. What is no character fails the whole
    // conversion, or with `replace` becomes U+FFFD, one input unit of `unit` bytes at a time.
    std::optional<std::string> operator()(std::string_view bytes, std::size_t unit, bool replace)
    {
        std::lock_guard lock(mutex_);
        if (cd_ == kNone)
            return std::nullopt;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string in(bytes);
        // Every input unit gives at most three bytes: a character of the BMP, or U+FFFD.
        std::string out(bytes.size() * 3 + 4, '\0');
        char *inPtr = in.data();
        char *outPtr = out.data();
        std::size_t inLeft = in.size();
        std::size_t outLeft = out.size();
        while (inLeft > 0 &&
               iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            if (errno == EINVAL)
                break; // a character cut at the end
            if (errno != EILSEQ || !replace || outLeft < kReplacement.size())
                return std::nullopt;
            const std::size_t skip = std::min(unit, inLeft);
            inPtr += skip;
            inLeft -= skip;
            std::memcpy(outPtr, kReplacement.data(), kReplacement.size());
            outPtr += kReplacement.size();
            outLeft -= kReplacement.size();
        }
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    iconv_t cd_;
    std::mutex mutex_;
};

} // namespace

bool looksLikeShiftJis(std::string_view bytes)
{
    bool doubleByte = false;
    int kanaRun = 0;
    int longestKanaRun = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (isLead(c)) {
            if (i + 1 == bytes.size())
                break; // cut in the middle of a character: decoded without it
            if (!isTrail(static_cast<unsigned char>(bytes[i + 1])))
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
    static ToUtf8 shiftJis("CP932");
    if (looksLikeShiftJis(bytes)) {
        if (std::optional<std::string> text = shiftJis(bytes, 1, false))
            return *std::move(text);
    }
    return latin1ToUtf8(bytes);
}

std::string utf16ToUtf8(std::string_view bytes, bool byteOrderMark)
{
    // The mark is read here: iconv's own "UTF-16" keeps the byte order it found first across
    // resets, and each value of a frame has a mark of its own.
    static ToUtf8 littleEndian("UTF-16LE");
    static ToUtf8 bigEndian("UTF-16BE");
    bool little = false;
    if (byteOrderMark && bytes.size() >= 2) {
        const std::string_view mark = bytes.substr(0, 2);
        little = mark == "\xFF\xFE";
        if (little || mark == "\xFE\xFF")
            bytes.remove_prefix(2);
    }
    return (little ? littleEndian : bigEndian)(bytes, 2, true).value_or(std::string());
}

std::string validUtf8(std::string_view bytes)
{
    static ToUtf8 utf8("UTF-8");
    return utf8(bytes, 1, true).value_or(std::string());
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
