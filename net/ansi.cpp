#include "ansi.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <limits>

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

// Encodes a run of characters of which at least one is not ASCII. The whole run goes through
// the converter at once; only when it reports a character it cannot hold is the run taken
// apart, one code point at a time, to put references in their places.
void appendRun(QByteArray &out, QStringView run)
{
    if (!hasLoneSurrogate(run)) {
        QStringEncoder enc(CodePage);
        const QByteArray whole = enc.encode(run);
        if (!enc.hasError()) {
            out += whole;
            return;
        }
    }
    for (qsizetype i = 0; i < run.size();) {
        char32_t codePoint = run[i].unicode();
        qsizetype units = 1;
        if (run[i].isHighSurrogate() && i + 1 < run.size() && run[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(run[i], run[i + 1]);
            units = 2;
        } else if (run[i].isSurrogate()) {
            codePoint = QChar::ReplacementCharacter; // half a pair names no character
        }
        if (codePoint < 0x80) {
            out += static_cast<char>(codePoint);
        } else {
            QStringEncoder enc(CodePage); // a converter that failed once stays failed
            const QByteArray one = enc.encode(run.mid(i, units));
            if (enc.hasError() || codePoint == QChar::ReplacementCharacter)
                appendReference(out, codePoint);
            else
                out += one;
        }
        i += units;
    }
}

} // namespace

QByteArray AnsiEncode(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    const QStringView view(text);
    qsizetype runStart = -1; // start of the current run of text holding non-ASCII characters
    for (qsizetype i = 0; i < view.size(); ++i) {
        const char16_t unit = view[i].unicode();
        if (unit < 0x80) {
            if (runStart >= 0) {
                appendRun(out, view.mid(runStart, i - runStart));
                runStart = -1;
            }
            out += static_cast<char>(unit);
        } else if (runStart < 0) {
            runStart = i;
        }
    }
    if (runStart >= 0)
        appendRun(out, view.mid(runStart));
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
