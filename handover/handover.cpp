#include "handover.h"

#include "control/playercontrol.h"
#include "filelist.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <memory>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelpa {

namespace {

// What the running copy answers once it has the whole list.
constexpr char kTaken = '\x01';

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

QString HandoverSocketPath(const QString &runtimeDir)
{
    return QDir(runtimeDir).filePath(u"kelpa.files"_s);
}

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

bool HandOverFiles(const QString &socketPath, const QList<QByteArray> &files, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(deadline.remainingTime()))
        return false;
    socket.write(EncodeFileList(files));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(deadline.remainingTime()))
            return false;
    }
    while (socket.bytesAvailable() == 0) {
        if (!socket.waitForReadyRead(deadline.remainingTime()))
            return false;
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == kTaken;
}

HandoverServer::HandoverServer(PlayerControl &player, const QString &socketPath, QObject *parent)
    : QObject(parent), player_(player), socketPath_(socketPath), server_(new QLocalServer(this))
{
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &HandoverServer::acceptConnections);
}

bool HandoverServer::listen()
{
    QLocalServer::removeServer(socketPath_);
    return server_->listen(socketPath_);
}

void HandoverServer::acceptConnections()
{
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        auto reader = std::make_shared<FileListReader>();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader] {
            const FileListReader::State state = reader->feed(socket->readAll());
            if (state == FileListReader::State::Broken) {
                socket->abort();
                return;
            }
            if (state != FileListReader::State::Complete)
                return;
            // The answer goes out before the files are added, which holds this thread for a
            // while: the sender ends at once, and the files are added here while it is gone.
            socket->putChar(kTaken);
            socket->flush();
            socket->disconnectFromServer();
            player_.addFiles(reader->files());
        });
    }
}

} // namespace kelpa
