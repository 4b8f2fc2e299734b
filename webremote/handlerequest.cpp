// What a request asks for, carried out on the player through the operations its own buttons
// and list use, and answered.
#include "remoteserver.h"

#include "net/ansi.h"
#include "pages.h"
#include "phonerequest.h"
#include "request.h"

#include <QTimer>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

QString RemoteServer::BuildControlPage() const
{
    return ::BuildControlPage(
        player_.caption(), player_.entryCount(),
        [this](int index) { return player_.entryText(index); }, ListByteLimit);
}

QString RemoteServer::IdleCaption() const
{
    return guard_.isLocking(clock_.elapsed()) ? u"kelpa (ログイン停止中)"_s : u"kelpa"_s;
}

void RemoteServer::ShowLocks()
{
    // The caption shows a lock for as long as it lasts, except while answering.
    if (!answering_)
        setCaption(IdleCaption());
    const qint64 now = clock_.elapsed();
    const qint64 next = guard_.nextChange(now);
    if (next < 0)
        lockoutTimer_->stop();
    else
        lockoutTimer_->start(static_cast<int>(std::min<qint64>(next - now, 24 * 3600 * 1000)));
}

void RemoteServer::HandleRequest()
{
    // From here the connection is this request's until its answer is out. What a page from
    // elsewhere has a browser send can neither drive the remote, log in, nor count as a miss.
    if (IsPhoneRequest(RecvBuffer)) {
        HandlePhoneRequest();
        return;
    }
    const QString request = AnsiDecode(RecvBuffer);
    const std::optional<QString> path = RequestPath(request);
    if (!path || !IsHostAccepted(request, LocalHostNames()) || IsCrossSite(request)) {
        SendNotFound();
        return;
    }
    setCaption(u"kelpa (処理中)"_s);

    // The login number is the address's that logged in: from anywhere else it is a guess.
    const std::optional<int16_t> loginNumber =
        LoggedIn && LoginPeer == peer_ ? std::optional(LoginNumber) : std::nullopt;
    Route route = RouteRequest(*path, LoginId, loginNumber);
    const bool credential = route.miss || route.kind == Route::Login ||
                            route.kind == Route::Control || route.kind == Route::PlayEntry;
    const qint64 now = clock_.elapsed();
    // Any page the owner opens can have the browser send these, so they are blind tries.
    if (credential && !guard_.admit(peer_, now, LoginGuard::Proof::Blind)) {
        // Refused alike whether the ID or the number was right, so a refusal tells nothing:
        // a login gets the login error page, a control path the 404.
        route = {path->startsWith(u"/l.cgi"_s) ? Route::LoginError : Route::NotFound, std::nullopt,
                 0, route.miss};
    }
    if (route.miss) {
        guard_.miss(peer_, now, LoginGuard::Proof::Blind);
        ShowLocks(); // shown once the answer is out
    }
    switch (route.kind) {
    case Route::LoginForm:
        SendPage(LoginPage());
        break;
    case Route::Login:
        guard_.trust(peer_);
        LoginNumber = static_cast<int16_t>(random_.bounded(LoginNumberRange));
        LoggedIn = true;
        LoginPeer = peer_;
        SendPage(WelcomePage(LoginNumber));
        break;
    case Route::LoginError:
        SendPage(LoginErrorPage());
        break;
    case Route::Control:
        if (route.command)
            player_.run(*route.command);
        Answer(true);
        break;
    case Route::PlayEntry:
        Answer(player_.playEntry(route.entry));
        break;
    case Route::NotFound:
        SendNotFound();
        break;
    }
}

void RemoteServer::Answer(bool done)
{
    // The command ran before the page is built, so the page shows its effect. A box the
    // command brought up (an "Open Error") stays with the person at the desktop; the answer
    // does not wait for it.
    if (done)
        SendPage(BuildControlPage());
    else
        SendNotFound(); // a refused entry: the selection stays as it was
}
