#include "pages.h"

#include "control/playercontrol.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

void AppendHtmlEscaped(QString &out, const QString &text)
{
    qsizetype plainFrom = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QStringView entity;
        switch (text[i].unicode()) {
        case u'&':
            entity = u"&amp;";
            break;
        case u'<':
            entity = u"&lt;";
            break;
        case u'>':
            entity = u"&gt;";
            break;
        case u'"':
            entity = u"&quot;";
            break;
        default:
            continue;
        }
        out += QStringView(text).mid(plainFrom, i - plainFrom);
        out += entity;
        plainFrom = i + 1;
    }
    out += QStringView(text).mid(plainFrom);
}

QString HtmlEscape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    AppendHtmlEscaped(out, text);
    return out;
}

QString BuildOkResponse(const QString &body)
{
    return u"HTTP/1.0 200 OK\r\n"
           "Server: kelpa/0.01\r\n"
           "Content-length: "_s +
           QString::number(AnsiByteLen(body)) +
           u"\r\n"
           "Content-type: text/html\r\n"
           "\r\n"_s +
           body;
}

QString BuildNotFoundResponse()
{
    // The body names HTTP/1.1 while the status line says 1.0, and the type line is spelled
    // differently from the 200 response's: browsers and old clients have seen these bytes.
    static const QString body =
        u"<html><head><title>HTTP/1.1 404 Not found</title></head><body>HTTP/1.1 404 Not found"
        "<br><br><a href=\"/\">Home</a></body></html>"_s;
    return u"HTTP/1.0 404 Not found\r\n"
           "Server: kelpa/0.01\r\n"
           "Content-length: "_s +
           QString::number(AnsiByteLen(body)) +
           u"\r\n"
           "Content-Type: text/html\r\n"
           "\r\n"_s +
           body;
}

QString LoginPage()
{
    return u"<html><head><title>kelpa login</title></head><body><center><form method=\"GET\" "
           "action=\"l.cgi\">kelpa<br><br>ID : <input name=\"id\" size=10 maxlength=10 type=text>"
           "<br><input type=\"submit\" value=\"login\"></form></center><div align=right><h6>"
           "<a href=\""_s +
           QString::fromUtf16(HomePageUrl) + u"\">about kelpa</a></h6></div></body></html>"_s;
}

QString WelcomePage(int16_t loginNumber)
{
    return u"<html><head><title>welcome to kelpa</title></head><body><center>welcome to kelpa"
           "<br><a href=\"/"_s +
           QString::number(loginNumber) + u"/\">enter</a></center></body></html>"_s;
}

QString LoginErrorPage()
{
    return u"<html><head><title>kelpa error</title></head><body><center>login error<br><br>"
           "<a href=\"index.htm\">top</a></center></body></html>"_s;
}

namespace ControlPage {

// A transport button: a link relative to the page, which the route runs as that command.
QString transportLink(kelpa::Transport command, const QString &label)
{
    return u"<a href=\""_s + QString::number(int(command)) + u"\">"_s + label + u"</a>"_s;
}

QString head(const QString &caption)
{
    using kelpa::Transport;
    return u"<html><head><title>"_s + HtmlEscape(caption) +
           u"</title><META HTTP-EQUIV=\"Pragma\" CONTENT=\"no-cache\"></head><body><center>kelpa"
           "<br>"_s +
           transportLink(Transport::Previous, u"|&lt;"_s) + u' ' +
           transportLink(Transport::Play, u"&gt;"_s) + u' ' +
           transportLink(Transport::Pause, u"||"_s) + u' ' +
           transportLink(Transport::Stop, u"□"_s) + u' ' +
           transportLink(Transport::Next, u"&gt;|"_s) + u"<br>"_s;
}

void appendEntry(QString &body, int index, const QString &displayText)
{
    // The link before the text is put together on the stack and appended at once: a playlist
    // of 32,767 entries then costs three appends per entry and no temporary strings.
    char16_t digits[12];
    qsizetype length = 0;
    for (unsigned rest = static_cast<unsigned>(index); length == 0 || rest > 0; rest /= 10)
        digits[length++] = static_cast<char16_t>(u'0' + rest % 10);
    std::reverse(digits, digits + length);
    const QStringView number(digits, length);

    char16_t link[64];
    qsizetype used = 0;
    const auto put = [&](QStringView piece) {
        for (QChar c : piece)
            link[used++] = c.unicode();
    };
    put(u"<br><a href=\"p");
    put(number);
    put(u"#");
    put(number);
    put(u"\" name=\"");
    put(number);
    put(u"\">");
    body += QStringView(link, used);
    AppendHtmlEscaped(body, displayText);
    body += u"</a>";
}

QString entry(int index, const QString &displayText)
{
    QString text;
    appendEntry(text, index, displayText);
    return text;
}

} // namespace ControlPage
