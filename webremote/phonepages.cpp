#include "phonepages.h"

#include "pages.h"
#include "pagetemplate.h"
#include "request.h"

#include <QFile>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using kelpa::PlaybackStatus;

namespace {

// What a phone page may load and do: its own style and script, requests to this server only,
// and no framing by another page. The referrer stays on this server: with none at all the
// browser sends its own form's POST with "Origin: null", which is refused as another site's.
constexpr char Headers[] =
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: same-origin\r\n"
    "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; "
    "script-src 'unsafe-inline'; connect-src 'self'; img-src 'self'; manifest-src 'self'; "
    "form-action 'self'; base-uri 'none'; "
    "frame-ancestors 'none'\r\n";

QString fileName(const QByteArray &path)
{
    return QFile::decodeName(path.mid(path.lastIndexOf('/') + 1));
}

QString clock(int32_t seconds)
{
    return u"%1:%2"_s.arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
}

QString stateText(PlaybackStatus status)
{
    switch (status) {
    case PlaybackStatus::Playing:
        return u"再生中"_s;
    case PlaybackStatus::Paused:
        return u"一時停止"_s;
    case PlaybackStatus::Stopped:
        break;
    }
    return u"停止"_s;
}

QString statusName(PlaybackStatus status)
{
    switch (status) {
    case PlaybackStatus::Playing:
        return u"playing"_s;
    case PlaybackStatus::Paused:
        return u"paused"_s;
    case PlaybackStatus::Stopped:
        break;
    }
    return u"stopped"_s;
}

// The title shown for the open track: its tag, or its file name without one.
QString shownTitle(const kelpa::TrackInfo &track)
{
    return track.title.isEmpty() ? fileName(track.path) : track.title;
}

void appendJsonString(QString &out, const QString &text)
{
    out += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += u"\\\""_s;
            break;
        case u'\\':
            out += u"\\\\"_s;
            break;
        default:
            // Control characters, and "<" so that no text can close a script element.
            if (c.unicode() < 0x20 || c == u'<' || c == u'\u2028' || c == u'\u2029')
                out += u"\\u%1"_s.arg(int(c.unicode()), 4, 16, QChar(u'0'));
            else
                out += c;
        }
    }
    out += u'"';
}

// The open track's picture by its number, for the address of its image: empty for none.
QString pictureNumber(const kelpa::PlayerControl &player)
{
    const kelpa::TrackPicture picture = player.picture();
    return picture.bytes.isEmpty() ? QString() : QString::number(picture.serial);
}

} // namespace

QByteArray PhoneOkResponse(const QByteArray &body, const char *type)
{
    return "HTTP/1.0 200 OK\r\nServer: kelpa/0.01\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nContent-Type: " + type + "; charset=utf-8\r\n" +
           Headers + "\r\n" + body;
}

QByteArray PhoneRedirect(const QByteArray &location, const QByteArray &session)
{
    QByteArray response = "HTTP/1.0 303 See Other\r\nServer: kelpa/0.01\r\nLocation: " + location +
                          "\r\nCache-Control: no-store\r\n";
    if (!session.isEmpty())
        response += QByteArray("Set-Cookie: ") + PhoneCookieName + '=' + session +
                    "; Path=/m/; HttpOnly; SameSite=Strict\r\n";
    return response + "Content-Length: 0\r\n\r\n";
}

QByteArray PhoneLoginPage(bool failed, const QByteArray &token)
{
    static const PageTemplate html(u"login.html");
    QString out;
    html.fill(out, {{u"failed", failed}, {u"token", QString::fromLatin1(token)}});
    return out.toUtf8();
}

QByteArray PhonePairPage(const QByteArray &code)
{
    // The code comes from the address the QR code gave, so it is checked only on the POST and
    // shown nowhere but in the form's own target.
    static const PageTemplate html(u"pair.html");
    QString out;
    html.fill(out, {{u"code", QString::fromUtf8(code.toPercentEncoding())}});
    return out.toUtf8();
}

QString PhoneEntryText(const kelpa::PlayerControl &player, int index)
{
    const QString text = player.entryText(index);
    return text.isEmpty() ? fileName(player.entryPath(index)) : text;
}

QByteArray PhonePlayerPage(const kelpa::PlayerControl &player, int page, int open,
                           const QByteArray &token, bool operate)
{
    static const PageTemplate html(u"player.html");
    static const PageTemplate &row = html.part(u"entries");
    const kelpa::TrackInfo track = player.track();
    const PlaybackStatus status = player.status();
    const int32_t position = player.position();
    const int32_t length = std::max(track.lengthSeconds, 0);
    const int count = player.entryCount();
    const int pages = std::max(1, (count + PhoneEntriesPerPage - 1) / PhoneEntriesPerPage);
    page = std::clamp(page, 0, pages - 1);
    const int volume = player.volume();
    const bool loop = player.loop();

    const int first = page * PhoneEntriesPerPage;
    const int last = std::min(count, first + PhoneEntriesPerPage);
    PageTemplate::Markup rows;
    rows.html.reserve(120 * PhoneEntriesPerPage);
    for (int i = first; i < last; ++i)
        row.fill(rows.html,
                 {{u"index", i}, {u"open", i == open}, {u"text", PhoneEntryText(player, i)}});

    QString out;
    out.reserve(8192 + 120 * PhoneEntriesPerPage);
    html.fill(out, {
                       {u"page", page},
                       {u"operate", operate},
                       {u"art", pictureNumber(player)},
                       {u"token", QString::fromLatin1(token)},
                       {u"state", stateText(status)},
                       {u"title", track.path.isEmpty() ? QString() : shownTitle(track)},
                       {u"artist", track.artist},
                       {u"pos", clock(position)},
                       {u"len", clock(length)},
                       {u"posSeconds", position},
                       {u"lenSeconds", length},
                       {u"filled", length > 0 ? std::clamp(position * 100 / length, 0, 100) : 0},
                       {u"pp", status == PlaybackStatus::Playing ? u"一時停止"_s : u"再生"_s},
                       // Empty for an engine without a volume control: no volume buttons.
                       {u"volume", volume >= 0 ? QString::number(volume) : QString()},
                       {u"loop", loop ? u"true"_s : u"false"_s},
                       {u"loopText", loop ? u"ループ再生: オン"_s : u"ループ再生: オフ"_s},
                       {u"count", count},
                       {u"start", first + 1},
                       {u"entries", std::move(rows)},
                       {u"previous", page > 0 ? QString::number(page - 1) : QString()},
                       {u"next", page + 1 < pages ? QString::number(page + 1) : QString()},
                   });
    return out.toUtf8();
}

QByteArray PhoneState(const kelpa::PlayerControl &player, int open)
{
    const kelpa::TrackInfo track = player.track();
    const PlaybackStatus status = player.status();
    QString out = u"{\"status\":\""_s + statusName(status) + u"\",\"state\":\""_s +
                  stateText(status) + u"\",\"title\":"_s;
    appendJsonString(out, track.path.isEmpty() ? QString() : shownTitle(track));
    out += u",\"artist\":"_s;
    appendJsonString(out, track.artist);
    out += u",\"art\":\"%1\""_s.arg(pictureNumber(player));
    out +=
        u",\"pos\":%1,\"len\":%2,\"volume\":%3,\"loop\":%4,\"current\":%5}"_s.arg(player.position())
            .arg(std::max(track.lengthSeconds, 0))
            .arg(player.volume())
            .arg(player.loop() ? u"true"_s : u"false"_s)
            .arg(open);
    return out.toUtf8();
}
