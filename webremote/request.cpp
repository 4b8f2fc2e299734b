#include "request.h"

#include "net/ansi.h"

#include <QHostAddress>

#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr QByteArrayView HeaderEnd = "\r\n\r\n";

// A Content-Length value: plain digits; -1 when it is none, 0 without one.
qint64 contentLength(const QList<std::optional<QByteArray>> &values)
{
    if (values.isEmpty())
        return 0;
    if (values.size() > 1 || !values.front() || values.front()->isEmpty() ||
        values.front()->size() > 9)
        return -1;
    for (char c : *values.front()) {
        if (c < '0' || c > '9')
            return -1;
    }
    return values.front()->toLongLong();
}

void addFields(QHash<QString, QString> &fields, QByteArrayView form)
{
    for (QByteArray pair : form.toByteArray().split('&')) {
        pair.replace('+', ' ');
        const qsizetype equals = pair.indexOf('=');
        const QByteArray name = equals < 0 ? pair : pair.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        if (!name.isEmpty())
            fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
                          QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
}

QByteArray sessionCookie(const QList<std::optional<QByteArray>> &cookieLines)
{
    for (const std::optional<QByteArray> &line : cookieLines) {
        if (!line)
            continue;
        for (const QByteArray &pair : line->split(';')) {
            const QByteArray trimmed = pair.trimmed();
            const qsizetype equals = trimmed.indexOf('=');
            if (equals > 0 && trimmed.left(equals) == PhoneCookieName)
                return trimmed.mid(equals + 1);
        }
    }
    return {};
}

// The length of the body a POST to the phone pages announces; -1 for one that is refused.
qint64 announcedBody(const Request &request)
{
    if (request.method != "POST")
        return 0;
    const qint64 length = contentLength(request.values("content-length"));
    return length > PhoneBodyLimit ? -1 : length;
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

Request ReadRequest(const QByteArray &received)
{
    Request request;
    request.received = received;
    // The phone pages are read from the bytes: decoding them as well would only cost time.
    if (!IsPhoneRequest(received))
        request.text = AnsiDecode(received);
    const qsizetype headEnd = received.indexOf(HeaderEnd);
    const QByteArrayView head =
        QByteArrayView(received).first(headEnd < 0 ? received.size() : headEnd);
    request.body = headEnd < 0 ? QByteArray() : received.mid(headEnd + HeaderEnd.size());
    QList<QByteArrayView> lines;
    for (qsizetype at = 0; at <= head.size();) {
        qsizetype end = head.indexOf("\r\n", at);
        if (end < 0)
            end = head.size();
        lines.append(head.sliced(at, end - at));
        at = end + 2;
    }
    const QList<QByteArray> words = lines.value(0).toByteArray().split(' ');
    if (words.size() == 3) {
        request.method = words[0];
        request.target = words[1];
        request.version = words[2];
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = lines[i].first(colon).toByteArray();
        const QByteArray trimmedName = name.trimmed();
        request.headers.append({trimmedName, lines[i].sliced(colon + 1).toByteArray().trimmed(),
                                trimmedName.size() == name.size()});
    }
    return request;
}

QList<std::optional<QByteArray>> Request::values(QByteArrayView name) const
{
    QList<std::optional<QByteArray>> found;
    for (const Header &header : headers) {
        if (header.name.compare(name, Qt::CaseInsensitive) == 0)
            found.append(header.wellFormed ? std::optional(header.value) : std::nullopt);
    }
    return found;
}

bool IsRequestComplete(const QByteArray &received)
{
    // CR and LF never occur inside a double-byte character of the code page (trail bytes
    // start at 0x40), so the bytes can be searched before they are decoded.
    const qsizetype headEnd = received.indexOf(HeaderEnd);
    if (headEnd < 0)
        return false;
    if (!received.startsWith("POST /m/"))
        return true;
    const qint64 length = announcedBody(ReadRequest(received.first(headEnd + HeaderEnd.size())));
    return length < 0 || received.size() - headEnd - HeaderEnd.size() >= length;
}

bool IsPhoneRequest(const QByteArray &received)
{
    return received.startsWith("GET /m/") || received.startsWith("POST /m/");
}

std::optional<QString> DesignPath(const Request &request)
{
    const QString &text = request.text;
    const qsizetype lineEnd = text.indexOf(u"\r\n"_s);
    if (lineEnd <= 0)
        return std::nullopt;
    QString line = text.left(lineEnd);
    const qsizetype http = text.indexOf(u"HTTP"_s);
    if (http <= 0)
        return std::nullopt;
    // Drops the blank before the version and the version itself; an "HTTP" inside the path
    // cuts it there, one beyond the line leaves it whole.
    line.truncate(http - 1);
    if (!line.startsWith(u"GET"_s))
        return std::nullopt;
    return line.mid(4);
}

std::optional<PhoneFields> ReadPhoneFields(const Request &request)
{
    if (!IsPhoneRequest(request.received) || !request.version.startsWith("HTTP/"))
        return std::nullopt;
    PhoneFields phone;
    phone.post = request.method == "POST";
    const QByteArray &target = request.target;
    const qsizetype query = target.indexOf('?');
    phone.path = QString::fromUtf8(query < 0 ? target : target.left(query));
    if (query >= 0)
        addFields(phone.query, QByteArrayView(target).sliced(query + 1));
    if (phone.post) {
        const qint64 length = announcedBody(request);
        if (length < 0 || request.body.size() < length)
            return std::nullopt;
        const QList<std::optional<QByteArray>> types = request.values("content-type");
        if (length > 0 &&
            (types.size() != 1 || !types.front() ||
             !types.front()->toLower().startsWith("application/x-www-form-urlencoded")))
            return std::nullopt;
        addFields(phone.form, QByteArrayView(request.body).first(length));
    }
    phone.session = sessionCookie(request.values("cookie"));
    return phone;
}

bool IsHostAccepted(const Request &request, const HostNames &own)
{
    const QList<std::optional<QByteArray>> hosts = request.values("host");
    if (hosts.isEmpty())
        return true;
    if (hosts.size() > 1 || !hosts.front())
        return false;
    const std::optional<Authority> authority = parseAuthority(QString::fromLatin1(*hosts.front()));
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

bool IsCrossSite(const Request &request)
{
    for (const std::optional<QByteArray> &site : request.values("sec-fetch-site")) {
        // A page on another port of this host is "same-site", and no more ours than any other.
        if (site && (site->toLower() == "cross-site" || site->toLower() == "same-site"))
            return true;
    }
    const QList<std::optional<QByteArray>> origins = request.values("origin");
    if (origins.isEmpty())
        return false;
    // A page's origin names the scheme, host and port it came from; "null" hides it.
    const QList<std::optional<QByteArray>> hosts = request.values("host");
    if (origins.size() > 1 || !origins.front() || hosts.size() != 1 || !hosts.front())
        return true;
    const QString origin = QString::fromLatin1(*origins.front());
    if (!origin.startsWith(u"http://"_s, Qt::CaseInsensitive))
        return true;
    const std::optional<Authority> from = parseAuthority(QStringView(origin).mid(7));
    const std::optional<Authority> to = parseAuthority(QString::fromLatin1(*hosts.front()));
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
