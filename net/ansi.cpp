#include "ansi.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <limits>
#include <optional>

namespace {

constexpr const char *CodePage = "windows-31j";

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// A converter keeps a trailing high surrogate back, waiting for its pair, and reports nothing.
bool hasLoneSurrogate(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return true;
    }
    return false;
}

void appendReference(QByteArray &out, char32_t codePoint)
{
    out += "&#";
    out += QByteArray::number(static_cast<uint>(codePoint));
    out += ';';
}

// One converter per thread, reused while it succeeds: opening one costs more than converting a
// title. A converter that met a character it cannot hold stays failed, so it is replaced then.
QByteArray encodeWhole(QStringView text, bool &ok)
{
    // Made in place, never moved: the converter reports failures into the encoder's own state.
    thread_local std::optional<QStringEncoder> encoder;
    if (hasLoneSurrogate(text)) {
        ok = false;
        return {};
    }
    if (!encoder)
        encoder.emplace(CodePage);
    QByteArray out = encoder->encode(text);
    ok = !encoder->hasError();
    if (!ok)
        encoder.reset();
    return out;
}

// Encodes text of which some character may be missing from the code page, one code point at a
// time, putting references in the places of the missing ones.
void appendByCodePoint(QByteArray &out, QStringView text)
{
    for (qsizetype i = 0; i < text.size();) {
        char32_t codePoint = text[i].unicode();
        qsizetype units = 1;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text[i], text[i + 1]);
            units = 2;
        } else if (text[i].isSurrogate()) {
            codePoint = QChar::ReplacementCharacter; // half a pair names no character
        }
        bool ok = false;
        const QByteArray one = codePoint < 0x80 || codePoint == QChar::ReplacementCharacter
                                   ? QByteArray()
                                   : encodeWhole(text.mid(i, units), ok);
        if (codePoint < 0x80)
            out += static_cast<char>(codePoint);
        else if (ok)
            out += one;
        else
            appendReference(out, codePoint);
        i += units;
    }
}

} // namespace

QByteArray AnsiEncode(const QString &text)
{
    bool ok = false;
    QByteArray out = encodeWhole(text, ok);
    if (ok)
        return out;
    out.clear();
    out.reserve(text.size() * 2);
    appendByCodePoint(out, text);
    return out;
}

QString AnsiDecode(const QByteArray &bytes)
{
    QStringDecoder decoder(CodePage);
    return decoder.decode(bytes);
}

int32_t AnsiByteLen(const QString &text)
{
    const qsizetype bytes = isAscii(text) ? text.size() : AnsiEncode(text).size();
    return static_cast<int32_t>(qMin<qsizetype>(bytes, std::numeric_limits<int32_t>::max()));
}
