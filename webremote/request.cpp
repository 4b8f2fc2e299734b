#include "request.h"

#include <limits>

using namespace Qt::Literals::StringLiterals;

bool IsRequestComplete(const QByteArray &received)
{
    // CR and LF never occur inside a double-byte character of the code page (trail bytes
    // start at 0x40), so the bytes can be searched before they are decoded.
    return received.contains("\r\n\r\n");
}

std::optional<QString> RequestPath(const QString &request)
{
    const qsizetype lineEnd = request.indexOf(u"\r\n"_s);
    if (lineEnd <= 0)
        return std::nullopt;
    QString line = request.left(lineEnd);
    const qsizetype http = request.indexOf(u"HTTP"_s);
    if (http <= 0)
        return std::nullopt;
    // Drops the blank before the version and the version itself; an "HTTP" inside the path
    // cuts it there, one beyond the line leaves it whole.
    line.truncate(http - 1);
    if (!line.startsWith(u"GET"_s))
        return std::nullopt;
    return line.mid(4);
}

namespace {

// "/p12" or "/p-1" (a "#" and what follows it already cut off): plain decimal digits with an
// optional minus sign, within 16 bits.
std::optional<int16_t> entryNumber(QStringView digits)
{
    const bool negative = digits.startsWith(u'-');
    const QStringView rest = negative ? digits.mid(1) : digits;
    if (rest.isEmpty() || rest.size() > 6)
        return std::nullopt;
    int value = 0;
    for (QChar c : rest) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (negative)
        value = -value;
    if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
        return std::nullopt;
    return static_cast<int16_t>(value);
}

} // namespace

Route RouteRequest(const QString &path, const QString &loginId, std::optional<int16_t> loginNumber)
{
    if (path == u"/"_s || path == u"/index.htm"_s || path == u"/index.html"_s)
        return {Route::LoginForm};
    if (path.startsWith(u"/l.cgi"_s))
        return {path == u"/l.cgi?id="_s + loginId ? Route::Login : Route::LoginError};
    if (!loginNumber)
        return {Route::NotFound};

    const QString prefix = u'/' + QString::number(*loginNumber) + u'/';
    if (!path.startsWith(prefix))
        return {Route::NotFound};
    const QStringView commandPart = QStringView(path).mid(prefix.size() - 1); // from the 2nd "/"
    const QStringView command = commandPart.left(2);
    const int digit = command.size() == 2 ? command[1].unicode() - u'0' : -1;
    if (digit >= int(kelpa::Transport::Previous) && digit <= int(kelpa::Transport::Next))
        return {Route::Control, static_cast<kelpa::Transport>(digit)};
    if (command == u"/p") {
        QStringView number = commandPart.mid(2);
        const qsizetype fragment = number.indexOf(u'#');
        if (fragment >= 0)
            number.truncate(fragment);
        const std::optional<int16_t> entry = entryNumber(number);
        if (!entry)
            return {Route::NotFound};
        return {Route::PlayEntry, std::nullopt, *entry};
    }
    return {Route::Control}; // "/" alone and any other command: the page, nothing done
}
