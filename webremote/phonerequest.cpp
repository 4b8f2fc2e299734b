#include "phonerequest.h"

#include <QList>

namespace {

constexpr QByteArrayView HeaderEnd = "\r\n\r\n";

// The values of the header lines named `name` (in lower case), in order.
QList<QByteArray> headerValues(QByteArrayView head, QByteArrayView name)
{
    QList<QByteArray> values;
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon >= 0 && line.left(colon).toLower() == name)
            values.append(line.mid(colon + 1).trimmed());
    }
    return values;
}

// A Content-Length value: plain digits; -1 when it is none.
qint64 contentLength(const QList<QByteArray> &values)
{
    if (values.isEmpty())
        return 0;
    const QByteArray &value = values.front();
    if (values.size() > 1 || value.isEmpty() || value.size() > 9)
        return -1;
    for (char c : value) {
        if (c < '0' || c > '9')
            return -1;
    }
    return value.toLongLong();
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

QByteArray sessionCookie(const QList<QByteArray> &cookieLines)
{
    for (const QByteArray &line : cookieLines) {
        for (const QByteArray &pair : line.split(';')) {
            const QByteArray trimmed = pair.trimmed();
            const qsizetype equals = trimmed.indexOf('=');
            if (equals > 0 && trimmed.left(equals) == PhoneCookieName)
                return trimmed.mid(equals + 1);
        }
    }
    return {};
}

} // namespace

bool IsPhoneRequest(const QByteArray &received)
{
    return received.startsWith("GET /m/") || received.startsWith("POST /m/");
}

bool IsBodyComplete(const QByteArray &received)
{
    if (!received.startsWith("POST /m/"))
        return true;
    const qsizetype headEnd = received.indexOf(HeaderEnd);
    if (headEnd < 0)
        return false;
    const qint64 length =
        contentLength(headerValues(QByteArrayView(received).first(headEnd), "content-length"));
    if (length < 0 || length > PhoneBodyLimit)
        return true;
    return received.size() - headEnd - HeaderEnd.size() >= length;
}

std::optional<PhoneRequest> ParsePhoneRequest(const QByteArray &received)
{
    if (!IsPhoneRequest(received) || !IsBodyComplete(received))
        return std::nullopt;
    const qsizetype headEnd = received.indexOf(HeaderEnd);
    const QByteArrayView head = QByteArrayView(received).first(headEnd);
    const qsizetype lineEnd = head.indexOf("\r\n");
    const QList<QByteArray> words =
        head.first(lineEnd < 0 ? head.size() : lineEnd).toByteArray().split(' ');
    if (words.size() != 3 || !words[2].startsWith("HTTP/"))
        return std::nullopt;
    PhoneRequest request;
    request.post = words[0] == "POST";
    const QByteArray &target = words[1];
    const qsizetype query = target.indexOf('?');
    request.path = QString::fromUtf8(query < 0 ? target : target.left(query));
    if (query >= 0)
        addFields(request.query, QByteArrayView(target).sliced(query + 1));
    if (request.post) {
        const qint64 length = contentLength(headerValues(head, "content-length"));
        if (length < 0 || length > PhoneBodyLimit)
            return std::nullopt;
        const QList<QByteArray> types = headerValues(head, "content-type");
        if (length > 0 && (types.size() != 1 || !types.front().toLower().startsWith(
                                                    "application/x-www-form-urlencoded")))
            return std::nullopt;
        addFields(request.form,
                  QByteArrayView(received).sliced(headEnd + HeaderEnd.size(), length));
    }
    request.session = sessionCookie(headerValues(head, "cookie"));
    return request;
}
