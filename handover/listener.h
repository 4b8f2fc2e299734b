// The hand-over's listening socket. Unlike QLocalServer, which closes its socket, and removes
// its name, the first time accept fails, it keeps listening whatever accept says: when the
// process is out of descriptors it waits a moment and tries again, while the connections wait
// in the socket's queue.
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;
class QTimer;

namespace kelpa {

class Listener : public QObject {
    Q_OBJECT

public:
    // retryMs: how long to wait before accepting again after accept failed.
    explicit Listener(int retryMs, QObject *parent = nullptr);
    ~Listener() override; // closes the socket and removes its name

    // Listens at path, in place of a socket left there. False when the socket cannot be made.
    bool listen(const QString &path);
    // While paused, connections stay in the socket's queue and nothing is accepted.
    void setPaused(bool paused);
    // Connections wait in the queue.
    bool waiting() const;

signals:
    // A new connection's descriptor, now the receiver's to own and close. Emitted on the UI
    // thread; a receiver may pause the listener from here.
    void accepted(int descriptor);

private:
    void acceptAll();
    void updateNotifier();

    int socket_ = -1;
    QString path_;
    bool paused_ = false;
    QSocketNotifier *notifier_ = nullptr;
    QTimer *retry_;
};

} // namespace kelpa
