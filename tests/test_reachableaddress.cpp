// The address the settings panel shows, chosen from interface lists as laptops, docker hosts
// and VM hosts have them.
#include "net/reachableaddress.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class ReachableAddressTest : public QObject {
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
};

void ReachableAddressTest::choice_data()
{
    // Interfaces as "name address..."; "down" marks one that is up but not running. The route
    // table has one default route per entry of defaultRoutes, "name metric".
    QTest::addColumn<QStringList>("interfaces");
    QTest::addColumn<QStringList>("defaultRoutes");
    QTest::addColumn<QString>("shown");
    const QString lo = u"lo 127.0.0.1 ::1"_s;
    QTest::newRow("bridges and tunnels listed first")
        << QStringList{lo,
                       u"docker0 172.17.0.1"_s,
                       u"br-4f2a 172.18.0.1"_s,
                       u"virbr0 192.168.122.1"_s,
                       u"veth12ab 172.17.0.9"_s,
                       u"tun0 10.8.0.2"_s,
                       u"tap0 10.9.0.2"_s,
                       u"wlp2s0 fe80::1 192.168.1.20"_s}
        << QStringList{} << u"192.168.1.20"_s;
    QTest::newRow("the default route's interface, the lower metric")
        << QStringList{lo, u"enp3s0 10.0.0.5"_s, u"wlp2s0 192.168.1.20"_s}
        << QStringList{u"enp3s0 600"_s, u"wlp2s0 100"_s} << u"192.168.1.20"_s;
    QTest::newRow("default route through a tunnel")
        << QStringList{lo, u"tun0 10.8.0.2"_s, u"enp3s0 10.0.0.5"_s} << QStringList{u"tun0 0"_s}
        << u"10.0.0.5"_s;
    // A VPN that takes the default route (a full tunnel) still faces no phone: the LAN does.
    for (const QString &tunnel :
         {u"wg0"_s, u"tailscale0"_s, u"ztly5abc12"_s, u"ppp0"_s, u"tun0"_s, u"tap0"_s}) {
        QTest::addRow("default route through %s", qPrintable(tunnel))
            << QStringList{lo, tunnel + u" 100.101.102.103"_s, u"wlp2s0 192.168.1.20"_s}
            << QStringList{tunnel + u" 0"_s, u"wlp2s0 600"_s} << u"192.168.1.20"_s;
    }
    QTest::newRow("VPNs listed first, no default route") << QStringList{lo,
                                                                        u"wg0 10.6.0.2"_s,
                                                                        u"tailscale0 100.64.0.7"_s,
                                                                        u"zt0 10.147.17.5"_s,
                                                                        u"ppp0 10.64.64.64"_s,
                                                                        u"enp3s0 192.168.0.9"_s}
                                                         << QStringList{} << u"192.168.0.9"_s;
    QTest::newRow("a cable that is not plugged in")
        << QStringList{lo, u"enp3s0 10.0.0.5 down"_s, u"wlp2s0 192.168.1.20"_s}
        << QStringList{u"enp3s0 0"_s} << u"192.168.1.20"_s;
    QTest::newRow("link-local only")
        << QStringList{lo, u"enp3s0 169.254.7.7"_s} << QStringList{u"enp3s0 0"_s} << u"127.0.0.1"_s;
    QTest::newRow("no interfaces") << QStringList{} << QStringList{} << u"127.0.0.1"_s;
}

void ReachableAddressTest::choice()
{
    QFETCH(QStringList, interfaces);
    QFETCH(QStringList, defaultRoutes);
    QFETCH(QString, shown);
    QList<NetworkInterfaceInfo> list;
    for (const QString &line : interfaces) {
        QStringList words = line.split(u' ');
        NetworkInterfaceInfo info{words.takeFirst(), true, !words.removeOne(u"down"_s), false, {}};
        info.loopback = info.name == u"lo"_s;
        for (const QString &address : words)
            info.addresses.append(QHostAddress(address));
        list.append(info);
    }
    // A route table as /proc/net/route has it, with a route to a network that is no default.
    QByteArray table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\t"
        "Window\tIRTT\nwlp2s0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
    for (const QString &route : defaultRoutes) {
        const QStringList words = route.split(u' ');
        table += words[0].toLatin1() + "\t00000000\t0101A8C0\t0003\t0\t0\t" + words[1].toLatin1() +
                 "\t00000000\t0\t0\t0\n";
    }
    QCOMPARE(ChooseReachableAddress(list, DefaultRouteInterface(table)), shown);
}

QTEST_GUILESS_MAIN(ReachableAddressTest)
#include "test_reachableaddress.moc"
