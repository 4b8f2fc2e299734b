#include "reachableaddress.h"

#include <QFile>
#include <QNetworkInterface>

#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

// Bridges of containers and virtual machines, and tunnels: a VPN's address (WireGuard,
// Tailscale, ZeroTier, PPP links) is reachable only by the VPN's own members, not by a phone
// on the local network.
bool isVirtual(const QString &name)
{
    static const QStringList prefixes{u"docker"_s, u"br-"_s, u"virbr"_s,     u"veth"_s, u"tun"_s,
                                      u"tap"_s,    u"wg"_s,  u"tailscale"_s, u"zt"_s,   u"ppp"_s};
    for (const QString &prefix : prefixes) {
        if (name.startsWith(prefix))
            return true;
    }
    return false;
}

QString usableAddress(const NetworkInterfaceInfo &interface)
{
    if (!interface.up || !interface.running || interface.loopback || isVirtual(interface.name))
        return {};
    for (const QHostAddress &address : interface.addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback() &&
            !address.isLinkLocal())
            return address.toString();
    }
    return {};
}

} // namespace

QString ChooseReachableAddress(const QList<NetworkInterfaceInfo> &interfaces,
                               const QString &defaultRouteInterface)
{
    QString first;
    for (const NetworkInterfaceInfo &interface : interfaces) {
        const QString address = usableAddress(interface);
        if (address.isEmpty())
            continue;
        if (interface.name == defaultRouteInterface)
            return address;
        if (first.isEmpty())
            first = address;
    }
    return first.isEmpty() ? QHostAddress(QHostAddress::LocalHost).toString() : first;
}

QString DefaultRouteInterface(const QByteArray &routeTable)
{
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; numbers in hex.
    constexpr unsigned RouteUp = 0x1;
    QString best;
    qulonglong bestMetric = std::numeric_limits<qulonglong>::max();
    const QList<QByteArray> lines = routeTable.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        if (fields.size() < 8)
            continue;
        bool flagsRead = false, destinationRead = false, maskRead = false, metricRead = false;
        const qulonglong flags = fields[3].toULongLong(&flagsRead, 16);
        const qulonglong destination = fields[1].toULongLong(&destinationRead, 16);
        const qulonglong mask = fields[7].toULongLong(&maskRead, 16);
        const qulonglong metric = fields[6].toULongLong(&metricRead, 10);
        const bool isDefault = flagsRead && destinationRead && maskRead && metricRead &&
                               (flags & RouteUp) && destination == 0 && mask == 0;
        if (isDefault && metric < bestMetric) {
            bestMetric = metric;
            best = QString::fromLocal8Bit(fields[0]);
        }
    }
    return best;
}

QString ReachableAddress()
{
    QList<NetworkInterfaceInfo> interfaces;
    for (const QNetworkInterface &system : QNetworkInterface::allInterfaces()) {
        NetworkInterfaceInfo info;
        info.name = system.name();
        const QNetworkInterface::InterfaceFlags flags = system.flags();
        info.up = flags.testFlag(QNetworkInterface::IsUp);
        info.running = flags.testFlag(QNetworkInterface::IsRunning);
        info.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
        for (const QNetworkAddressEntry &entry : system.addressEntries())
            info.addresses.append(entry.ip());
        interfaces.append(info);
    }
    QFile routes(u"/proc/net/route"_s);
    // A system without the file (not Linux) has no default route to prefer.
    const QByteArray table = routes.open(QIODevice::ReadOnly) ? routes.readAll() : QByteArray();
    return ChooseReachableAddress(interfaces, DefaultRouteInterface(table));
}
