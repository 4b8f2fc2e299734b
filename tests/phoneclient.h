// A phone's browser as the phone pages meet it, on raw HTTP: the session cookie it keeps, the
// login form's token it reads off the login page, and the commands its form sends.
#pragma once

#include "remotefixture.h"

#include <QJsonDocument>
#include <QJsonObject>

// One answer, split into its status, header lines and body.
struct Answer {
    explicit Answer(const QByteArray &bytes)
    {
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        head = bytes.left(end);
        body = end < 0 ? QByteArray() : bytes.mid(end + 4);
        status = head.mid(9, 3).toInt();
    }
    QByteArray header(const QByteArray &name) const
    {
        for (const QByteArray &line : head.split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ':'))
                return line.mid(name.size() + 1).trimmed();
        }
        return {};
    }
    // The session the answer sets, from its Set-Cookie line.
    QByteArray session() const
    {
        const QByteArray cookie = header("Set-Cookie");
        if (!cookie.startsWith("kelpa_m="))
            return {};
        return cookie.mid(8, cookie.indexOf(';') - 8);
    }
    QString text() const { return QString::fromUtf8(body); }
    QByteArray head;
    QByteArray body;
    int status = 0;
};

class Phone {
public:
    Phone(ServerFixture &fixture, const QString &from = u"127.0.0.1"_s)
        : fixture_(fixture), from_(from)
    {}
    Answer get(const QByteArray &target, const QByteArray &extra = {})
    {
        return Answer(fixture_.exchange("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                            cookieLine() + extra + "\r\n",
                                        10000, from_));
    }
    Answer post(const QByteArray &target, const QByteArray &form, const QByteArray &extra = {})
    {
        return Answer(fixture_.exchange(
            "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + cookieLine() + extra +
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                QByteArray::number(form.size()) + "\r\n\r\n" + form,
            10000, from_));
    }
    // The token of the form on the page at target: the login form's, or the session's.
    QByteArray formToken(const QByteArray &target = "/m/")
    {
        static const QRegularExpression field(u"name=\"t\" value=\"([0-9a-f]+)\""_s);
        return field.match(get(target).text()).captured(1).toLatin1();
    }
    // Logs in with the ID as the login form does; whether a session came.
    bool login(const QByteArray &id = "wuzel")
    {
        session = post("/m/login", "t=" + formToken() + "&id=" + id).session();
        token_.clear();
        return !session.isEmpty();
    }
    // Logs in with a pairing code as the QR code's page does; whether a session came.
    bool pairWith(const QByteArray &code)
    {
        session = post("/m/pair/" + code, {}).session();
        token_.clear();
        return !session.isEmpty();
    }
    // Sends a command as the player page's form does.
    Answer command(const QByteArray &form)
    {
        if (token_.isEmpty())
            token_ = formToken();
        return post("/m/cmd", "t=" + token_ + '&' + form);
    }
    // The form field a tap on the entry at index of the page at target sends, as the page
    // names the entry.
    QByteArray entryCommand(int index, const QByteArray &target = "/m/")
    {
        const QRegularExpression value(u"value=\"(e%1\\.\\d+\\.[0-9a-f]+)\""_s.arg(index));
        return "c=" + value.match(get(target).text()).captured(1).toLatin1();
    }
    QJsonObject state() { return QJsonDocument::fromJson(get("/m/state").body).object(); }
    QByteArray session;

private:
    QByteArray cookieLine() const
    {
        return session.isEmpty() ? QByteArray() : "Cookie: theme=dark; kelpa_m=" + session + "\r\n";
    }
    ServerFixture &fixture_;
    QString from_;
    QByteArray token_;
};

inline bool isLoginPage(const Answer &answer)
{
    return answer.status == 200 && answer.text().contains(u"action=\"/m/login\""_s);
}

inline bool isPlayerPage(const Answer &answer)
{
    return answer.status == 200 && answer.text().contains(u"aria-label=\"再生位置\""_s);
}
