// What a request asks for, carried out on the player through the operations its own buttons
// and list use, and answered.
#include "remoteserver.h"

#include "net/ansi.h"
#include "pages.h"
#include "request.h"

#include <QSysInfo>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

QString RemoteServer::BuildControlPage() const
{
    return ::BuildControlPage(
        player_.caption(), player_.entryCount(),
        [this](int index) { return player_.entryText(index); }, ListByteLimit);
}

QString RemoteServer::IdleCaption() const
{
    return lockoutTimer_->isActive() ? u"kelpa (ログイン停止中)"_s : u"kelpa"_s;
}

void RemoteServer::CountMiss()
{
    const qint64 now = clock_.elapsed();
    misses_.removeIf([&](qint64 at) { return now - at >= timings_.missWindowMs; });
    misses_.append(now);
    if (misses_.size() < MaxMisses)
        return;
    // Guessing the login number, or the ID, must take longer than anyone goes on guessing.
    misses_.clear();
    lockoutTimer_->start(timings_.lockoutMs);
}

void RemoteServer::HandleRequest()
{
    // From here the connection is this request's until its answer is out.
    const QString request = AnsiDecode(RecvBuffer);
    const std::optional<QString> path = RequestPath(request);
    if (!path || !IsHostAccepted(request, QSysInfo::machineHostName())) {
        SendNotFound();
        return;
    }
    setCaption(u"kelpa (処理中)"_s);

    const std::optional<int16_t> loginNumber = LoggedIn ? std::optional(LoginNumber) : std::nullopt;
    Route route = RouteRequest(*path, LoginId, loginNumber);
    if (lockoutTimer_->isActive() && route.kind != Route::LoginForm &&
        route.kind != Route::NotFound)
        route = {Route::LoginError};
    else if (route.miss)
        CountMiss();
    switch (route.kind) {
    case Route::LoginForm:
        SendPage(LoginPage());
        break;
    case Route::Login:
        LoginNumber = static_cast<int16_t>(random_.bounded(LoginNumberRange));
        LoggedIn = true;
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
