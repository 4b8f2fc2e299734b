#include "request.h"

#include <QHostAddress>

#include <algorithm>

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

// The header lines of a request: the lines after the request line, up to the empty line.
QList<QStringView> headerLines(const QString &request)
{
    const qsizetype headersEnd = request.indexOf(u"\r\n\r\n"_s);
    QList<QStringView> lines = QStringView(request).left(headersEnd).split(u"\r\n"_s);
    if (!lines.isEmpty())
        lines.removeFirst();
    return lines;
}

// The values of the header lines named `name`, in order. A line whose name is followed by a
// blank before the colon is malformed: its value is nullopt.
QList<std::optional<QStringView>> headerValues(const QString &request, QStringView name)
{
    QList<std::optional<QStringView>> values;
    for (const QStringView line : headerLines(request)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        const QStringView lineName = line.left(colon);
        if (lineName.trimmed().compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (lineName.size() != name.size())
            values.append(std::nullopt);
        else
            values.append(line.mid(colon + 1).trimmed());
    }
    return values;
}

bool allDigits(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

bool isHostNameCharacter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'.' || c == u'-' || c == u'_';
}

struct Authority {
    QString host; // without brackets, in lower case
    int port = 80;
};

// "[::1]:8080", "kelpa.local:80" or "192.168.1.2"; nullopt when it is no host with an
// optional port (user info, a path, blanks, an empty host, a port that is no number).
std::optional<Authority> parseAuthority(QStringView value)
{
    QStringView host = value;
    QStringView rest;
    if (value.startsWith(u'[')) {
        const qsizetype end = value.indexOf(u']');
        if (end < 0)
            return std::nullopt;
        host = value.mid(1, end - 1);
        rest = value.mid(end + 1);
        if (QHostAddress(host.toString()).protocol() != QAbstractSocket::IPv6Protocol)
            return std::nullopt;
    } else {
        const qsizetype colon = value.indexOf(u':');
        if (colon >= 0) {
            host = value.left(colon);
            rest = value.mid(colon);
        }
        if (host.isEmpty() || !std::all_of(host.begin(), host.end(), isHostNameCharacter))
            return std::nullopt;
    }
    Authority authority{host.toString().toLower()};
    if (rest.isEmpty())
        return authority;
    const QStringView port = rest.mid(1);
    if (!rest.startsWith(u':') || port.isEmpty() || port.size() > 5 || !allDigits(port))
        return std::nullopt;
    authority.port = port.toInt();
    return authority;
}

} // namespace

bool IsHostAccepted(const QString &request, const HostNames &own)
{
    const QList<std::optional<QStringView>> hosts = headerValues(request, u"host");
    if (hosts.isEmpty())
        return true;
    if (hosts.size() > 1 || !hosts.front())
        return false;
    const std::optional<Authority> authority = parseAuthority(*hosts.front());
    if (!authority)
        return false;
    QString host = authority->host;
    const QHostAddress literal(host);
    if (literal.protocol() == QAbstractSocket::IPv6Protocol ||
        (literal.protocol() == QAbstractSocket::IPv4Protocol && host.count(u'.') == 3))
        return true;
    if (host.endsWith(u'.'))
        host.chop(1);
    const QString machine = own.machine.toLower();
    const QString first = machine.section(u'.', 0, 0);
    if (host == u"localhost"_s || (!first.isEmpty() && (host == first || host == machine)) ||
        (!own.canonical.isEmpty() && host == own.canonical.toLower()))
        return true;
    // What mDNS calls the machine: "NAME.local", or "NAME-2.local" when another one holds
    // NAME. Only the local network answers for ".local", so no page can have it rebound.
    if (first.isEmpty() || !host.endsWith(u".local"_s))
        return false;
    const QStringView label = QStringView(host).chopped(6);
    if (label == first)
        return true;
    const QStringView number = label.mid(first.size() + 1);
    return label.startsWith(first + u'-') && !number.isEmpty() && allDigits(number);
}

bool IsCrossSite(const QString &request)
{
    for (const std::optional<QStringView> &site : headerValues(request, u"sec-fetch-site")) {
        // A page on another port of this host is "same-site", and no more ours than any other.
        if (site && (site->compare(u"cross-site"_s, Qt::CaseInsensitive) == 0 ||
                     site->compare(u"same-site"_s, Qt::CaseInsensitive) == 0))
            return true;
    }
    const QList<std::optional<QStringView>> origins = headerValues(request, u"origin");
    if (origins.isEmpty())
        return false;
    // A page's origin names the scheme, host and port it came from; "null" hides it.
    const QList<std::optional<QStringView>> hosts = headerValues(request, u"host");
    if (origins.size() > 1 || !origins.front() || hosts.size() != 1 || !hosts.front())
        return true;
    const QStringView origin = *origins.front();
    if (!origin.startsWith(u"http://"_s, Qt::CaseInsensitive))
        return true;
    const std::optional<Authority> from = parseAuthority(origin.mid(7));
    const std::optional<Authority> to = parseAuthority(*hosts.front());
    return !from || !to || from->host != to->host || from->port != to->port;
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
