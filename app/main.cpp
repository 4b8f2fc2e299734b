#include "app/settingswindow.h"
#include "app/uifont.h"
#include "player/form1.h"
#include "webremote/frmsver.h"

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    PreferCompactJapaneseFont();
    Form1 form1(QCoreApplication::applicationDirPath(),
                QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    std::unique_ptr<FrmSver> frmSver; // destroyed before the player it drives
    OpenSettingsOnLoad(form1, frmSver);
    if (!form1.Start())
        return 0;
    return QCoreApplication::exec();
}
