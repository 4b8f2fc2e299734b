#include "control/playercontrol.h"
#include "handover.h"
#include "listener.h"

#include <QTimer>

#include <algorithm>
#include <malloc.h>

namespace kelpa {

namespace {

// What a name passed on holds beyond its bytes: its QByteArray in the list and the header of
// its block. Lists of short names would hold many times their size on the wire.
constexpr qsizetype kHeldPerName = 64;

} // namespace

HandoverServer::HandoverServer(PlayerControl &player, const QString &socketPath,
                               const HandoverLimits &limits, QObject *parent)
    : QObject(parent), player_(player), socketPath_(socketPath), limits_(limits),
      listener_(new Listener(limits.retryMs, this)),
      makeRoom_(new QTimer(this)), budget_{limits.bytes, 0}
{
    connect(listener_, &Listener::accepted, this, &HandoverServer::take);
    makeRoom_->setInterval(limits.quietMs);
    connect(makeRoom_, &QTimer::timeout, this, &HandoverServer::makeRoom);
    connect(&player_, &PlayerControl::filesAdded, this, [this] {
        if (handed_ == 0)
            return;
        handed_ = 0;
        // The names were small blocks amid longer-lived ones, and glibc gives memory back to
        // the system only from the top of its heap: without this, what the lists took stays
        // with the process long after they are read.
        ::malloc_trim(0);
        updatePaused();
    });
}

bool HandoverServer::listen()
{
    return listener_->listen(socketPath_);
}

void HandoverServer::take(int descriptor)
{
    auto *connection = new ListConnection(descriptor, limits_.deadlineMs, budget_, this);
    ++open_;
    updatePaused();
    connect(connection, &ListConnection::finished, this, [this] {
        --open_;
        updatePaused();
    });
    connect(connection, &ListConnection::listReady, this,
            [this, connection](const QList<QByteArray> &files) {
                // As many as the playlist has room for; the sender is told how many are left
                // out, which the playlist would have passed over without a word.
                const qsizetype room = std::max<qsizetype>(0, player_.room());
                const QList<QByteArray> taken = files.first(std::min(room, files.size()));
                // The answer goes out before the files are added: a sender that gave up
                // waiting has said that its files were not handed over, and they are not added
                // behind its back.
                if (!connection->answer(uint32_t(files.size() - taken.size())) || taken.isEmpty())
                    return;
                // Senders are answered faster than the player reads: no more lists are taken
                // while those it has not read fill a budget, or they would pile up without end.
                for (const QByteArray &name : taken)
                    handed_ += name.size() + kHeldPerName;
                updatePaused();
                player_.addFiles(taken);
            });
}

void HandoverServer::updatePaused()
{
    listener_->setPaused(open_ >= limits_.connections || handed_ >= limits_.bytes);
    if (open_ < limits_.connections)
        makeRoom_->stop();
    else if (!makeRoom_->isActive())
        makeRoom_->start();
}

void HandoverServer::makeRoom()
{
    // A real start sends its list as soon as it is in; a crowd of connections that send
    // nothing would otherwise keep it waiting for their deadlines, beyond its patience.
    if (!listener_->waiting())
        return;
    for (ListConnection *connection : findChildren<ListConnection *>(Qt::FindDirectChildrenOnly))
        connection->endIfQuiet(limits_.quietMs);
}

} // namespace kelpa
