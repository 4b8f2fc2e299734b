// Who may try a login or a login number, told by the clock alone: locks per address that
// double and end on time, blind misses that never lock a proven login, trust earned by the
// right ID, and a crowd of misses from everywhere that slows strangers without shutting them.
#include "webremote/loginguard.h"
#include "webremote/phonesessions.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// Short timings, as a test passes them to the server.
const ServerTimings Timings{
    .missWindowMs = 1000, .lockoutMs = 100, .maxLockoutMs = 350, .crowdWindowMs = 5000};

using Proof = LoginGuard::Proof;

// One step of a scenario: at `at` ms, `count` blind misses (or proven ones, or the right ID, or
// nothing) from the address, then whether a blind try is admitted, and a proven one.
struct Step {
    qint64 at;
    QString from;
    enum { Miss, ProvenMiss, RightId, Look } what;
    int count;
    bool admitted;
    bool provenAdmitted = true;
};

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class LoginGuardTest : public QObject {
    Q_OBJECT

private slots:
    void scenarios_data();
    void scenarios();
    void crowdOfAddressesSlowsStrangersOnly();
    void anIPv6NetworkLocksItsStrangersOnly();
    void recordsStayBoundedByCountAndAge();
};

void LoginGuardTest::scenarios_data()
{
    QTest::addColumn<QList<Step>>("steps");
    const QString a = u"192.168.1.20"_s;
    const QString b = u"192.168.1.30"_s;
    QTest::newRow("nine misses lock nothing")
        << QList<Step>{{0, a, Step::Miss, 9, true}, {10, a, Step::Look, 0, true}};
    QTest::newRow("the tenth locks that address, not another")
        << QList<Step>{{0, a, Step::Miss, 10, false}, {1, b, Step::Look, 0, true}};
    QTest::newRow("misses spread beyond the window lock nothing")
        << QList<Step>{{0, a, Step::Miss, 5, true}, {1000, a, Step::Miss, 5, true}};
    QTest::newRow("the lock ends on time") << QList<Step>{{0, a, Step::Miss, 10, false},
                                                          {99, a, Step::Look, 0, false},
                                                          {100, a, Step::Look, 0, true}};
    QTest::newRow("misses during a lock do not restart it")
        << QList<Step>{{0, a, Step::Miss, 10, false},
                       {50, a, Step::Miss, 10, false},
                       {90, a, Step::Miss, 10, false},
                       {100, a, Step::Look, 0, true}};
    QTest::newRow("each new lock doubles, up to the longest")
        << QList<Step>{{0, a, Step::Miss, 10, false},   {100, a, Step::Miss, 10, false},
                       {299, a, Step::Look, 0, false},  {300, a, Step::Miss, 10, false},
                       {649, a, Step::Look, 0, false},  {650, a, Step::Look, 0, true},
                       {650, a, Step::Miss, 10, false}, {999, a, Step::Look, 0, false},
                       {1000, a, Step::Look, 0, true}};
    QTest::newRow("the right ID clears the count") << QList<Step>{{0, a, Step::Miss, 9, true},
                                                                  {1, a, Step::RightId, 0, true},
                                                                  {2, a, Step::Miss, 1, true},
                                                                  {3, a, Step::Miss, 8, true}};
    QTest::newRow("the right ID does not lift a lock")
        << QList<Step>{{0, a, Step::Miss, 10, false}, {1, a, Step::RightId, 0, false}};
    // A page the owner has open can make blind misses from the owner's own address.
    QTest::newRow("blind misses never lock a proven login")
        << QList<Step>{{0, a, Step::Miss, 50, false, true}, {300, a, Step::Miss, 50, false, true}};
    QTest::newRow("proven misses lock both")
        << QList<Step>{{0, a, Step::ProvenMiss, 9, true, true},
                       {1, a, Step::ProvenMiss, 1, false, false},
                       {101, a, Step::Look, 0, true, true}};
}

void LoginGuardTest::scenarios()
{
    QFETCH(QList<Step>, steps);
    LoginGuard guard(Timings);
    for (const Step &step : steps) {
        const QHostAddress from(step.from);
        for (int i = 0; i < step.count; ++i)
            guard.miss(from, step.at, step.what == Step::ProvenMiss ? Proof::Proven : Proof::Blind);
        if (step.what == Step::RightId)
            guard.trust(from, step.at);
        const QByteArray where = u"at %1 ms from %2"_s.arg(step.at).arg(step.from).toUtf8();
        QVERIFY2(guard.admit(from, step.at, Proof::Blind) == step.admitted, where);
        QVERIFY2(guard.admit(from, step.at, Proof::Proven) == step.provenAdmitted, where);
        QVERIFY(step.admitted || guard.isLocking(step.at)); // the caption says so
    }
}

