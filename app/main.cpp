#include "app/passedover.h"
#include "app/qtjapanese.h"
#include "app/securemode.h"
#include "app/settingswindow.h"
#include "app/uifont.h"
#include "handover/handover.h"
#include "handover/privatefolder.h"
#include "mpris/mprisservice.h"
#include "player/form1.h"
#include "player/player.h"
#include "webremote/frmsver.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    DropLoadPathsInSecureMode();
    QApplication app(argc, argv);
    // The hand-over socket and the single-instance lock lie in a folder no other user can
    // enter; without one (empty) neither is made, and this copy runs as if it were alone.
    const QString privateDir = kelpa::PrivateFolder();
    const QString handoverSocket = kelpa::HandoverSocketPath(privateDir);
    // Qt has taken its own options out of argv: what is left names files. Those that add
    // nothing are named on stderr. A copy that runs already takes them, and this start ends
    // without another word; with no files, or no copy to take them, the start goes on, and a
    // second copy is refused as ever.
    const QList<QByteArray> files = kelpa::CommandLineFiles(argc, argv);
    NamePassedOver(files, QCoreApplication::applicationDirPath());
    if (!files.isEmpty() && kelpa::HandOverFiles(handoverSocket, files))
        return 0;

    PreferCompactJapaneseFont();
    UseQtJapanese();
    Player player(QCoreApplication::applicationDirPath(), privateDir);
    // A copy runs but did not take the files (swamped, or not listening yet). The box of a plain
    // second start would read as if they had gone to it, and would hold a script's start until
    // clicked: the start says what became of the files and fails instead.
    if (!files.isEmpty() && player.AnotherCopyRunning()) {
        std::fprintf(stderr, "kelpa: %lld files could not be handed to the running kelpa\n",
                     static_cast<long long>(files.size()));
        return 1;
    }
    Form1 form1(player);
    std::unique_ptr<FrmSver> frmSver; // destroyed before the player it drives
    OpenSettingsOnLoad(form1, frmSver);
    if (!form1.Start())
        return 0;
    // Later starts hand their files over, and the desktop's media controls reach the player;
    // neither is there to be had everywhere, and the player runs without them. Both wait until
    // the event loop has put the window on the screen, and so do this start's files: the user
    // sees the window first.
    kelpa::HandoverServer handover(player, handoverSocket);
    kelpa::MprisService mpris(player);
    QTimer::singleShot(0, &player, [&] {
        handover.listen();
        mpris.start();
        player.addFiles(files);
    });
    return QCoreApplication::exec();
}
