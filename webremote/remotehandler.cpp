#include "remotehandler.h"

#include "net/ansi.h"
#include "pages.h"
#include "phoneassets.h"
#include "phonedevice.h"
#include "phonepages.h"
#include "request.h"

#include <QUrl>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using Proof = LoginGuard::Proof;

void RemoteState::setLoginId(const QString &id, qint64 now)
{
    if (id == LoginId)
        return;
    LoginId = id;
    LoggedIn = false;
    phones.closeAll(now);
}

// One request on its way through the routes.
struct Exchange {
    const Request &request;
    const QHostAddress &peer;
    qint64 now;
    RemoteState &state;
    kelpa::PlayerControl &player;
    Reply answer;

    // The design's pages (from the player's code page) and the phone pages (UTF-8).
    void design(const QString &page) { answer.bytes = AnsiEncode(BuildOkResponse(page)); }
    void notFound() { answer.bytes = AnsiEncode(BuildNotFoundResponse()); }
    void phone(const QByteArray &page) { answer.bytes = PhoneOkResponse(page, "text/html"); }
    void miss(Proof proof)
    {
        state.guard.miss(peer, now, proof);
        answer.missed = true;
    }

    void designRoute(const QString &path);
    void phoneLogin(const PhoneFields &fields);
    void phonePair(const PhoneFields &fields);
    void phonePage(const PhoneFields &fields);
    void phoneState(const PhoneFields &fields);
    void phoneCommand(const PhoneFields &fields);
    void phoneArt(const PhoneFields &fields);
    void phoneAsset(const PhoneFields &fields);
    void loggedIn(PhoneRole role);
    void runCommand(const QString &command, const QByteArray &session);
    void playListedEntry(QStringView command, const QByteArray &session);
    void tell(const QByteArray &session, const QString &note);
    QString takeNote(const QByteArray &session);
};

namespace {

// The phone pages' routes: the method (empty: any) and the path, exact or (true) a prefix.
struct PhoneRoute {
    QByteArrayView method;
    QStringView path;
    bool prefix;
    void (Exchange::*handle)(const PhoneFields &);
};

// Whatever changes anything goes by POST with a token read off one of our own pages, which no
// page from elsewhere can read: a GET, an image or a navigation never gets that far.
const PhoneRoute PhoneRoutes[] = {
    {"POST", u"/m/login", false, &Exchange::phoneLogin},
    {{}, u"/m/pair/", true, &Exchange::phonePair},
    {{}, u"/m/", false, &Exchange::phonePage},
    {{}, u"/m/login", false, &Exchange::phonePage},
    {{}, u"/m/state", false, &Exchange::phoneState},
    {{}, u"/m/cmd", false, &Exchange::phoneCommand},
    {"GET", u"/m/art", false, &Exchange::phoneArt},
    // What "Add to Home Screen" reads: nothing in it is the owner's.
    {"GET", u"/m/manifest.webmanifest", false, &Exchange::phoneAsset},
    {"GET", u"/m/icon-192.png", false, &Exchange::phoneAsset},
    {"GET", u"/m/icon-512.png", false, &Exchange::phoneAsset},
    {"GET", u"/m/apple-touch-icon.png", false, &Exchange::phoneAsset},
};

// A guest chooses what plays and when, and no more: the loop, stopping, seeking and the
// volume stay with those who operate the player.
bool GuestMay(const QString &command)
{
    return command == u"pp"_s || command == u"prev"_s || command == u"next"_s ||
           (command.startsWith(u'e') && command.size() > 1);
}

} // namespace

Reply HandleRequest(const QByteArray &received, const QHostAddress &peer, qint64 now,
                    RemoteState &state, kelpa::PlayerControl &player, const HostNames &names)
{
    const Request request = ReadRequest(received);
    Exchange exchange{request, peer, now, state, player, {}};
    const bool allowed = IsHostAccepted(request, names) && !IsCrossSite(request);
    if (IsPhoneRequest(received)) {
        exchange.answer.unpaced = true;
        const std::optional<PhoneFields> fields = ReadPhoneFields(request);
        if (!fields || !allowed) {
            exchange.notFound();
            return exchange.answer;
        }
        for (const PhoneRoute &route : PhoneRoutes) {
            if ((route.method.isEmpty() || route.method == request.method) &&
                (route.prefix ? fields->path.startsWith(route.path) : fields->path == route.path)) {
                (exchange.*route.handle)(*fields);
                return exchange.answer;
            }
        }
        exchange.notFound();
        return exchange.answer;
    }
    const std::optional<QString> path = DesignPath(request);
    if (!path || !allowed) {
        exchange.notFound();
        return exchange.answer;
    }
    exchange.answer.busy = true;
    exchange.designRoute(*path);
    return exchange.answer;
}

