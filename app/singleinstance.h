// One copy of the program per user: the lock that tells a later start that a copy runs, and the
// socket through which that start hands its files to it, both in the private folder
// (privatefolder.h). Whoever holds the lock is the running copy, and only it listens on the
// socket.
#pragma once

#include "handover/handover.h"
#include "privatefolder.h"

#include <QLockFile>

#include <memory>
#include <optional>

namespace kelpa {

class PlayerControl;

class SingleInstance {
public:
    // In folder; an empty one is none: this copy then runs as if it were alone, taking no files
    // from later starts and refusing no second copy.
    explicit SingleInstance(const QString &folder = PrivateFolder());

    // Decides whether this start is the first copy, which then holds the lock. Otherwise the
    // start ends here, with the exit status returned: its files handed to the running copy (0),
    // files the running copy did not take (1, said on stderr), or a second copy without files,
    // refused with a message the user dismisses (0).
    std::optional<int> start(const QList<QByteArray> &files);

    // The first copy takes the files of later starts into player from now on, and stops being
    // the running copy as the program quits. False when the socket cannot be made: the player
    // then runs without taking files from later starts.
    bool serve(PlayerControl &player);

private:
    void release();

    QString socketPath_; // empty: no folder
    QLockFile lock_;
    std::unique_ptr<HandoverServer> server_; // gone before the lock, as release() does
};

} // namespace kelpa
