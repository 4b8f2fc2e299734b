#include "phonepages.h"

#include "pages.h"
#include "phonerequest.h"

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
    "script-src 'unsafe-inline'; connect-src 'self'; form-action 'self'; base-uri 'none'; "
    "frame-ancestors 'none'\r\n";

constexpr char16_t Style[] =
    u"<style>:root{color-scheme:light dark;--bg:#fff;--fg:#111;--dim:#555;--acc:#0a58b0;"
    "--bar:#d8d8d8}@media(prefers-color-scheme:dark){:root{--bg:#121212;--fg:#eee;--dim:#aaa;"
    "--acc:#7ab8ff;--bar:#3a3a3a}}*{box-sizing:border-box}body{margin:0;padding:12px 16px;"
    "font:16px/1.5 system-ui,sans-serif;background:var(--bg);color:var(--fg)}"
    "h1{font-size:22px;margin:4px 0;overflow-wrap:anywhere}p{margin:4px 0}.dim{color:var(--dim)}"
    "button,input,.b{font:inherit;min-height:48px;min-width:48px;padding:0 12px;"
    "border:1px solid var(--dim);border-radius:8px;background:transparent;color:var(--fg);"
    "display:inline-flex;align-items:center;justify-content:center;text-decoration:none}"
    "input{width:100%;margin:8px 0;background:var(--bg)}"
    ".row{display:flex;gap:8px;margin:8px 0;align-items:center}.row>*{flex:1;padding:0 4px;"
    "white-space:nowrap}"
    ".bar{display:flex;height:48px;border-radius:8px;overflow:hidden;background:var(--bar);"
    "position:relative;margin:8px 0}.bar button{flex:1;min-width:0;padding:0;border:0;"
    "border-radius:0;position:relative;color:transparent}#fill{position:absolute;left:0;top:0;"
    "bottom:0;background:var(--acc)}ol{list-style:none;padding:0;margin:8px 0}"
    "li button{width:100%;justify-content:flex-start;text-align:left;border-width:0 0 1px;"
    "border-radius:0;overflow-wrap:anywhere}li button[aria-current]{font-weight:bold;"
    "color:var(--acc)}</style>";

// The live page: commands by fetch, the state once a second. A tap on the bar seeks to where
// it is tapped; without the script each tenth of the bar is a button of its own.
constexpr char16_t Script[] =
    u"<script>(function(){var f=document.getElementById('f'),bar=document.getElementById('bar');"
    "function $(i){return document.getElementById(i)}"
    "function t(s){var m=Math.floor(s/60);s%=60;return m+':'+(s<10?'0':'')+s}"
    "function put(i,v){var e=$(i);if(e&&e.textContent!==v)e.textContent=v}"
    "function show(j){put('state',j.state);put('title',j.title);put('artist',j.artist);"
    "put('pos',t(j.pos));put('len',t(j.len));"
    "$('fill').style.width=(j.len>0?Math.min(100,j.pos*100/j.len):0)+'%';"
    "bar.setAttribute('aria-valuenow',j.pos);bar.setAttribute('aria-valuemax',j.len);"
    "put('pp',j.status==='playing'?'一時停止':'再生');"
    "if(j.volume>=0)put('vol',j.volume+'%');"
    "var l=$('loop');l.setAttribute('aria-pressed',j.loop?'true':'false');"
    "put('loop',j.loop?'ループ再生: オン':'ループ再生: オフ');"
    "f.querySelectorAll('li button').forEach(function(b){"
    "if(b.value==='e'+j.current)b.setAttribute('aria-current','true');"
    "else b.removeAttribute('aria-current')})}"
    "function load(r){r.then(function(x){if(!x.ok){location.reload();return null}"
    "return x.json()}).then(function(j){if(j)show(j)}).catch(function(){})}"
    "function send(c){var b=new URLSearchParams();b.append('c',c);b.append('js','1');"
    "b.append('t',f.elements.t.value);"
    "load(fetch('/m/cmd',{method:'POST',body:b,cache:'no-store'}))}"
    "f.addEventListener('submit',function(e){var b=e.submitter;if(!b||!b.value)return;"
    "e.preventDefault();send(b.value)});"
    "bar.addEventListener('click',function(e){e.preventDefault();"
    "var r=bar.getBoundingClientRect(),x=(e.clientX-r.left)/r.width;"
    "send('s'+Math.round(Math.max(0,Math.min(1,x))*1000))});"
    "setInterval(function(){if(!document.hidden)load(fetch('/m/state',{cache:'no-store'}))},"
    "1000)})()</script>";