void Exchange::designRoute(const QString &path)
{
    // The login number is the address's that logged in: from anywhere else it is a guess.
    const std::optional<int16_t> number =
        state.LoggedIn && state.LoginPeer == peer ? std::optional(state.LoginNumber) : std::nullopt;
    Route route = RouteRequest(path, state.LoginId, number);
    const bool credential = route.miss || route.kind == Route::Login ||
                            route.kind == Route::Control || route.kind == Route::PlayEntry;
    // Any page the owner opens can have the browser send these, so they are blind tries.
    if (credential && !state.guard.admit(peer, now, Proof::Blind)) {
        // Refused alike whether the ID or the number was right, so a refusal tells nothing:
        // a login gets the login error page, a control path the 404.
        route = {path.startsWith(u"/l.cgi"_s) ? Route::LoginError : Route::NotFound, std::nullopt,
                 0, route.miss};
    }
    if (route.miss)
        miss(Proof::Blind);
    bool shown = true;
    switch (route.kind) {
    case Route::LoginForm:
        design(LoginPage());
        return;
    case Route::Login:
        state.guard.trust(peer, now);
        state.LoginNumber =
            static_cast<int16_t>(state.random.bounded(RemoteState::LoginNumberRange));
        state.LoggedIn = true;
        state.LoginPeer = peer;
        design(WelcomePage(state.LoginNumber));
        return;
    case Route::LoginError:
        design(LoginErrorPage());
        return;
    case Route::Control:
        if (route.command)
            player.run(*route.command);
        break;
    case Route::PlayEntry:
        shown = player.playEntry(route.entry); // a refused entry: the selection stays
        break;
    case Route::NotFound:
        notFound();
        return;
    }
    // The command ran before the page is built, so the page shows its effect. A box the
    // command brought up (an "Open Error") stays with the person at the desktop; the answer
    // does not wait for it.
    if (!shown) {
        notFound();
        return;
    }
    design(BuildControlPage(
        player.caption(), player.entryCount(),
        [this](int index) { return player.entryText(index); }, state.listByteLimit));
}

// The phone pages: a login by the ID or by the pairing code opens a session of that phone's
// own; a session sees the player page and sends commands, each answered by a redirect so that
// a reload never repeats it. A cookie of no open session (one from an earlier run, or ended
// by an ID change) gets the login page and counts as no miss: its 128 random bits leave
// nothing to guess.

void Exchange::phoneLogin(const PhoneFields &fields)
{
    PhoneSessions &phones = state.phones;
    if (!SameSecret(fields.form.value(u"t"_s).toUtf8(), phones.loginToken())) {
        phone(PhoneLoginPage(PhoneLoginNote::None, phones.loginToken()));
        return;
    }
    // Refused alike whether the ID was right, and a refused try is no miss: the page says how
    // long the address waits, which tells nothing of the ID.
    if (!state.guard.admit(peer, now, Proof::Proven)) {
        phone(PhoneLoginPage(PhoneLoginNote::Locked, phones.loginToken(),
                             state.guard.refusedUntil(peer, now, Proof::Proven) - now));
        return;
    }
    if (!state.LoginId.isEmpty() && fields.form.value(u"id"_s) == state.LoginId) {
        loggedIn(PhoneRole::Operate);
        return;
    }
    miss(Proof::Proven);
    phone(PhoneLoginPage(PhoneLoginNote::WrongId, phones.loginToken()));
}

void Exchange::phonePair(const PhoneFields &fields)
{
    // 96 random bits leave nothing to guess, so a wrong code is no miss and no lock keeps the
    // right one out. Only a POST uses it up: a link preview's GET does not.
    const QByteArray code = fields.path.mid(8).toUtf8();
    if (!fields.post) {
        phone(PhonePairPage(code));
    } else if (const std::optional<PhoneRole> role = state.phones.redeem(code, now)) {
        answer.paired = true;
        loggedIn(*role);
    } else {
        phone(PhoneLoginPage(PhoneLoginNote::CodeUsed, state.phones.loginToken()));
    }
}

void Exchange::loggedIn(PhoneRole role)
{
    // Trust is the owner's standing against the throttle; a guest's session needs none.
    if (role == PhoneRole::Operate)
        state.guard.trust(peer, now);
    const QByteArray agent = request.values("user-agent").value(0).value_or(QByteArray());
    answer.bytes = PhoneRedirect("/m/", state.phones.open(peer, now, role, PhoneDeviceName(agent)));
}

void Exchange::phonePage(const PhoneFields &fields)
{
    // A session's 128 bits are proof enough: no lock of its address refuses it.
    if (!state.phones.isOpen(fields.session, now)) {
        phone(PhoneLoginPage(PhoneLoginNote::None, state.phones.loginToken()));
        return;
    }
    bool numbered = false;
    const int page = fields.query.value(u"page"_s).toInt(&numbered);
    phone(PhonePlayerPage(player, {numbered && page >= 0 ? page : -1, fields.query.value(u"q"_s),
                                   state.phones.formToken(fields.session), takeNote(fields.session),
                                   state.phones.role(fields.session) == PhoneRole::Operate}));
}

void Exchange::phoneState(const PhoneFields &fields)
{
    if (state.phones.isOpen(fields.session, now))
        answer.bytes =
            PhoneOkResponse(PhoneState(player, takeNote(fields.session)), "application/json");
    else
        notFound(); // the live page then loads again, and finds the login page
}

