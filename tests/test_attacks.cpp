// What a hostile page the owner merely visits, or a stranger on the network, tries against the
// web remote, each on raw HTTP against the real server: none of it may drive the player, lock
// the owner out, or take the owner's place.
#include "net/hostnames.h"
#include "phoneclient.h"
#include "webremote/loginguard.h"
#include "webremote/phonesessions.h"

#include <QTest>

#include <functional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString Owner = u"127.0.0.1"_s;
const QString Stranger = u"127.0.0.2"_s;

struct Attack {
    const char *name;
    // Runs the attack against a server whose owner's phone is logged in and whose player plays
    // entry 0 of three; false when the attack got anywhere.
    std::function<bool(ServerFixture &, Phone &owner)> fails;
};

QByteArray getWith(ServerFixture &fixture, const QByteArray &target, const QByteArray &headers,
                   const QString &from = Owner)
{
    return fixture.exchange("GET " + target + " HTTP/1.1\r\n" + headers + "\r\n", 10000, from);
}

// A connection from `from` that is closed as soon as the system has made it.
void abandon(quint16 port, const QString &from)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(QHostAddress(from).toIPv4Address());
    sockaddr_in server = local;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0)
        ::connect(fd, reinterpret_cast<sockaddr *>(&server), sizeof server);
    ::close(fd);
}

const Attack Attacks[] = {
    {"a rebound name reads and logs in",
     [](ServerFixture &fixture, Phone &) {
         const QByteArray host =
             "Host: " + LocalHostNames().machine.section(u'.', 0, 0).toLatin1() + ".evil.com.\r\n";
         return Answer(getWith(fixture, "/", host)).status == 404 &&
                Answer(getWith(fixture, "/l.cgi?id=wuzel", host)).status == 404 &&
                Answer(getWith(fixture, "/m/", host)).status == 404;
     }},
    {"an image on another port of this host",
     [](ServerFixture &fixture, Phone &owner) {
         const QByteArray cookie = "Cookie: kelpa_m=" + owner.session + "\r\n";
         getWith(fixture, "/m/cmd?c=next",
                 "Host: 127.0.0.1\r\nSec-Fetch-Site: same-site\r\n" + cookie);
         getWith(fixture, "/m/cmd?c=next",
                 "Host: 127.0.0.1\r\n" + cookie); // plain HTTP: no headers
         return fixture.player.current == 0;
     }},
    {"a form posted from elsewhere with the owner's cookie",
     [](ServerFixture &fixture, Phone &owner) {
         owner.post("/m/cmd", "c=next", "Origin: http://127.0.0.1:1\r\n");
         owner.post("/m/cmd", "c=next"); // a browser that sends no Origin
         return fixture.player.current == 0;
     }},
    {"images of wrong codes and IDs lock the owner out",
     [](ServerFixture &fixture, Phone &) {
         for (int i = 0; i < 3 * LoginGuard::MaxMisses; ++i) {
             getWith(fixture, "/m/pair/" + QByteArray(24, 'f'), {});
             getWith(fixture, "/l.cgi?id=guess", {});
             getWith(fixture, "/m/login?id=guess", {});
         }
         Phone again(fixture);
         return again.login() && Phone(fixture).pairWith(fixture.server.pairingCode());
     }},
    {"a crowd of guessers shuts out the owner's new phone",
     [](ServerFixture &fixture, Phone &owner) {
         for (int address = 10; address < 22; ++address) {
             Phone guesser(fixture, u"127.0.0.%1"_s.arg(address));
             for (int i = 0; i < LoginGuard::MaxMisses - 1; ++i)
                 guesser.login("guess");
         }
         Phone newPhone(fixture, u"127.0.0.99"_s);
         Phone qrPhone(fixture, u"127.0.0.98"_s);
         return newPhone.login() && qrPhone.pairWith(fixture.server.pairingCode()) &&
                owner.command("c=next").status == 303 && fixture.player.current == 1;
     }},
    {"the owner's login number used from elsewhere",
     [](ServerFixture &fixture, Phone &owner) {
         const int number = fixture.login(u"wuzel"_s, Owner);
         const QString stop = u"/%1/3"_s.arg(number);
         const bool elsewhere = Answer(fixture.get(stop, Stranger)).status == 404;
         fixture.server.setLoginId(u"newid"_s); // ends it for the owner too
         const bool ended = Answer(fixture.get(stop, Owner)).status == 404;
         return elsewhere && ended && fixture.player.status() == kelpa::PlaybackStatus::Playing &&
                owner.login("newid");
     }},
    {"logins from one address evict the owner's phone",
     [](ServerFixture &fixture, Phone &owner) {
         for (int i = 0; i < 2 * PhoneSessions::MaxSessions; ++i)
             Phone(fixture, Stranger).login();
         return isPlayerPage(owner.get("/m/"));
     }},
    {"an ID in a POST's query logs in",
     [](ServerFixture &fixture, Phone &) {
         Phone stranger(fixture, Stranger);
         const QByteArray token = stranger.formToken();
         return stranger.post("/m/login?id=wuzel", "t=" + token).session().isEmpty();
     }},
    {"a guest reaches what only the owner may do",
     [](ServerFixture &fixture, Phone &) {
         Phone guest(fixture, Stranger);
         if (!guest.pairWith(fixture.server.pairingCode(PhoneRole::Guest)))
             return false;
         for (const QByteArray command : {"stop", "loop", "vdown", "mute", "s500"}) {
             guest.command("c=" + command);
             guest.command("c=" + command + "&js=1");
             guest.get("/m/cmd?c=" + command);
         }
         return fixture.player.status() == kelpa::PlaybackStatus::Playing &&
                !fixture.player.loop() && fixture.player.volume() == 100 &&
                fixture.player.position() == 0;
     }},
    {"abandoned connections reset the next request",
     [](ServerFixture &fixture, Phone &) {
         for (int round = 0; round < 5; ++round) {
             // Opened and closed in one burst, before the server has looked at any of them.
             for (int i = 0; i < 2 * RemoteServer::MaxWaitingPerPeer; ++i)
                 abandon(fixture.port, Stranger);
             if (!Answer(fixture.get(u"/"_s, Stranger)).body.contains("about kelpa"))
                 return false;
         }
         return true;
     }},
};

} // namespace

class AttacksTest : public QObject {
    Q_OBJECT

private slots:
    void attackFails_data()
    {
        QTest::addColumn<int>("attack");
        for (int i = 0; i < int(std::size(Attacks)); ++i)
            QTest::newRow(Attacks[i].name) << i;
    }

    void attackFails()
    {
        QFETCH(int, attack);
        ServerFixture fixture(ServerTimings{.pauseMs = 1});
        fixture.addTracks({u"a"_s, u"b"_s, u"c"_s});
        fixture.player.playEntry(0);
        Phone owner(fixture, Owner);
        QVERIFY(owner.login());
        QVERIFY(Attacks[attack].fails(fixture, owner));
        // Whatever was tried, the owner's phone is still in.
        QVERIFY(isPlayerPage(owner.get("/m/")));
    }
};

QTEST_MAIN(AttacksTest)
#include "test_attacks.moc"
