// What the server puts on the wire: the 200 and 404 responses and the five pages. Pages are
// built as text; the socket layer encodes them (net/ansi.h), and every length here is counted
// in those bytes with AnsiByteLen.
//
// Texts that come from outside (the player's caption, which holds a track title, and the
// playlist's display strings) are HTML-escaped before they go into a page: a tag written into
// a title must show as text, not run in the browser.
#pragma once

#include "about/homepage.h"
#include "net/ansi.h"

#include <QString>

#include <cstdint>

// & < > " as entity references, so the text can stand in element content and in quoted
// attribute values alike.
QString HtmlEscape(const QString &text);
void AppendHtmlEscaped(QString &out, const QString &text);

// The 200 header block with the body's byte count, followed by the body.
QString BuildOkResponse(const QString &body);
// The complete 404 response.
QString BuildNotFoundResponse();

QString LoginPage();
// Leads to the control page of the given login number, at "/" + number + "/".
QString WelcomePage(int16_t loginNumber);
QString LoginErrorPage();

// The control page body: the title, the five transport links, then a link per playlist entry
// (itemAt(i) gives the display string of entry i) while the body stays below limit bytes, or
// every entry when limit is -1. Entry i links to "p<i>#<i>" and is anchor <i>.
//
// The body's byte count is kept as a running sum, each piece encoded once, so a long playlist
// costs time in proportion to its length.
template <typename ItemAt>
QString BuildControlPage(const QString &caption, int count, ItemAt itemAt, int32_t limit);

// The parts of the control page, for BuildControlPage.
namespace ControlPage {
QString head(const QString &caption);
QString entry(int index, const QString &displayText);
void appendEntry(QString &body, int index, const QString &displayText);
inline constexpr char16_t Tail[] = u"</center></body></html>";
} // namespace ControlPage

template <typename ItemAt>
QString BuildControlPage(const QString &caption, int count, ItemAt itemAt, int32_t limit)
{
    QString body = ControlPage::head(caption);
    if (limit == -1) {
        body.reserve(body.size() + qsizetype{count} * 64);
        for (int i = 0; i < count; ++i)
            ControlPage::appendEntry(body, i, itemAt(i));
    } else {
        const int64_t tailBytes = AnsiByteLen(QString::fromUtf16(ControlPage::Tail));
        int64_t bodyBytes = AnsiByteLen(body);
        for (int i = 0; i < count; ++i) {
            const QString entry = ControlPage::entry(i, itemAt(i));
            const int64_t entryBytes = AnsiByteLen(entry);
            if (bodyBytes + entryBytes + tailBytes >= limit)
                break; // later entries are not tried, even shorter ones
            body += entry;
            bodyBytes += entryBytes;
        }
    }
    body += ControlPage::Tail;
    return body;
}
