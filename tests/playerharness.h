// A player for widget tests: the Player and its window Form1 started against the fake engine
// library, with the window's parts looked up by name, drops delivered as the window system
// delivers them, and timer ticks run on demand.
#pragma once

#include "fakeengine/fakeengine.h"
#include "player/form1.h"
#include "player/picturebox.h"
#include "player/player.h"
#include "player/playlistbox.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <functional>
#include <memory>

using namespace Qt::Literals::StringLiterals;

class PlayerHarness {
public:
    // Starts the player with the given engine folder; the timer is held, so that a test
    // decides when a tick happens. beforeStart gets the window before its load routine runs.
    explicit PlayerHarness(const QString &engineDir = FakeEngine::completeDir(),
                           const std::function<void(Form1 &)> &beforeStart = {})
    {
        core = std::make_unique<Player>(engineDir);
        form = std::make_unique<Form1>(*core);
        if (beforeStart)
            beforeStart(*form);
        started = form->Start() && QTest::qWaitForWindowExposed(form.get());
        if (started)
            timer()->stop();
    }

    PlaylistBox *list1() const { return form->findChild<PlaylistBox *>(u"List1"_s); }
    PictureBox *pictDisp() const { return form->findChild<PictureBox *>(u"PictDisp"_s); }
    PictureBox *pictBar() const { return form->findChild<PictureBox *>(u"PictBar"_s); }
    QTimer *timer() const { return form->findChild<QTimer *>(u"Timer1"_s); }
    QPushButton *button(int index) const
    {
        return form->findChild<QPushButton *>(u"Command1_%1"_s.arg(index));
    }
    QMenu *menu() const { return form->findChild<QMenu *>(u"mnuPop1"_s); }
    QAction *menuItem(const QString &name) const { return form->findChild<QAction *>(name); }

    // One tick of Timer1, as if its interval had passed.
    void tick() const { QMetaObject::invokeMethod(timer(), "timeout"); }

    // Drags data over `target` and drops it there, through the window as a file manager's
    // drop arrives: the window picks the widget under the pointer that takes drops. The source
    // offers `actions` and proposes the one its modifiers choose (Shift: move). The actions
    // answered on entering, moving and dropping; IgnoreAction for a step refused, and no
    // further steps after a refused entry. Returns once what was dropped has been read.
    QList<Qt::DropAction> dragAndDrop(QWidget *target, QMimeData *data, Qt::DropActions actions,
                                      Qt::KeyboardModifiers modifiers = {}) const
    {
        QWindow *window = form->windowHandle();
        const QPointF pos = target->mapTo(form.get(), target->rect().center());
        const auto answer = [](const QDropEvent &event) {
            return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
        };
        QDragEnterEvent enter(pos.toPoint(), actions, data, Qt::LeftButton, modifiers);
        QCoreApplication::sendEvent(window, &enter);
        if (!enter.isAccepted())
            return {Qt::IgnoreAction};
        QDragMoveEvent move(pos.toPoint(), actions, data, Qt::LeftButton, modifiers);
        QCoreApplication::sendEvent(window, &move);
        QDropEvent dropped(pos, actions, data, Qt::LeftButton, modifiers);
        QCoreApplication::sendEvent(window, &dropped);
        if (!settled())
            return {Qt::IgnoreAction};
        return {answer(enter), answer(move), answer(dropped)};
    }

    // A drop offering copy and link, as most file managers do. True when it was accepted.
    bool drop(QWidget *target, QMimeData *data) const
    {
        return dragAndDrop(target, data, Qt::CopyAction | Qt::LinkAction).constLast() !=
               Qt::IgnoreAction;
    }

    bool dropFiles(const QStringList &paths, QWidget *target = nullptr) const
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(QUrl::fromLocalFile(path));
        data.setUrls(urls);
        return drop(target ? target : list1()->viewport(), &data);
    }

    kelpa::PlayerControl &control() const { return *core; }
    // Waits, running the event loop, until what was added has been read. False when that
    // takes more than a minute.
    bool settled() const
    {
        return QTest::qWaitFor([this] { return !core->Reading(); }, 60000);
    }
    // Adds files as the remotes do, and waits until they are read.
    bool addFiles(const QList<QByteArray> &paths) const
    {
        core->addFiles(paths);
        return settled();
    }
    int count() const { return core->entryCount(); }

    // The paths the playlist holds, checking on the way that it has exactly as many as List1
    // shows.
    QStringList paths() const
    {
        QStringList result;
        for (int i = 0; i < count(); ++i)
            result.append(QFile::decodeName(core->ListPath(i)));
        if (!core->ListPath(count()).isNull() || list1()->model()->rowCount() != count())
            result.append(u"<the list shows another count of entries>"_s);
        return result;
    }

    // The texts List1 shows.
    QStringList items() const
    {
        QStringList result;
        const QAbstractItemModel *shown = list1()->model();
        for (int i = 0; i < shown->rowCount(); ++i)
            result.append(shown->index(i, 0).data().toString());
        return result;
    }

    // Where row `row` of List1 stands in its viewport.
    QPoint rowCentre(int row) const
    {
        return list1()->visualRect(list1()->model()->index(row, 0)).center();
    }

    // The texts of the message boxes the window shows now.
    QStringList boxes() const
    {
        QStringList texts;
        for (QMessageBox *box : form->findChildren<QMessageBox *>())
            if (box->isVisible())
                texts.append(box->text());
        return texts;
    }

    std::unique_ptr<Player> core;
    std::unique_ptr<Form1> form;
    bool started = false;
};

// Writes a file whole; false when it cannot.
inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// For tests that play against the fake engine: tracks it knows (small files in a folder of
// their own, with the tags and length the fake reports) and the engine calls since the last
// look.
class FakeTracks {
protected:
    QString track(const QString &name, const QByteArray &title, const QByteArray &artist = "R",
                  int32_t seconds = 180)
    {
        const QString file = dir_.filePath(name);
        if (!writeBytes(file, "x"))
            return {};
        fake_.addTrack(QFile::encodeName(file), title, artist, seconds);
        return file;
    }

    QStringList newCalls()
    {
        const QStringList log = fake_.log();
        const QStringList calls = log.mid(seen_);
        seen_ = log.size();
        return calls;
    }

    QTemporaryDir dir_;
    FakeEngine fake_;
    qsizetype seen_ = 0;
};
