// The wire's text encoding. The server speaks the code page a Japanese Windows would,
// windows-31j (Shift_JIS with Microsoft's extensions); browsers detect it on pages that
// declare no character set, which they do not do for UTF-8.
//
// Characters it cannot hold go out as HTML numeric references ("&#128512;"), so a title in
// any script still reaches the browser instead of turning into "?". AnsiByteLen counts exactly
// the bytes AnsiEncode produces, references included.
//
// Safe to call from any thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

QByteArray AnsiEncode(const QString &text);
// Bytes that are not valid windows-31j become U+001A, one per bad byte, as the code page's
// own converter does.
QString AnsiDecode(const QByteArray &bytes);
int32_t AnsiByteLen(const QString &text);
