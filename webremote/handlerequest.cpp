// What a request asks for, carried out on the player through the operations its own buttons
// and list use, and answered.
#include "frmsver.h"

#include "net/ansi.h"
#include "pages.h"
#include "request.h"

#include <QApplication>
#include <QSysInfo>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

QString FrmSver::BuildControlPage() const
{
    return ::BuildControlPage(
        player_.caption(), player_.entryCount(),
        [this](int index) { return player_.entryText(index); }, ListByteLimit);
}

void FrmSver::SendLoginPage()
{
    SendPage(LoginPage());
}

QString FrmSver::IdleCaption() const
{
    return lockoutTimer_->isActive() ? u"kelpa (ログイン停止中)"_s : u"kelpa"_s;
}

void FrmSver::CountMiss()
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

void FrmSver::HandleRequest()
{
    // From here the connection is this request's until its answer is out, also while a player
    // operation holds the thread with a message box.
    const QString request = AnsiDecode(RecvBuffer);
    const std::optional<QString> path = RequestPath(request);
    if (!path || !IsHostAccepted(request, QSysInfo::machineHostName())) {
        SendNotFound();
        return;
    }
    setWindowTitle(u"kelpa (処理中)"_s);

    const std::optional<int16_t> loginNumber = LoggedIn ? std::optional(LoginNumber) : std::nullopt;
    Route route = RouteRequest(*path, LoginId, loginNumber);
    if (lockoutTimer_->isActive() && route.kind != Route::LoginForm &&
        route.kind != Route::NotFound)
        route = {Route::LoginError};
    else if (route.miss)
        CountMiss();
    switch (route.kind) {
    case Route::LoginForm:
        SendLoginPage();
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
        RunThenAnswer([this, command = route.command] {
            if (command)
                player_.run(*command);
            return true;
        });
        break;
    case Route::PlayEntry:
        RunThenAnswer([this, entry = route.entry] { return player_.playEntry(entry); });
        break;
    case Route::NotFound:
        SendNotFound();
        break;
    }
}

void FrmSver::RunThenAnswer(const std::function<bool()> &command)
{
    // Carried out before the page is built, so the page shows its effect. A box the command
    // brings up (an "Open Error") waits for the person at the desktop; the answer goes out
    // from the box's event loop instead, and the server goes on serving meanwhile.
    const uint64_t request = ++requests_;
    unanswered_ = request;
    qApp->installEventFilter(this);
    const bool done = command();
    qApp->removeEventFilter(this);
    SendPendingAnswer(request, done);
}

void FrmSver::SendPendingAnswer(uint64_t request, bool done)
{
    if (unanswered_ != request)
        return;
    unanswered_ = 0;
    if (done)
        SendPage(BuildControlPage());
    else
        SendNotFound(); // a refused entry: the selection stays as it was
}
