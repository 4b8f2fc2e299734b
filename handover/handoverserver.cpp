#include "control/playercontrol.h"
#include "handover.h"
#include "listener.h"

#include <algorithm>

namespace kelpa {

HandoverServer::HandoverServer(PlayerControl &player, const QString &socketPath,
                               const HandoverLimits &limits, QObject *parent)
    : QObject(parent), player_(player), socketPath_(socketPath), limits_(limits),
      listener_(new Listener(limits.retryMs, this)), budget_{limits.bytes, 0}
{
    connect(listener_, &Listener::accepted, this, &HandoverServer::take);
}

bool HandoverServer::listen()
{
    return listener_->listen(socketPath_);
}

void HandoverServer::take(int descriptor)
{
    auto *connection = new ListConnection(descriptor, limits_.deadlineMs, budget_, this);
    listener_->setPaused(++open_ >= limits_.connections);
    connect(connection, &ListConnection::finished, this,
            [this] { listener_->setPaused(--open_ >= limits_.connections); });
    connect(connection, &ListConnection::listReady, this,
            [this, connection](const QList<QByteArray> &files) {
                // As many as the playlist has room for; the sender is told how many are left
                // out, which the playlist would have passed over without a word.
                const qsizetype room =
                    std::max<qsizetype>(0, qsizetype(kMaxHandedFiles) - player_.entryCount());
                const QList<QByteArray> taken = files.first(std::min(room, files.size()));
                // The answer goes out before the files are added, which holds this thread for
                // a while: the sender ends at once, and the files are added while it is gone.
                connection->answer(uint32_t(files.size() - taken.size()));
                if (!taken.isEmpty())
                    player_.addFiles(taken);
            });
}

} // namespace kelpa