void Exchange::phoneCommand(const PhoneFields &fields)
{
    PhoneSessions &phones = state.phones;
    if (!phones.isOpen(fields.session, now) || !fields.post ||
        !SameSecret(fields.form.value(u"t"_s).toUtf8(), phones.formToken(fields.session))) {
        answer.bytes = PhoneRedirect("/m/");
        return;
    }
    const QString command = fields.form.value(u"c"_s);
    // Whatever a guest's page shows or hides, the server decides.
    if (phones.role(fields.session) == PhoneRole::Operate || GuestMay(command)) {
        // A track that fails to open is this phone's news as well as the desktop's box.
        QString failed;
        const QMetaObject::Connection watch =
            QObject::connect(&player, &kelpa::PlayerControl::openFailed,
                             [&failed](const QByteArray &path) { failed = PhoneFileName(path); });
        runCommand(command, fields.session);
        QObject::disconnect(watch);
        if (!failed.isEmpty())
            tell(fields.session, u"開けませんでした: "_s + failed);
    }
    if (fields.form.contains(u"js"_s)) {
        answer.bytes = PhoneRedirect("/m/state");
        return;
    }
    // Back to the page of the list the command came from.
    bool numbered = false;
    const int page = fields.form.value(u"page"_s).toInt(&numbered);
    const QString query = fields.form.value(u"q"_s).trimmed();
    QByteArray location = "/m/";
    if (numbered && page >= 0)
        location += "?page=" + QByteArray::number(page);
    if (!query.isEmpty())
        location += (location.contains('?') ? "&q=" : "?q=") + QUrl::toPercentEncoding(query);
    answer.bytes = PhoneRedirect(location);
}

void Exchange::phoneArt(const PhoneFields &fields)
{
    // Only the open track's picture, and only to a session.
    answer.bytes = state.phones.isOpen(fields.session, now)
                       ? PhonePictureResponse(player.picture().bytes)
                       : QByteArray();
    if (answer.bytes.isEmpty())
        notFound();
}

void Exchange::phoneAsset(const PhoneFields &fields)
{
    if (const std::optional<QByteArray> asset = PhoneAssetResponse(fields.path))
        answer.bytes = *asset;
    else
        notFound();
}

void Exchange::tell(const QByteArray &session, const QString &note)
{
    // Notes of sessions that have ended go first: there are never more than sessions.
    if (!state.phoneNotes.contains(session) &&
        state.phoneNotes.size() >= PhoneSessions::MaxSessions)
        state.phoneNotes.removeIf(
            [this](const auto &entry) { return state.phones.formToken(entry.key()).isEmpty(); });
    state.phoneNotes.insert(session, note);
}

QString Exchange::takeNote(const QByteArray &session)
{
    return state.phoneNotes.take(session);
}

void Exchange::runCommand(const QString &command, const QByteArray &session)
{
    using kelpa::Transport;
    if (command == u"prev"_s)
        player.run(Transport::Previous);
    else if (command == u"next"_s)
        player.run(Transport::Next);
    else if (command == u"stop"_s)
        player.run(Transport::Stop);
    else if (command == u"pp"_s)
        player.playPause();
    else if (command == u"loop"_s)
        player.setLoop(!player.loop());
    else if (command == u"vdown"_s)
        player.volumeDown();
    else if (command == u"vup"_s)
        player.volumeUp();
    else if (command == u"mute"_s)
        player.toggleMute();
    if (command.startsWith(u'e')) {
        playListedEntry(command, session);
        return;
    }
    if (command.size() < 2)
        return;
    bool numbered = false;
    const int number = QStringView(command).mid(1).toInt(&numbered);
    if (!numbered || number < 0)
        return;
    if (command.startsWith(u's') && number <= 1000) {
        const int32_t length = player.track().lengthSeconds;
        if (length > 0)
            player.seek(static_cast<int32_t>(int64_t{length} * number / 1000));
    }
}

// "e12.345.KEY": entry 12 of a list built at the playlist's revision 345, whose path has that
// key. The list may have changed since the page was built: the entry then plays only where it
// is known for sure, at the same place or as the one entry of that path; otherwise nothing
// plays, and the phone is told and shown the list as it is now.
void Exchange::playListedEntry(QStringView command, const QByteArray &session)
{
    const QList<QStringView> parts = command.mid(1).split(u'.');
    bool numbered = false;
    const int index = parts.value(0).toInt(&numbered);
    const int count = player.entryCount();
    if (!numbered || index < 0)
        return;
    const QByteArray key = parts.value(2).toLatin1();
    const auto named = [&](int i) { return PhoneEntryKey(player.entryPath(i)) == key; };
    const bool unchanged =
        parts.size() == 3 && parts[1] == QString::number(player.playlistRevision());
    int found = index < count && (unchanged || named(index)) ? index : -1;
    if (found < 0) {
        for (int i = 0; i < count; ++i) {
            if (!named(i))
                continue;
            if (found >= 0) { // the path is there twice: which one was meant is not known
                found = -1;
                break;
            }
            found = i;
        }
    }
    if (found < 0)
        tell(session, u"リストが変わったため再生しませんでした。今のリストから選んでください。"_s);
    else
        player.playEntry(found);
}
