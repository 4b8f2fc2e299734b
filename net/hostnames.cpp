#include "hostnames.h"

#include <QSysInfo>

#include <mutex>
#include <thread>

#include <netdb.h>

namespace {

struct Lookup {
    std::mutex mutex;
    QString canonical;
};

QString canonicalName(const QString &machine)
{
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo *found = nullptr;
    if (getaddrinfo(machine.toUtf8().constData(), nullptr, &hints, &found) != 0)
        return {};
    QString name =
        found->ai_canonname ? QString::fromUtf8(found->ai_canonname).toLower() : QString();
    freeaddrinfo(found);
    return name;
}

} // namespace

HostNames LocalHostNames()
{
    // Left alive at exit: the lookup's thread may still write to it.
    static Lookup *const lookup = [] {
        auto *started = new Lookup;
        std::thread([started, machine = QSysInfo::machineHostName()] {
            const QString name = canonicalName(machine);
            const std::lock_guard lock(started->mutex);
            started->canonical = name;
        }).detach();
        return started;
    }();
    const std::lock_guard lock(lookup->mutex);
    return {QSysInfo::machineHostName().toLower(), lookup->canonical};
}
