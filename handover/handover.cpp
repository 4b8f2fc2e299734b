#include "handover.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>

#include <unistd.h>

namespace kelpa {

namespace {

QByteArray CurrentFolder()
{
    // getcwd, not QDir: a folder whose name is not UTF-8 keeps its bytes.
    QByteArray folder(4096, '\0');
    while (!::getcwd(folder.data(), size_t(folder.size()))) {
        if (errno != ERANGE)
            return QFile::encodeName(QDir::currentPath());
        folder.resize(folder.size() * 2);
    }
    folder.truncate(qsizetype(qstrlen(folder.constData())));
    return folder;
}

} // namespace

QList<QByteArray> CommandLineFiles(int argc, char **argv)
{
    QList<QByteArray> files;
    QByteArray folder;
    for (int i = 1; i < argc; ++i) {
        QByteArray name(argv[i]);
        if (name.isEmpty())
            continue;
        if (!name.startsWith('/')) {
            if (folder.isEmpty())
                folder = CurrentFolder() + '/';
            name.prepend(folder);
        }
        files.append(name);
    }
    return files;
}

bool HandOverFiles(const QString &socketPath, const QList<QByteArray> &files, int timeoutMs,
                   FILE *report)
{
    if (socketPath.isEmpty())
        return false;
    // Made before connecting: in a crowd, the running copy gives a place only to a connection
    // that sends as soon as it is in.
    const QList<QByteArray> sent = FilesThatFit(files);
    const QByteArray list = EncodeFileList(sent);
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(deadline.remainingTime()))
        return false;
    socket.write(list);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(deadline.remainingTime()))
            return false;
    }
    while (socket.bytesAvailable() < kAnswerBytes) {
        if (!socket.waitForReadyRead(deadline.remainingTime()))
            return false;
    }
    const std::optional<uint32_t> notAdded = DecodeAnswer(socket.read(kAnswerBytes));
    if (!notAdded)
        return false;
    const qsizetype leftOut = files.size() - sent.size() + qsizetype(*notAdded);
    if (leftOut > 0) {
        std::fprintf(
            report,
            "kelpa: %lld of %lld files were left out: the playlist holds at most %u entries\n",
            static_cast<long long>(leftOut), static_cast<long long>(files.size()), kMaxHandedFiles);
        std::fflush(report);
    }
    return true;
}

} // namespace kelpa