QString pageStart()
{
    return u"<!DOCTYPE html><html lang=\"ja\"><head><meta charset=\"utf-8\"><meta "
           u"name=\"viewport\" "
           "content=\"width=device-width, initial-scale=1\"><title>kelpa</title>"_s +
           QString::fromUtf16(Style) + u"</head><body>"_s;
}

// The form field that proves a request was sent from one of our own pages.
QString hiddenToken(const QByteArray &token)
{
    return u"<input type=\"hidden\" name=\"t\" value=\""_s + QString::fromLatin1(token) + u"\">"_s;
}

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

QString button(const QString &command, const QString &label, const QString &text,
               const QString &extra = {})
{
    return u"<button name=\"c\" value=\""_s + command + u"\" aria-label=\""_s + label + u'"' +
           extra + u'>' + text + u"</button>"_s;
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
    QString page = pageStart() + u"<main><h1>kelpa</h1>"_s;
    if (failed)
        page += u"<p role=\"alert\">ログインできませんでした。IDを確かめてください。"
                "QRコードは一度しか使えません。</p>"_s;
    page +=
        u"<form method=\"post\" action=\"/m/login\">"_s + hiddenToken(token) +
        u"<label for=\"id\">ID</label>"
        "<input id=\"id\" name=\"id\" type=\"text\" autocomplete=\"off\" autocapitalize=\"off\">"
        "<button type=\"submit\">ログイン</button></form></main></body></html>"_s;
    return page.toUtf8();
}

QByteArray PhonePairPage(const QByteArray &code)
{
    // The code comes from the address the QR code gave, so it is checked only on the POST and
    // shown nowhere but in the form's own target.
    QString target;
    AppendHtmlEscaped(target, QString::fromUtf8(code.toPercentEncoding()));
    return (pageStart() +
            u"<main><h1>kelpa</h1><form id=\"pair\" method=\"post\" action=\"/m/pair/"_s + target +
            u"\"><button type=\"submit\">ログイン</button></form></main>"
            "<script>document.getElementById('pair').submit()</script></body></html>"_s)
        .toUtf8();
}

int OpenEntry(const kelpa::PlayerControl &player, int hint)
{
    const QByteArray path = player.track().path;
    if (path.isEmpty())
        return -1;
    if (hint >= 0 && player.entryPath(hint) == path)
        return hint;
    const int count = player.entryCount();
    for (int i = 0; i < count; ++i) {
        if (player.entryPath(i) == path)
            return i;
    }
    return -1;
}

QString PhoneEntryText(const kelpa::PlayerControl &player, int index)
{
    const QString text = player.entryText(index);
    return text.isEmpty() ? fileName(player.entryPath(index)) : text;
}

