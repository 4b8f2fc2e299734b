// The phone pages: a login by the ID or by the pairing code opens a session of that phone's
// own; a session sees the player page and sends commands, each answered by a redirect so that
// a reload never repeats it. The Host check, the refusal of other sites' pages and the throttle
// apply as to the design's pages, and a refusal looks the same whether the ID was right or
// wrong. A cookie of no open session (one from an earlier run, or ended by an ID
// change) gets the login page and counts as no miss: its 128 random bits leave nothing to guess.
#include "remoteserver.h"

#include "net/ansi.h"
#include "phonepages.h"
#include "phonerequest.h"
#include "request.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray htmlResponse(const QByteArray &page)
{
    return PhoneOkResponse(page, "text/html");
}

} // namespace

void RemoteServer::HandlePhoneRequest()
{
    const std::optional<PhoneRequest> phone = ParsePhoneRequest(RecvBuffer);
    const QString request = AnsiDecode(RecvBuffer);
    if (!phone || !IsHostAccepted(request, LocalHostNames()) || IsCrossSite(request)) {
        SendNotFound();
        return;
    }
    setCaption(u"kelpa (処理中)"_s);
    const qint64 now = clock_.elapsed();
    const QString &path = phone->path;

    // Whatever changes anything goes by POST with a token read off one of our own pages, which
    // no page from elsewhere can read: a GET, an image or a navigation never gets that far.
    if (path == u"/m/login"_s && phone->post) {
        if (!SameSecret(phone->form.value(u"t"_s).toUtf8(), phones_.loginToken())) {
            SendBytes(htmlResponse(PhoneLoginPage(false, phones_.loginToken())));
            return;
        }
        // Refused alike whether the ID was right, and a refused try is no miss.
        const bool admitted = guard_.admit(peer_, now, LoginGuard::Proof::Proven);
        const bool right = !LoginId.isEmpty() && phone->form.value(u"id"_s) == LoginId;
        if (admitted && !right) {
            guard_.miss(peer_, now, LoginGuard::Proof::Proven);
            ShowLocks();
        }
        PhoneLogin(admitted && right, now);
        return;
    }
    if (path.startsWith(u"/m/pair/"_s)) {
        // 96 random bits leave nothing to guess, so a wrong code is no miss and no lock keeps
        // the right one out. Only a POST uses it up: a link preview's GET does not.
        const QByteArray code = path.mid(8).toUtf8();
        if (!phone->post)
            SendBytes(htmlResponse(PhonePairPage(code)));
        else if (phones_.redeem(code, now)) {
            RenewPairingCode();
            PhoneLogin(true, now);
        } else
            PhoneLogin(false, now);
        return;
    }

    // A session's 128 bits are proof enough: no lock of its address refuses it.
    const bool in = phones_.isOpen(phone->session, now);
    if (path == u"/m/"_s || path == u"/m/login"_s) {
        if (!in) {
            SendBytes(htmlResponse(PhoneLoginPage(false, phones_.loginToken())));
            return;
        }
        bool numbered = false;
        int page = phone->query.value(u"page"_s).toInt(&numbered);
        const int open = player_.currentEntry();
        if (!numbered)
            page = std::max(open, 0) / PhoneEntriesPerPage; // where the open track is
        SendBytes(
            htmlResponse(PhonePlayerPage(player_, page, open, phones_.formToken(phone->session))));
    } else if (path == u"/m/state"_s) {
        if (in)
            SendBytes(
                PhoneOkResponse(PhoneState(player_, player_.currentEntry()), "application/json"));
        else
            SendNotFound(); // the live page then loads again, and finds the login page
    } else if (path == u"/m/cmd"_s) {
        if (!in || !phone->post ||
            !SameSecret(phone->form.value(u"t"_s).toUtf8(), phones_.formToken(phone->session))) {
            SendBytes(PhoneRedirect("/m/"));
            return;
        }
        RunPhoneCommand(phone->form.value(u"c"_s));
        SendBytes(PhoneRedirect(phone->form.contains(u"js"_s)
                                    ? QByteArray("/m/state")
                                    : PhonePageLocation(phone->form.value(u"page"_s))));
    } else {
        SendNotFound();
    }
}

void RemoteServer::PhoneLogin(bool right, qint64 now)
{
    if (!right) {
        SendBytes(htmlResponse(PhoneLoginPage(true, phones_.loginToken())));
        return;
    }
    guard_.trust(peer_);
    SendBytes(PhoneRedirect("/m/", phones_.open(peer_, now)));
}

QByteArray RemoteServer::PhonePageLocation(const QString &page) const
{
    bool numbered = false;
    const int number = page.toInt(&numbered);
    if (!numbered || number < 0)
        return "/m/";
    return "/m/?page=" + QByteArray::number(number);
}

void RemoteServer::RunPhoneCommand(const QString &command)
{
    using kelpa::Transport;
    if (command == u"prev"_s)
        player_.run(Transport::Previous);
    else if (command == u"next"_s)
        player_.run(Transport::Next);
    else if (command == u"stop"_s)
        player_.run(Transport::Stop);
    else if (command == u"pp"_s)
        player_.playPause();
    else if (command == u"loop"_s)
        player_.setLoop(!player_.loop());
    else if (command == u"vdown"_s)
        player_.volumeDown();
    else if (command == u"vup"_s)
        player_.volumeUp();
    else if (command == u"mute"_s)
        player_.toggleMute();
    if (command.size() < 2)
        return;
    bool numbered = false;
    const int number = QStringView(command).mid(1).toInt(&numbered);
    if (!numbered || number < 0)
        return;
    if (command.startsWith(u's') && number <= 1000) {
        const int32_t length = player_.track().lengthSeconds;
        if (length > 0)
            player_.seek(static_cast<int32_t>(int64_t{length} * number / 1000));
    } else if (command.startsWith(u'e') && number < player_.entryCount())
        player_.playEntry(number);
}
