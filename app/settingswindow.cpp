#include "settingswindow.h"

#include "player/form1.h"
#include "webremote/frmsver.h"

void OpenSettingsOnLoad(Form1 &form1, std::unique_ptr<FrmSver> &frmSver)
{
    QObject::connect(&form1, &Form1::Loaded, &form1, [&form1, &frmSver] {
        if (!frmSver)
            frmSver = std::make_unique<FrmSver>(form1.Control(), form1.windowIcon());
        frmSver->show();
    });
}
