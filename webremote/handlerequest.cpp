// What a request asks for, carried out on the player through the operations its own buttons
// and list use, and answered.
#include "frmsver.h"

#include "net/ansi.h"
#include "pages.h"
#include "request.h"

#include <QCoreApplication>
#include <QThread>
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

void FrmSver::HandleRequest()
{
    if (!IsRequestComplete(RecvBuffer)) {
        if (RecvBuffer.size() > RecvBufferLimit) {
            answering_ = true;
            SendNotFound();
            return;
        }
        FinalSteps();
        return;
    }
    // From here the connection is this request's until its answer is out, also while a player
    // operation holds it with a message box.
    answering_ = true;
    requestTimer_->stop();

    const std::optional<QString> path = RequestPath(AnsiDecode(RecvBuffer));
    if (!path) {
        SendNotFound();
        return;
    }
    setWindowTitle(u"kelpa (処理中)"_s);

    const std::optional<int16_t> loginNumber = LoggedIn ? std::optional(LoginNumber) : std::nullopt;
    const Route route = RouteRequest(*path, LoginId, loginNumber);
    switch (route.kind) {
    case Route::LoginForm:
        SendLoginPage();
        break;
    case Route::Login:
        LoginNumber = static_cast<int16_t>(random_.bounded(10000));
        LoggedIn = true;
        SendPage(WelcomePage(LoginNumber));
        break;
    case Route::LoginError:
        SendPage(LoginErrorPage());
        break;
    case Route::Control:
        // Carried out before the page is built, so the page shows its effect.
        if (route.command)
            player_.run(*route.command);
        SendPage(BuildControlPage());
        break;
    case Route::PlayEntry:
        if (player_.playEntry(route.entry)) {
            SendPage(BuildControlPage());
        } else {
            SendNotFound(); // the selection stays as it was
        }
        break;
    case Route::NotFound:
        SendNotFound();
        break;
    }
    FinalSteps();
}

void FrmSver::FinalSteps()
{
    setWindowTitle(u"kelpa"_s);
    QCoreApplication::processEvents();
    // Each request costs the whole thread a tenth of a second; this also paces a client that
    // sends its request in many small pieces.
    QThread::msleep(100);
}
