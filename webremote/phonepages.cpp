#include "phonepages.h"

#include "pages.h"
#include "pagetemplate.h"
#include "phonesearch.h"
#include "request.h"

#include <QFile>
#include <QSysInfo>
#include <QUrl>

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

// The machine's name as its owner gave it, read anew for each page: it may be renamed.
QString hostName()
{
    return QSysInfo::machineHostName();
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
    return track.title.isEmpty() ? PhoneFileName(track.path) : track.title;
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

QByteArray PhoneLoginPage(PhoneLoginNote note, const QByteArray &token, qint64 lockedMs)
{
    static const PageTemplate html(u"login.html");
    QString text;
    switch (note) {
    case PhoneLoginNote::None:
        break;
    case PhoneLoginNote::WrongId:
        text = u"ログインできませんでした。IDが違います。"_s;
        break;
    case PhoneLoginNote::CodeUsed:
        text = u"ログインできませんでした。このQRコードは使用済みか期限切れです。"
               u"PCで新しいQRコードを表示して読み取ってください。"_s;
        break;
    case PhoneLoginNote::Locked: {
        // Rounded up: a phone that tries again when told is let in.
        const qint64 seconds = std::max<qint64>(1, (lockedMs + 999) / 1000);
        text = u"間違いが続いたため、このアドレスからのログインを止めています。"_s +
               (seconds < 60 ? u"%1秒後"_s.arg(seconds) : u"%1分後"_s.arg((seconds + 59) / 60)) +
               u"にもう一度お試しください。"_s;
        break;
    }
    }
    QString out;
    html.fill(out,
              {{u"host", hostName()}, {u"note", text}, {u"token", QString::fromLatin1(token)}});
    return out.toUtf8();
}

QByteArray PhonePairPage(const QByteArray &code)
{
    // The code comes from the address the QR code gave, so it is checked only on the POST and
    // shown nowhere but in the form's own target.
    static const PageTemplate html(u"pair.html");
    QString out;
    html.fill(out, {{u"host", hostName()}, {u"code", QString::fromUtf8(code.toPercentEncoding())}});
    return out.toUtf8();
}

QString PhoneFileName(const QByteArray &path)
{
    return QFile::decodeName(path.mid(path.lastIndexOf('/') + 1));
}

QString PhoneEntryText(const kelpa::PlayerControl &player, int index)
{
    const QString text = player.entryText(index);
    return text.isEmpty() ? PhoneFileName(player.entryPath(index)) : text;
}

QByteArray PhoneEntryKey(const QByteArray &path)
{
    // Within the run: the pages and the commands that name their entries live no longer.
    return QByteArray::number(quint64(qHash(path, size_t(0x6b656c7061))), 16);
}

QByteArray PhonePlayerPage(const kelpa::PlayerControl &player, const PhoneView &view)
{
    static const PageTemplate html(u"player.html");
    static const PageTemplate &row = html.part(u"entries");
    const kelpa::TrackInfo track = player.track();
    const PlaybackStatus status = player.status();
    const int32_t position = player.position();
    const int32_t length = std::max(track.lengthSeconds, 0);
    const int volume = player.volume();
    const bool loop = player.loop();
    const int open = player.currentEntry();
    const QString revision = QString::number(player.playlistRevision());

    const bool searching = !view.query.trimmed().isEmpty();
    const QList<int> listed = searching ? SearchEntries(player, view.query) : QList<int>();
    const int count = searching ? int(listed.size()) : player.entryCount();
    const auto entryAt = [&](int shown) { return searching ? listed[shown] : shown; };
    const int pages = std::max(1, (count + PhoneEntriesPerPage - 1) / PhoneEntriesPerPage);
    int page = view.page;
    if (page < 0) {
        const auto found =
            searching ? std::find(listed.cbegin(), listed.cend(), open) : listed.cend();
        const int at = !searching               ? open
                       : found == listed.cend() ? 0
                                                : int(found - listed.cbegin());
        page = std::max(at, 0) / PhoneEntriesPerPage;
    }
    page = std::clamp(page, 0, pages - 1);

    const int first = page * PhoneEntriesPerPage;
    const int last = std::min(count, first + PhoneEntriesPerPage);
    PageTemplate::Markup rows;
    rows.html.reserve(200 * PhoneEntriesPerPage);
    for (int shown = first; shown < last; ++shown) {
        const int i = entryAt(shown);
        const int32_t seconds = player.entryLength(i);
        row.fill(rows.html, {{u"index", i},
                             {u"number", i + 1},
                             {u"rev", revision},
                             {u"key", QString::fromLatin1(PhoneEntryKey(player.entryPath(i)))},
                             {u"open", i == open},
                             {u"text", PhoneEntryText(player, i)},
                             {u"len", seconds >= 0 ? clock(seconds) : QString()}});
    }
    const QString query =
        searching ? u"&q="_s + QString::fromLatin1(QUrl::toPercentEncoding(view.query)) : QString();

    QString out;
    out.reserve(8192 + 200 * PhoneEntriesPerPage);
    html.fill(out, {
                       {u"host", hostName()},
                       {u"page", page},
                       {u"query", view.query},
                       {u"operate", view.operate},
                       {u"art", pictureNumber(player)},
                       {u"token", QString::fromLatin1(view.token)},
                       {u"note", view.note},
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
                       {u"muted", player.muted() ? u"true"_s : u"false"_s},
                       {u"loop", loop ? u"true"_s : u"false"_s},
                       {u"loopText", loop ? u"ループ再生: オン"_s : u"ループ再生: オフ"_s},
                       {u"heading", searching ? u"「%1」: %2曲"_s.arg(view.query.trimmed(),
                                                                      QString::number(count))
                                              : u"プレイリスト（%1曲）"_s.arg(count)},
                       {u"rev", revision},
                       {u"idle", open < 0},
                       {u"pageNumber", page + 1},
                       {u"pageCount", pages},
                       {u"entries", std::move(rows)},
                       {u"queryParam", query},
                       {u"previous", page > 0 ? QString::number(page - 1) : QString()},
                       {u"next", page + 1 < pages ? QString::number(page + 1) : QString()},
                   });
    return out.toUtf8();
}

QByteArray PhoneState(const kelpa::PlayerControl &player, const QString &note)
{
    const kelpa::TrackInfo track = player.track();
    const PlaybackStatus status = player.status();
    QString out = u"{\"status\":\""_s + statusName(status) + u"\",\"state\":\""_s +
                  stateText(status) + u"\",\"title\":"_s;
    appendJsonString(out, track.path.isEmpty() ? QString() : shownTitle(track));
    out += u",\"artist\":"_s;
    appendJsonString(out, track.artist);
    out += u",\"note\":"_s;
    appendJsonString(out, note);
    out += u",\"art\":\"%1\""_s.arg(pictureNumber(player));
    out += u",\"pos\":%1,\"len\":%2,\"volume\":%3,\"muted\":%4,\"loop\":%5,\"current\":%6,"
           u"\"rev\":%7}"_s.arg(player.position())
               .arg(std::max(track.lengthSeconds, 0))
               .arg(player.volume())
               .arg(player.muted() ? u"true"_s : u"false"_s)
               .arg(player.loop() ? u"true"_s : u"false"_s)
               .arg(player.currentEntry())
               .arg(player.playlistRevision());
    return out.toUtf8();
}