void LoginGuardTest::crowdOfAddressesSlowsStrangersOnly()
{
    ServerTimings timings = Timings;
    timings.crowdWindowMs = 60000; // outlasts the spacing
    LoginGuard guard(timings);
    const QHostAddress owner(u"10.0.0.2"_s);
    guard.trust(owner, 0);
    // Nine misses from each of twelve addresses: none locked, 108 misses in all.
    for (int i = 0; i < 12; ++i) {
        for (int m = 0; m < 9; ++m)
            guard.miss(QHostAddress(u"10.0.1.%1"_s.arg(i)), i * 10, Proof::Blind);
    }
    QVERIFY(guard.isLocking(200));
    // A stranger (the owner's new phone) gets its first try of each kind at once, then one per
    // spacing; a trusted address is not slowed at all.
    const QHostAddress stranger(u"10.0.2.7"_s);
    for (const Proof proof : {Proof::Proven, Proof::Blind}) {
        QVERIFY(guard.admit(stranger, 200, proof));
        QVERIFY(!guard.admit(stranger, 200 + LoginGuard::CrowdSpacingMs - 1, proof));
        QVERIFY(guard.admit(stranger, 200 + LoginGuard::CrowdSpacingMs, proof));
    }
    QVERIFY(guard.admit(owner, 201, Proof::Blind) && guard.admit(owner, 202, Proof::Blind));
    // Until the rate falls: to 100 once the first eight misses, all at 0 ms, leave the window.
    QCOMPARE(guard.nextChange(200), timings.crowdWindowMs);
    QVERIFY(!guard.isLocking(timings.crowdWindowMs));
}

void LoginGuardTest::anIPv6NetworkLocksItsStrangersOnly()
{
    LoginGuard guard(Timings);
    const QHostAddress phone(u"2001:db8:1:2::77"_s);
    guard.trust(phone, 0);
    // A neighbour in the phone's /64 is not trusted by the phone's login...
    QVERIFY(!guard.isTrusted(QHostAddress(u"2001:db8:1:2::78"_s)));
    // ...and its misses from ever new addresses lock the network, but not the trusted phone.
    for (int i = 0; i < LoginGuard::MaxMisses; ++i)
        guard.miss(QHostAddress(u"2001:db8:1:2::%1"_s.arg(i + 1)), 0, Proof::Proven);
    QVERIFY(!guard.admit(QHostAddress(u"2001:db8:1:2:ffff::9"_s), 1, Proof::Proven));
    QVERIFY(guard.admit(phone, 1, Proof::Proven));
    QVERIFY(guard.admit(QHostAddress(u"2001:db8:1:3::1"_s), 1, Proof::Proven));
    // An IPv4 peer seen through an IPv6 socket is that IPv4 address.
    guard.trust(QHostAddress(u"::ffff:192.168.1.5"_s), 0);
    QVERIFY(guard.isTrusted(QHostAddress(u"192.168.1.5"_s)));
    QVERIFY(!guard.isTrusted(QHostAddress(u"192.168.1.6"_s)));
}

void LoginGuardTest::recordsStayBoundedByCountAndAge()
{
    // A crowd of addresses, each missing, logging in and opening a session, on the test's clock.
    LoginGuard guard(Timings);
    PhoneSessions phones;
    const auto peer = [](int i) { return QHostAddress(quint32(0x0a000000 + i)); };
    const int crowd = LoginGuard::MaxPeers + 10;
    for (int i = 0; i < crowd; ++i) {
        guard.miss(peer(i), i, Proof::Proven);
        guard.trust(peer(i), i);
        phones.open(peer(i), i);
    }
    QCOMPARE(guard.peerCount(), LoginGuard::MaxPeers);
    QCOMPARE(guard.trustedCount(), LoginGuard::MaxTrusted);
    QVERIFY(guard.isTrusted(peer(crowd - 1)) && !guard.isTrusted(peer(0)));
    QCOMPARE(phones.count(), PhoneSessions::MaxSessions);
    const QByteArray used = phones.open(peer(0), crowd);

    // Each is forgotten once its time is up, but what is in use stays.
    qint64 now = crowd + LoginGuard::PeerLifetimeMs;
    guard.admit(peer(0), now, Proof::Proven);
    QCOMPARE(guard.peerCount(), 0);
    QVERIFY(phones.isOpen(used, now));
    now += PhoneSessions::SessionLifetimeMs - 1;
    phones.open(peer(1), now);
    QCOMPARE(phones.count(), 2);
    QVERIFY(!phones.isOpen(used, now + 1));
    guard.trust(peer(0), crowd + LoginGuard::TrustLifetimeMs);
    QCOMPARE(guard.trustedCount(), 1);
}

QTEST_MAIN(LoginGuardTest)
#include "test_loginguard.moc"
