#include "playerdrive.h"

#include "player/form1.h"
#include "player/player.h"

#include <QAction>
#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace Bench {

void dropOnList(Form1 &form, const QStringList &paths)
{
    QWidget *list = form.findChild<QWidget *>(u"List1"_s);
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data.setUrls(urls);
    const QPoint pos = list->mapTo(&form, list->rect().center());
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.windowHandle(), &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.windowHandle(), &move);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.windowHandle(), &drop);
    waitUntilRead(form);
}

void waitUntilRead(Form1 &form)
{
    const auto &player = dynamic_cast<const Player &>(form.Control());
    while (player.Reading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

void deleteAll(Form1 &form)
{
    form.findChild<QAction *>(u"mnuDelateAll"_s)->trigger();
    QCoreApplication::processEvents();
}

} // namespace Bench
