#include "singleinstance.h"

#include "control/playercontrol.h"
#include "uifont.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace kelpa {

namespace {

// QDir of an empty name is the working folder, which is no place for either.
QString InFolder(const QString &folder, const QString &name)
{
    return folder.isEmpty() ? QString() : QDir(folder).filePath(name);
}

} // namespace

SingleInstance::SingleInstance(const QString &folder)
    : socketPath_(InFolder(folder, u"kelpa.files"_s)), lock_(InFolder(folder, u"kelpa.lock"_s))
{
    // A copy that has run for days is as alive as one started a second ago; a crashed copy's
    // lock is still taken over, because its process is gone.
    lock_.setStaleLockTime(0);
}

std::optional<int> SingleInstance::start(const QList<QByteArray> &files)
{
    // A copy that runs already takes the files, and this start ends without a word.
    if (!files.isEmpty() && HandOverFiles(socketPath_, files))
        return 0;
    // Only a lock held by a live copy says that one runs. A lock that cannot be made at all (no
    // folder, no permission) tells nothing about other copies, and must not keep the user out.
    if (lock_.tryLock(0) || lock_.error() != QLockFile::LockFailedError)
        return std::nullopt;
    if (!files.isEmpty()) {
        // The copy is swamped, or not listening yet. The box of a plain second start would read
        // as if the files had gone to it, and would hold a script's start until clicked.
        std::fprintf(stderr, "kelpa: %lld files could not be handed to the running kelpa\n",
                     static_cast<long long>(files.size()));
        return 1;
    }
    PreferCompactJapaneseFont(); // the first window of this start, as of a first copy
    QMessageBox box(QMessageBox::NoIcon, u"kelpa"_s, u"すでにkelpaは起動しています。"_s,
                    QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint); // above the running copy's windows
    box.exec();
    return 0;
}

bool SingleInstance::serve(PlayerControl &player)
{
    server_ = std::make_unique<HandoverServer>(player, socketPath_);
    // Gone as soon as the window closes, before the player it feeds.
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &player,
                     [this] { release(); });
    return server_->listen();
}

void SingleInstance::release()
{
    server_.reset();
    lock_.unlock();
}

} // namespace kelpa
