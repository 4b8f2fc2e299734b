#include "app/passedover.h"
#include "app/qtjapanese.h"
#include "app/securemode.h"
#include "app/settingswindow.h"
#include "app/singleinstance.h"
#include "app/uifont.h"
#include "mpris/mprisservice.h"
#include "player/form1.h"
#include "player/player.h"
#include "webremote/frmsver.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char *argv[])
{
    DropLoadPathsInSecureMode();
    QApplication app(argc, argv);
    // Qt has taken its own options out of argv: what is left names files. Those that add
    // nothing are named on stderr.
    const QList<QByteArray> files = kelpa::CommandLineFiles(argc, argv);
    NamePassedOver(files, QCoreApplication::applicationDirPath());
    // Qt's own texts (a box's buttons among them) speak Japanese from the first box on.
    UseQtJapanese();
    kelpa::SingleInstance instance;
    if (const std::optional<int> exitCode = instance.start(files))
        return *exitCode;
    PreferCompactJapaneseFont();

    Player player(QCoreApplication::applicationDirPath());
    Form1 form1(player);
    std::unique_ptr<FrmSver> frmSver; // destroyed before the player it drives
    OpenSettingsOnLoad(form1, frmSver);
    if (!form1.Start())
        return 0;
    // Later starts hand their files over, and the desktop's media controls reach the player;
    // neither is there to be had everywhere, and the player runs without them. Both wait until
    // the event loop has put the window on the screen, and so do this start's files: the user
    // sees the window first.
    kelpa::MprisService mpris(player);
    QTimer::singleShot(0, &player, [&] {
        instance.serve(player);
        mpris.start();
        player.addFiles(files);
    });
    return QCoreApplication::exec();
}
