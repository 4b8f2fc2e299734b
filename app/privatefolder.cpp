#include "privatefolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelpa {

namespace {

QString OwnFolderIn(const QString &sharedTemp)
{
    return QDir(sharedTemp).filePath(u"kelpa-"_s + QString::number(::geteuid()));
}

} // namespace

bool IsPrivateFolder(const QString &path)
{
    if (!QDir::isAbsolutePath(path))
        return false;
    struct stat status {};
    // lstat: a link that points at a private folder may be changed to point elsewhere.
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

QString ChoosePrivateFolder(const QString &runtimeDir, const QString &sharedTemp)
{
    if (IsPrivateFolder(runtimeDir))
        return runtimeDir;
    if (!QDir::isAbsolutePath(sharedTemp))
        return {};
    const QString own = OwnFolderIn(sharedTemp);
    // A folder of that name made by someone else stays theirs: mkdir fails, and the check
    // below refuses it.
    ::mkdir(QFile::encodeName(own).constData(), 0700);
    return IsPrivateFolder(own) ? own : QString();
}

QString PrivateFolder()
{
    const QString folder = ChoosePrivateFolder(
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), QDir::tempPath());
    if (folder.isEmpty()) {
        std::fprintf(stderr,
                     "kelpa: no folder only this user can enter (XDG_RUNTIME_DIR, %s): "
                     "this copy takes no files from later starts and does not keep "
                     "other copies from starting\n",
                     qPrintable(OwnFolderIn(QDir::tempPath())));
    }
    return folder;
}

} // namespace kelpa
