// Files handed from a second start of the program to the copy that already runs, over a
// local socket that the single-instance component (app/singleinstance.h) names and serves. The
// running copy adds them as a drop on its playlist does.
#pragma once

#include "filelist.h"
#include "listconnection.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdio>

class QTimer;

namespace kelpa {

class Listener;
class PlayerControl;

// The file arguments of the command line (what is left after Qt took its own options), as
// absolute names in the file system's bytes: the running copy has a folder of its own.
QList<QByteArray> CommandLineFiles(int argc, char **argv);

// Hands the files to the copy listening at socketPath. True once that copy has taken them;
// false when none listens or it does not answer within timeoutMs. Files beyond what the
// running copy's playlist can take are left out, and a line on report says how many. Blocks
// the caller, which is a start that is about to end.
bool HandOverFiles(const QString &socketPath, const QList<QByteArray> &files, int timeoutMs = 10000,
                   FILE *report = stderr);

// How the running copy keeps senders in bounds.
struct HandoverLimits {
    int deadlineMs = 2000;                 // a connection delivers its whole list within this
    int connections = 8;                   // served at a time; later ones wait in the queue
    qsizetype bytes = kMaxHandedListBytes; // held for unfinished lists, and for lists not read
    int retryMs = 200;                     // accept is tried again after descriptors ran out
    int quietMs = 100;                     // a silent one gives way to one waiting after this
};

// The running copy's end: takes lists of files on the UI thread and passes each whole list,
// as far as the playlist has room, to PlayerControl::addFiles, which plays the first one added
// when nothing plays. While the lists it passed on and the player has not read yet hold as much
// as the budget, it takes no more.
class HandoverServer : public QObject {
    Q_OBJECT

public:
    HandoverServer(PlayerControl &player, const QString &socketPath,
                   const HandoverLimits &limits = {}, QObject *parent = nullptr);

    // Starts listening, in place of a socket a crashed copy left behind: only the copy that
    // holds the single-instance lock calls this. False when the socket cannot be made (or the
    // path is empty); the player then runs without taking files from later starts.
    bool listen();

private:
    void take(int descriptor);
    void updatePaused();
    void makeRoom();

    PlayerControl &player_;
    QString socketPath_;
    HandoverLimits limits_;
    Listener *listener_;
    QTimer *makeRoom_;
    ListBudget budget_;
    int open_ = 0;         // connections being served
    qsizetype handed_ = 0; // held by lists passed to the player and not read yet
};

} // namespace kelpa
