#include "player/form1.h"
#include "uifont.h"

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    PreferCompactJapaneseFont();
    Form1 form1(QCoreApplication::applicationDirPath(),
                QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    if (!form1.Start())
        return 0;
    return QCoreApplication::exec();
}
