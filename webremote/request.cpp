#include "request.h"

#include <QHostAddress>

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

// The host part of a Host value: "[::1]:8080" gives "::1", "kelpa.local:80" gives "kelpa.local".
QStringView hostPart(QStringView value)
{
    if (value.startsWith(u'[')) {
        const qsizetype end = value.indexOf(u']');
        return end < 0 ? value : value.mid(1, end - 1);
    }
    const qsizetype colon = value.indexOf(u':');
    return colon < 0 ? value : value.left(colon);
}

} // namespace

bool IsHostAccepted(const QString &request, const QString &machineName)
{
    const qsizetype headersEnd = request.indexOf(u"\r\n\r\n"_s);
    const QStringList lines = request.left(headersEnd).split(u"\r\n"_s);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if (!line.startsWith(u"host:"_s, Qt::CaseInsensitive))
            continue;
        const QString host = hostPart(QStringView(line).mid(5).trimmed()).toString();
        if (host.isEmpty() || !QHostAddress(host).isNull())
            return true;
        for (const QString &own : {u"localhost"_s, machineName, machineName + u".local"_s}) {
            if (!own.isEmpty() && host.compare(own, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }
    return true;
}

namespace {

// A control path's login number: "/1234/..." gives 1234.
bool hasNumberPrefix(const QString &path)
{
    qsizetype digits = 1;
    while (digits < path.size() && path.at(digits).isDigit() && path.at(digits) < u'\x80')
        ++digits;
    return digits > 1 && digits < path.size() && path.at(digits) == u'/';
}

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
    if (path.startsWith(u"/l.cgi"_s)) {
        if (!loginId.isEmpty() && path == u"/l.cgi?id="_s + loginId)
            return {Route::Login};
        return {Route::LoginError, std::nullopt, 0, true};
    }
    const QString prefix = loginNumber ? u'/' + QString::number(*loginNumber) + u'/' : QString();
    if (!loginNumber || !path.startsWith(prefix))
        return {Route::NotFound, std::nullopt, 0, hasNumberPrefix(path)};
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
