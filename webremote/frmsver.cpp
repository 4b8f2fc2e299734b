#include "frmsver.h"

#include <QCloseEvent>
#include <QScreen>

using namespace Qt::Literals::StringLiterals;

FrmSver::FrmSver(QWidget *parent)
    : QWidget(parent,
              // A tool window: small caption, no task bar button; the close button alone,
              // without minimise and maximise.
              Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                  | Qt::WindowCloseButtonHint)
{
    setObjectName(u"FrmSver"_s);
    setWindowTitle(u"kelpa"_s);
    setFixedSize(169, 163);
    move(screen()->availableGeometry().center() - rect().center());
}

void FrmSver::closeEvent(QCloseEvent *event)
{
    event->ignore();
}
