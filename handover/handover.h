// Files handed from a second start of the program to the copy that already runs, over a
// local socket in the runtime folder beside the single-instance lock. The running copy adds
// them as a drop on its playlist does.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QLocalServer;

namespace kelpa {

class PlayerControl;

// The socket's name in the runtime folder.
QString HandoverSocketPath(const QString &runtimeDir);

// The file arguments of the command line (what is left after Qt took its own options), as
// absolute names in the file system's bytes: the running copy has a folder of its own.
QList<QByteArray> CommandLineFiles(int argc, char **argv);

// Hands the files to the copy listening at socketPath. True once that copy has taken all of
// them; false when none listens or it does not answer within timeoutMs. Blocks the caller,
// which is a start that is about to end.
bool HandOverFiles(const QString &socketPath, const QList<QByteArray> &files,
                   int timeoutMs = 10000);

// The running copy's end: takes lists of files on the UI thread and passes each whole list
// to PlayerControl::addFiles, which plays the first one added when nothing plays.
class HandoverServer : public QObject {
    Q_OBJECT

public:
    HandoverServer(PlayerControl &player, const QString &socketPath, QObject *parent = nullptr);

    // Starts listening, in place of a socket a crashed copy left behind: only the copy that
    // holds the single-instance lock calls this. False when the socket cannot be made; the
    // player then runs without taking files from later starts.
    bool listen();

private:
    void acceptConnections();

    PlayerControl &player_;
    QString socketPath_;
    QLocalServer *server_;
};

} // namespace kelpa
