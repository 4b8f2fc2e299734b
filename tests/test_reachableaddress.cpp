// The address the settings panel shows: the one a phone on the local network can reach, chosen
// from interface lists as laptops, docker hosts and VM hosts have them.
#include "net/reachableaddress.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

NetworkInterfaceInfo up(const QString &name, const QStringList &addresses)
{
    NetworkInterfaceInfo info{name, true, true, name == u"lo"_s, {}};
    for (const QString &address : addresses)
        info.addresses.append(QHostAddress(address));
    return info;
}

NetworkInterfaceInfo down(const QString &name, const QString &address)
{
    NetworkInterfaceInfo info = up(name, {address});
    info.running = false;
    return info;
}

} // namespace

class ReachableAddressTest : public QObject {
    Q_OBJECT

private slots:
    void choice_data();
    void choice();
    void defaultRoute_data();
    void defaultRoute();
};

void ReachableAddressTest::choice_data()
{
    QTest::addColumn<QList<NetworkInterfaceInfo>>("interfaces");
    QTest::addColumn<QString>("defaultRoute");
    QTest::addColumn<QString>("shown");
    const NetworkInterfaceInfo lo = up(u"lo"_s, {u"127.0.0.1"_s, u"::1"_s});
    const NetworkInterfaceInfo wifi = up(u"wlp2s0"_s, {u"fe80::1"_s, u"192.168.1.20"_s});
    const NetworkInterfaceInfo wired = up(u"enp3s0"_s, {u"10.0.0.5"_s});
    QTest::newRow("bridges and tunnels listed first")
        << QList{lo,
                 up(u"docker0"_s, {u"172.17.0.1"_s}),
                 up(u"br-4f2a"_s, {u"172.18.0.1"_s}),
                 up(u"virbr0"_s, {u"192.168.122.1"_s}),
                 up(u"veth12ab"_s, {u"172.17.0.9"_s}),
                 up(u"tun0"_s, {u"10.8.0.2"_s}),
                 up(u"tap0"_s, {u"10.9.0.2"_s}),
                 wifi}
        << QString() << u"192.168.1.20"_s;
    QTest::newRow("the default route's interface wins")
        << QList{lo, wired, wifi} << u"wlp2s0"_s << u"192.168.1.20"_s;
    QTest::newRow("default route through a tunnel: first real LAN address")
        << QList{lo, up(u"tun0"_s, {u"10.8.0.2"_s}), wired} << u"tun0"_s << u"10.0.0.5"_s;
    QTest::newRow("a cable that is not plugged in")
        << QList{lo, down(u"enp3s0"_s, u"10.0.0.5"_s), wifi} << u"enp3s0"_s << u"192.168.1.20"_s;
    QTest::newRow("link-local only")
        << QList{lo, up(u"enp3s0"_s, {u"169.254.7.7"_s})} << u"enp3s0"_s << u"127.0.0.1"_s;
    QTest::newRow("nothing but loopback") << QList{lo} << QString() << u"127.0.0.1"_s;
    QTest::newRow("no interfaces") << QList<NetworkInterfaceInfo>{} << QString() << u"127.0.0.1"_s;
}

void ReachableAddressTest::choice()
{
    QFETCH(QList<NetworkInterfaceInfo>, interfaces);
    QFETCH(QString, defaultRoute);
    QFETCH(QString, shown);
    QCOMPARE(ChooseReachableAddress(interfaces, defaultRoute), shown);
}

void ReachableAddressTest::defaultRoute_data()
{
    const QByteArray header =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU"
        "\tWindow\tIRTT\n";
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("interface");
    QTest::newRow("one default route")
        << header + "docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
                    "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        << u"wlp2s0"_s;
    QTest::newRow("the lower metric")
        << header + "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                    "enp3s0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        << u"enp3s0"_s;
    QTest::newRow("a route that is down")
        << header + "enp3s0\t00000000\t0100000A\t0002\t0\t0\t100\t00000000\t0\t0\t0\n"
        << QString();
    QTest::newRow("no default route")
        << header + "enp3s0\t0000000A\t00000000\t0001\t0\t0\t100\t000000FF\t0\t0\t0\n"
        << QString();
    QTest::newRow("garbage") << QByteArray("\x01\xff\n\n\t\t\t\t\t\t\t\t\n") << QString();
}

void ReachableAddressTest::defaultRoute()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, interface);
    QCOMPARE(DefaultRouteInterface(table), interface);
}

QTEST_GUILESS_MAIN(ReachableAddressTest)
#include "test_reachableaddress.moc"
