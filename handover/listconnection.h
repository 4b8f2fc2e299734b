// One connection of a later start, from its first byte to its whole list of files. The running
// copy must not wait on a sender, nor hold much for it: the list comes within a deadline, and
// what all connections hold together stays within one budget shared by them.
#pragma once

#include "filelist.h"

#include <QElapsedTimer>
#include <QObject>

class QLocalSocket;
class QTimer;

namespace kelpa {

// The bytes the running copy holds for unfinished lists, over all connections.
struct ListBudget {
    qsizetype limit = 0;
    qsizetype used = 0;
};

class ListConnection : public QObject {
    Q_OBJECT

public:
    // Takes over the connected descriptor.
    ListConnection(int descriptor, int deadlineMs, ListBudget &budget, QObject *parent = nullptr);

    // Answers a complete list and closes: the sender is told how many of its files were left
    // out. Only after listReady. False when the sender is gone and cannot be told.
    bool answer(uint32_t leftOut);
    // Closes the connection when its sender has sent nothing in the quietMs since it came in.
    void endIfQuiet(int quietMs);

signals:
    // The whole list arrived. Emitted once; answer() follows.
    void listReady(const QList<QByteArray> &files);
    // The connection is over: answered, broken, too big, too slow or gone. Emitted once; the
    // object deletes itself later.
    void finished();

private:
    void read();
    void finish();

    QLocalSocket *socket_;
    QTimer *deadline_;
    QElapsedTimer since_;
    ListBudget &budget_;
    qsizetype held_ = 0;
    FileListReader reader_;
    bool finished_ = false;
};

} // namespace kelpa