QByteArray PhonePlayerPage(const kelpa::PlayerControl &player, int page, int open,
                           const QByteArray &token)
{
    const kelpa::TrackInfo track = player.track();
    const PlaybackStatus status = player.status();
    const int32_t position = player.position();
    const int32_t length = std::max(track.lengthSeconds, 0);
    const int count = player.entryCount();
    const int pages = std::max(1, (count + PhoneEntriesPerPage - 1) / PhoneEntriesPerPage);
    page = std::clamp(page, 0, pages - 1);
    const QString pageField = QString::number(page);

    QString out = pageStart();
    out.reserve(8192 + 120 * PhoneEntriesPerPage);
    out += u"<main><form id=\"f\" method=\"post\" action=\"/m/cmd\">"
           "<input type=\"hidden\" name=\"page\" value=\""_s +
           pageField + u"\">"_s + hiddenToken(token) + u"<p id=\"state\" class=\"dim\">"_s +
           stateText(status) + u"</p><h1 id=\"title\">"_s;
    AppendHtmlEscaped(out, track.path.isEmpty() ? QString() : shownTitle(track));
    out += u"</h1><p id=\"artist\" class=\"dim\">"_s;
    AppendHtmlEscaped(out, track.artist);
    out += u"</p><p><span id=\"pos\">"_s + clock(position) + u"</span> / <span id=\"len\">"_s +
           clock(length) + u"</span></p>"_s;

    // The bar: ten buttons, each seeking to the start of its tenth.
    const int filled = length > 0 ? std::clamp(position * 100 / length, 0, 100) : 0;
    out += u"<div id=\"bar\" class=\"bar\" role=\"progressbar\" aria-label=\"再生位置\" "
           "aria-valuemin=\"0\" aria-valuemax=\""_s +
           QString::number(length) + u"\" aria-valuenow=\""_s + QString::number(position) +
           u"\"><div id=\"fill\" style=\"width:"_s + QString::number(filled) + u"%\"></div>"_s;
    for (int tenth = 0; tenth < 10; ++tenth)
        out += u"<button name=\"c\" value=\"s%1\" title=\"%2%\">%2%</button>"_s.arg(tenth * 100)
                   .arg(tenth * 10);
    out += u"</div>"_s;

    out +=
        u"<div class=\"row\">"_s + button(u"prev"_s, u"前へ"_s, u"前へ"_s) +
        button(u"pp"_s, u"再生/一時停止"_s,
               u"<span id=\"pp\">"_s +
                   (status == PlaybackStatus::Playing ? u"一時停止"_s : u"再生"_s) + u"</span>"_s) +
        button(u"stop"_s, u"停止"_s, u"停止"_s) + button(u"next"_s, u"次へ"_s, u"次へ"_s) +
        u"</div>"_s;
    if (const int volume = player.volume(); volume >= 0)
        out += u"<div class=\"row\">"_s + button(u"vdown"_s, u"音量を下げる"_s, u"−"_s) +
               u"<span id=\"vol\" style=\"text-align:center\">"_s + QString::number(volume) +
               u"%</span>"_s + button(u"vup"_s, u"音量を上げる"_s, u"＋"_s) +
               button(u"mute"_s, u"消音"_s, u"消音"_s) + u"</div>"_s;
    const bool loop = player.loop();
    out += u"<div class=\"row\"><button id=\"loop\" name=\"c\" value=\"loop\" "
           "aria-label=\"ループ再生\" aria-pressed=\""_s +
           (loop ? u"true"_s : u"false"_s) + u"\">"_s +
           (loop ? u"ループ再生: オン"_s : u"ループ再生: オフ"_s) + u"</button></div>"_s;

    const int first = page * PhoneEntriesPerPage;
    const int last = std::min(count, first + PhoneEntriesPerPage);
    out += u"<h2 style=\"font-size:18px\">プレイリスト（"_s + QString::number(count) +
           u"曲）</h2><ol start=\""_s + QString::number(first + 1) + u"\">"_s;
    for (int i = first; i < last; ++i) {
        out += u"<li><button name=\"c\" value=\"e"_s + QString::number(i) + u'"';
        if (i == open)
            out += u" aria-current=\"true\""_s;
        out += u'>';
        AppendHtmlEscaped(out, PhoneEntryText(player, i));
        out += u"</button></li>"_s;
    }
    out += u"</ol><div class=\"row\">"_s;
    if (page > 0)
        out += u"<a class=\"b\" href=\"/m/?page="_s + QString::number(page - 1) +
               u"\">前の100曲</a>"_s;
    if (page + 1 < pages)
        out += u"<a class=\"b\" href=\"/m/?page="_s + QString::number(page + 1) +
               u"\">次の100曲</a>"_s;
    out += u"</div></form></main>"_s + QString::fromUtf16(Script) + u"</body></html>"_s;
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
    out +=
        u",\"pos\":%1,\"len\":%2,\"volume\":%3,\"loop\":%4,\"current\":%5}"_s.arg(player.position())
            .arg(std::max(track.lengthSeconds, 0))
            .arg(player.volume())
            .arg(player.loop() ? u"true"_s : u"false"_s)
            .arg(open);
    return out.toUtf8();
}
