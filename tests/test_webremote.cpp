// The web remote on the wire: requests from clients on 127.0.0.1 to the real server, which
// drives the fake player and answers byte for byte; the page limit from the panel's options.
#include "net/hostnames.h"
#include "remotefixture.h"

#include "webremote/pages.h"

#include <QElapsedTimer>
#include <QSysInfo>

using namespace Qt::Literals::StringLiterals;

class WebRemoteTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void requestsBeforeAnyLogin_data();
    void requestsBeforeAnyLogin();
    void hostAndSiteOfTheRequest_data();
    void hostAndSiteOfTheRequest();
    void loginNumbersSpreadOverTheRange();
    void loginDrawsTheNumberOfEveryControlPath();
    void idBoxDecidesTheLogin_data();
    void idBoxDecidesTheLogin();
    void controlPathsDriveThePlayer_data();
    void controlPathsDriveThePlayer();
    void playlistEntries_data();
    void playlistEntries();
    void byteLimitFromTheOptions();
    void limitBoxIsReadAtEachConnection();
    void hostileTitlesAreEscaped();
    void busyCaptionWhileAnswering();
    void guessesLockTheGuesserNotTheOwner_data();
    void guessesLockTheGuesserNotTheOwner();
    void lockEndsOnTimeAndDoubles();
    void rightLoginClearsTheCount();
    void searchFromManyAddressesSlowsStrangersOnly();

private:
    std::unique_ptr<ServerFixture> remote;
};

void WebRemoteTest::init()
{
    remote = std::make_unique<ServerFixture>(ServerTimings{.pauseMs = 10});
    QVERIFY(remote->port != 0);
}

void WebRemoteTest::cleanup()
{
    remote.reset();
}

void WebRemoteTest::requestsBeforeAnyLogin_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("response");
    const QByteArray loginPage = AnsiEncode(BuildOkResponse(LoginPage()));

    QTest::newRow("GET /") << QByteArray("GET / HTTP/1.0\r\n\r\n") << loginPage;
    QTest::newRow("/index.htm") << QByteArray("GET /index.htm HTTP/1.0\r\n\r\n") << loginPage;
    QTest::newRow("/index.html") << QByteArray(
                                        "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                                 << loginPage;
    QTest::newRow("/INDEX.HTM: paths are case-sensitive")
        << QByteArray("GET /INDEX.HTM HTTP/1.0\r\n\r\n") << NotFoundResponse;
    QTest::newRow("no HTTP anywhere") << QByteArray("GET /\r\n\r\n") << NotFoundResponse;
    QTest::newRow("HTTP only in a later header line")
        << QByteArray("GET /\r\nX: HTTP\r\n\r\n") << loginPage;
    QTest::newRow("HTTP inside the path cuts it")
        << QByteArray("GET /aHTTP HTTP/1.0\r\n\r\n") << loginPage;
    QTest::newRow("GET HTTP/1.0: empty path")
        << QByteArray("GET HTTP/1.0\r\n\r\n") << NotFoundResponse;
    QTest::newRow("POST") << QByteArray("POST / HTTP/1.0\r\n\r\n") << NotFoundResponse;
    QTest::newRow("POST with a body")
        << QByteArray("POST / HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc") << NotFoundResponse;
    QTest::newRow("lower-case get") << QByteArray("get / HTTP/1.0\r\n\r\n") << NotFoundResponse;
    QTest::newRow("HEAD") << QByteArray("HEAD / HTTP/1.0\r\n\r\n") << NotFoundResponse;
    QTest::newRow("empty first line")
        << QByteArray("\r\n\r\nGET / HTTP/1.0\r\n\r\n") << NotFoundResponse;
    QTest::newRow("HTTP at the very start") << QByteArray("HTTP / GET\r\n\r\n") << NotFoundResponse;
    QTest::newRow("two requests back to back: one answer")
        << QByteArray("GET / HTTP/1.0\r\n\r\nGET /x HTTP/1.0\r\n\r\n") << loginPage;
    QTest::newRow("/favicon.ico") << QByteArray("GET /favicon.ico HTTP/1.1\r\n\r\n")
                                  << NotFoundResponse;
    QTest::newRow("/l.cgi alone") << QByteArray("GET /l.cgi HTTP/1.0\r\n\r\n")
                                  << LoginErrorResponse;
    QTest::newRow("/l.cgi, ID in other case")
        << QByteArray("GET /l.cgi?id=WUZEL HTTP/1.0\r\n\r\n") << LoginErrorResponse;
    // Until the first login no login number is valid, not even the 0 it starts at.
    QTest::newRow("/0/ before any login")
        << QByteArray("GET /0/ HTTP/1.0\r\n\r\n") << NotFoundResponse;
    QTest::newRow("/0/1 before any login")
        << QByteArray("GET /0/1 HTTP/1.0\r\n\r\n") << NotFoundResponse;
    QTest::newRow("/0/p0 before any login")
        << QByteArray("GET /0/p0 HTTP/1.0\r\n\r\n") << NotFoundResponse;
}

void WebRemoteTest::requestsBeforeAnyLogin()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, response);
    remote->addTracks({u"one"_s});
    QCOMPARE(remote->exchange(request), response);
    // The player was not touched.
    QCOMPARE(remote->player.status(), kelpa::PlaybackStatus::Stopped);
    QCOMPARE(remote->player.current, -1);
}

void WebRemoteTest::hostAndSiteOfTheRequest_data()
{
    // The header lines of "GET / HTTP/1.1", and whether the login page is served or the 404.
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<bool>("served");
    const QByteArray own = QSysInfo::machineHostName().section(u'.', 0, 0).toLatin1();
    const QByteArray upper = own.toUpper();
    const QList<std::pair<QByteArray, bool>> hosts{
        {"127.0.0.1:8080", true},
        {"[::1]:80", true},
        {"LocalHost", true},
        {"localhost.", true},
        {own, true},
        {own + ".local:8080", true},
        // What mDNS gives a phone; names any DNS can answer for could be rebound to us.
        {upper + ".local", true},
        {own + "-2.local", true},
        {own + ".local.", true},
        {own + ".lan", false},
        {upper + ".fritz.box", false},
        {own + ".home.arpa:80", false},
        {own + ".evil.example", false},
        {own + ".evil.com.", false},
        {"x", false},
        {"evil.example:8080", false},
        {"localhost.evil.example", false},
        {own + "2.local", false},
        {own + "-x.local", false},
        {own + "-2.lan", false},
        {"x." + own + ".local", false},
        // Lines that are no Host line a browser sends.
        {"127.0.0.1:80@evil.example", false},
        {"user@127.0.0.1", false},
        {"127.0.0.1:http", false},
        {"127.0.0.1/x", false},
        {"127.0.0.1 evil.example", false},
        {"", false},
    };
    // The fully qualified name the system reports, where it reports one.
    const QString canonical = LocalHostNames().canonical;
    if (canonical.contains(u'.'))
        QTest::newRow("the system's own full name") << "Host: " + canonical.toLatin1() + "\r\n"
                                                    << true;
    for (const auto &[host, served] : hosts)
        QTest::newRow("Host: " + host) << "Host: " + host + "\r\n" << served;
    QTest::newRow("a blank before the colon") << QByteArray("Host : 127.0.0.1\r\n") << false;
    QTest::newRow("two Host lines")
        << QByteArray("Host: 127.0.0.1\r\nHost: 127.0.0.1\r\n") << false;
    QTest::newRow("no Host line") << QByteArray("User-Agent: feature phone\r\n") << true;

    // What a browser says of the page that made the request.
    QTest::newRow("typed in or scanned")
        << QByteArray("Host: 127.0.0.1:80\r\nSec-Fetch-Site: none\r\n") << true;
    QTest::newRow("from the remote's own page")
        << QByteArray("Host: 127.0.0.1\r\nSec-Fetch-Site: same-origin\r\n") << true;
    QTest::newRow("from a page of another site")
        << QByteArray("Host: 127.0.0.1\r\nSec-Fetch-Site: cross-site\r\n") << false;
    QTest::newRow("from a page on another port")
        << QByteArray("Host: 127.0.0.1\r\nSec-Fetch-Site: same-site\r\n") << false;
    QTest::newRow("its own origin")
        << QByteArray("Host: 127.0.0.1:8080\r\nOrigin: http://127.0.0.1:8080\r\n") << true;
    QTest::newRow("the origin of another host")
        << QByteArray("Host: 127.0.0.1:8080\r\nOrigin: http://evil.example\r\n") << false;
    QTest::newRow("the origin of another port")
        << QByteArray("Host: 127.0.0.1:8080\r\nOrigin: http://127.0.0.1:8081\r\n") << false;
    QTest::newRow("a hidden origin")
        << QByteArray("Host: 127.0.0.1:8080\r\nOrigin: null\r\n") << false;
    QTest::newRow("an origin without a Host line")
        << QByteArray("Origin: http://127.0.0.1\r\n") << false;
}

void WebRemoteTest::hostAndSiteOfTheRequest()
{
    QFETCH(QByteArray, headers);
    QFETCH(bool, served);
    const QByteArray answer = remote->exchange("GET / HTTP/1.1\r\n" + headers + "\r\n");
    if (served)
        QCOMPARE(answer, AnsiEncode(BuildOkResponse(LoginPage())));
    else
        QCOMPARE(answer, NotFoundResponse);
}

void WebRemoteTest::loginNumbersSpreadOverTheRange()
{
    // Forty logins: numbers from 0 to 9999 come out nearly all different, and large ones too.
    QSet<int> drawn;
    int largest = 0;
    for (int i = 0; i < 40; ++i) {
        const int number = remote->login();
        QVERIFY(number >= 0 && number < RemoteState::LoginNumberRange);
        drawn.insert(number);
        largest = std::max(largest, number);
    }
    QVERIFY2(drawn.size() >= 36, qPrintable(u"%1 different numbers"_s.arg(drawn.size())));
    QVERIFY2(largest >= 5000, qPrintable(u"the largest was %1"_s.arg(largest)));
}

void WebRemoteTest::loginDrawsTheNumberOfEveryControlPath()
{
    const int first = remote->login(u"wuzel"_s);
    QVERIFY(first >= 0 && first <= 9999);
    const QString prefix = u"/%1/"_s.arg(first);
    QCOMPARE(remote->get(prefix), EmptyControlResponse);
    QCOMPARE(remote->get(u"/%1"_s.arg(first)), NotFoundResponse);
    QCOMPARE(remote->get(u"/0%1/"_s.arg(first)), NotFoundResponse);
    QCOMPARE(remote->get(u"/%1/"_s.arg((first + 1) % 10000)), NotFoundResponse);

    // The last login wins: a new number, and the old one's links are dead. (One draw in ten
    // thousand repeats the number; draw again then.)
    int second = first;
    for (int tries = 0; tries < 5 && second == first; ++tries)
        second = remote->login(u"wuzel"_s);
    QVERIFY(second != first);
    QCOMPARE(remote->get(prefix), NotFoundResponse);
    QCOMPARE(remote->get(u"/%1/"_s.arg(second)), EmptyControlResponse);

    // A wrong ID changes nothing.
    QCOMPARE(remote->get(u"/l.cgi?id=nobody"_s), LoginErrorResponse);
    QCOMPARE(remote->get(u"/%1/"_s.arg(second)), EmptyControlResponse);
}

void WebRemoteTest::idBoxDecidesTheLogin_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("typed ID") << u"abc"_s << u"/l.cgi?id=abc"_s << true;
    QTest::newRow("other case") << u"abc"_s << u"/l.cgi?id=ABC"_s << false;
    QTest::newRow("old ID no longer") << u"abc"_s << u"/l.cgi?id=wuzel"_s << false;
    QTest::newRow("empty ID, empty field") << QString() << u"/l.cgi?id="_s << false;
    QTest::newRow("empty ID, any text") << QString() << u"/l.cgi?id=x"_s << false;
    QTest::newRow("blank as the form encodes it") << u"a b"_s << u"/l.cgi?id=a+b"_s << false;
    QTest::newRow("Japanese ID sent as it is") << u"曲"_s << u"/l.cgi?id=曲"_s << true;
    QTest::newRow("Japanese ID percent-encoded") << u"曲"_s << u"/l.cgi?id=%8B%C8"_s << false;
    QTest::newRow("ID longer than the form allows")
        << u"abcdefghijklmnop"_s << u"/l.cgi?id=abcdefghijklmnop"_s << true;
}

void WebRemoteTest::idBoxDecidesTheLogin()
{
    QFETCH(QString, id);
    QFETCH(QString, path);
    QFETCH(bool, accepted);
    remote->server.setLoginId(id);
    const QByteArray answer = remote->get(path);
    if (accepted)
        QVERIFY2(answer.contains("welcome to kelpa"), answer.constData());
    else
        QCOMPARE(answer, LoginErrorResponse);
}

void WebRemoteTest::controlPathsDriveThePlayer_data()
{
    // The player starts with the middle entry open and paused.
    QTest::addColumn<QString>("command");
    QTest::addColumn<kelpa::PlaybackStatus>("status");
    QTest::addColumn<int>("open");
    QTest::addColumn<QByteArray>("title");
    using S = kelpa::PlaybackStatus;
    const QByteArray middle = "kelpa - middle";
    QTest::newRow("/ : the page only") << u"/"_s << S::Paused << 1 << middle;
    QTest::newRow("/zz : the page only") << u"/zz"_s << S::Paused << 1 << middle;
    QTest::newRow("/5 : the page only") << u"/5"_s << S::Paused << 1 << middle;
    QTest::newRow("/1 play") << u"/1"_s << S::Playing << 1 << middle;
    QTest::newRow("/12 acts as /1") << u"/12"_s << S::Playing << 1 << middle;
    QTest::newRow("/2 pause resumes") << u"/2"_s << S::Playing << 1 << middle;
    QTest::newRow("/3 stop") << u"/3"_s << S::Stopped << 1 << QByteArray("kelpa");
    QTest::newRow("/4 next") << u"/4"_s << S::Playing << 2 << QByteArray("kelpa - last");
    QTest::newRow("/0abc acts as /0: previous")
        << u"/0abc"_s << S::Playing << 0 << QByteArray("kelpa - first");
}

void WebRemoteTest::controlPathsDriveThePlayer()
{
    QFETCH(QString, command);
    QFETCH(kelpa::PlaybackStatus, status);
    QFETCH(int, open);
    QFETCH(QByteArray, title);
    remote->addTracks({u"first"_s, u"middle"_s, u"last"_s});
    remote->player.playEntry(1);
    remote->player.run(kelpa::Transport::Pause);
    const int number = remote->login(u"wuzel"_s);
    QVERIFY(number >= 0);

    const QByteArray answer = remote->get(u"/%1%2"_s.arg(number).arg(command));
    QVERIFY(answer.startsWith("HTTP/1.0 200 OK\r\n"));
    QCOMPARE(listedEntries(answer), 3);
    // The command ran before the page was built: the page's title is the caption it left.
    QCOMPARE(titleOf(answer), title);
    QCOMPARE(remote->player.status(), status);
    QCOMPARE(remote->player.current, open);
}

void WebRemoteTest::playlistEntries_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("selectionAfter"); // selection was 1 before
    QTest::addColumn<QByteArray>("title");
    QTest::newRow("p3 plays the fourth entry") << u"p3"_s << true << 3 << QByteArray("kelpa - d");
    QTest::newRow("p3#3 acts as p3") << u"p3#3"_s << true << 3 << QByteArray("kelpa - d");
    QTest::newRow("p0") << u"p0"_s << true << 0 << QByteArray("kelpa - a");
    QTest::newRow("p4, the last") << u"p4"_s << true << 4 << QByteArray("kelpa - e");
    QTest::newRow("p5, beyond the list") << u"p5"_s << false << 1 << QByteArray();
    QTest::newRow("p, no number") << u"p"_s << false << 1 << QByteArray();
    QTest::newRow("p#, no number") << u"p#1"_s << false << 1 << QByteArray();
    QTest::newRow("px, not a number") << u"px"_s << false << 1 << QByteArray();
    QTest::newRow("p99999, beyond 16 bits") << u"p99999"_s << false << 1 << QByteArray();
    QTest::newRow("p-2") << u"p-2"_s << false << 1 << QByteArray();
    QTest::newRow("p-1 clears the selection, what is open plays on")
        << u"p-1"_s << true << -1 << QByteArray("kelpa - b");
}

void WebRemoteTest::playlistEntries()
{
    QFETCH(QString, command);
    QFETCH(bool, found);
    QFETCH(int, selectionAfter);
    QFETCH(QByteArray, title);
    remote->addTracks({u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s});
    QVERIFY(remote->player.playEntry(1));
    const int number = remote->login(u"wuzel"_s);
    QVERIFY(number >= 0);

    const QByteArray answer = remote->get(u"/%1/%2"_s.arg(number).arg(command));
    QCOMPARE(remote->player.selected, selectionAfter);
    if (!found) {
        QCOMPARE(answer, NotFoundResponse);
        QCOMPARE(remote->player.current, 1);
        return;
    }
    QCOMPARE(titleOf(answer), title);
    QCOMPARE(listedEntries(answer), 5);
}

void WebRemoteTest::byteLimitFromTheOptions()
{
    // Entries of exactly 100 bytes: 32 bytes of link around a 68-byte title.
    const QString title(68, u't');
    PanelFixture options;
    options.player.paths = QList<QByteArray>(5, AnsiEncode(title));
    options.player.paths << QByteArray(128, 'L') << "short";
    QVERIFY(options.listen() != 0);
    const int number = options.login(u"wuzel"_s);
    const QString page = u"/%1/"_s.arg(number);

    QCOMPARE(listedEntries(options.get(page)), 7); // 5000 at start: all of them fit
    QTest::mouseClick(options.option(1), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(options.option(1)->isChecked());
    QCOMPARE(listedEntries(options.get(page)), 7); // the whole list
    QCOMPARE(options.text(2)->text(), u"5000"_s);  // not read

    PanelFixture::retype(options.text(2), u"500"_s);
    QTest::mouseClick(options.option(2), Qt::LeftButton, {}, QPoint(5, 5));
    const QByteArray cut = options.get(page);
    QCOMPARE(listedEntries(cut), 2); // 236 + 200 < 500 <= 236 + 300
    QVERIFY(bodyOf(cut).size() < 500);
    QVERIFY(cut.contains("Content-length: " + QByteArray::number(bodyOf(cut).size()) + "\r\n"));

    // An entry that does not fit ends the list, however short the ones after it: the long
    // title makes a 160-byte entry, "short" one of 37.
    PanelFixture::retype(options.text(2), u"800"_s);
    QTest::mouseClick(options.option(2), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(listedEntries(options.get(page)), 5);
}

void WebRemoteTest::limitBoxIsReadAtEachConnection()
{
    PanelFixture options;
    options.player.paths = QList<QByteArray>(5, QByteArray(68, 't'));
    QVERIFY(options.listen() != 0);
    const int number = options.login(u"wuzel"_s);
    const QString page = u"/%1/"_s.arg(number);

    // An edit takes effect at the next connection, without a click, raised to 500.
    PanelFixture::retype(options.text(2), u"300"_s);
    QCOMPARE(listedEntries(options.get(page)), 2);
    QCOMPARE(options.text(2)->text(), u"500"_s);

    PanelFixture::retype(options.text(2), u"700"_s);
    QCOMPARE(listedEntries(options.get(page)), 4);
    // Unreadable text keeps the limit in force and shows it.
    PanelFixture::retype(options.text(2), u"abc"_s);
    QCOMPARE(listedEntries(options.get(page)), 4);
    QCOMPARE(options.text(2)->text(), u"700"_s);

    // With the whole list chosen, the box is not read at all.
    QTest::mouseClick(options.option(1), Qt::LeftButton, {}, QPoint(5, 5));
    PanelFixture::retype(options.text(2), u"zz"_s);
    QCOMPARE(listedEntries(options.get(page)), 5);
    QCOMPARE(options.text(2)->text(), u"zz"_s);
}

void WebRemoteTest::hostileTitlesAreEscaped()
{
    remote->addTracks({u"<script>alert(1)</script>"_s, u"Tom & \"Jerry\" \U0001F600"_s});
    const int number = remote->login(u"wuzel"_s);
    const QByteArray answer = remote->get(u"/%1/p0"_s.arg(number));
    QCOMPARE(titleOf(answer), QByteArray("kelpa - &lt;script&gt;alert(1)&lt;/script&gt;"));
    QVERIFY(answer.contains("name=\"1\">Tom &amp; &quot;Jerry&quot; &#128512;</a>"));
    QVERIFY(!answer.contains("<script"));
    QVERIFY(
        answer.contains("Content-length: " + QByteArray::number(bodyOf(answer).size()) + "\r\n"));
}

void WebRemoteTest::busyCaptionWhileAnswering()
{
    QCOMPARE(remote->server.caption(), u"kelpa"_s);
    QStringList captions;
    connect(&remote->server, &RemoteServer::captionChanged, this,
            [&](const QString &caption) { captions.append(caption); });
    QVERIFY(remote->exchange("GET / HTTP/1.0\r\n\r\n").startsWith("HTTP/1.0 200 OK"));
    QTRY_COMPARE(captions, (QStringList{u"kelpa (処理中)"_s, u"kelpa"_s}));
    // A request refused at its first line leaves the caption alone.
    QCOMPARE(remote->exchange("POST / HTTP/1.0\r\n\r\n"), NotFoundResponse);
    QCOMPARE(captions.size(), 2);
}

void WebRemoteTest::guessesLockTheGuesserNotTheOwner_data()
{
    // A guess, with %1 for a number, and the header lines it comes with.
    QTest::addColumn<QString>("guess");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<bool>("locks");
    QTest::newRow("wrong IDs") << u"/l.cgi?id=guess%1"_s << QByteArray() << true;
    QTest::newRow("wrong login numbers") << u"/%1/3"_s << QByteArray() << true;
    // The <img> tags of a page elsewhere, as a browser fetches them: no miss at all.
    QTest::newRow("a page of another site")
        << u"/%1/"_s << QByteArray("Host: 127.0.0.1\r\nSec-Fetch-Site: cross-site\r\n") << false;
    QTest::newRow("a script of another origin")
        << u"/l.cgi?id=guess%1"_s
        << QByteArray("Host: 127.0.0.1\r\nOrigin: http://evil.example\r\n") << false;
}

void WebRemoteTest::guessesLockTheGuesserNotTheOwner()
{
    QFETCH(QString, guess);
    QFETCH(QByteArray, headers);
    QFETCH(bool, locks);
    remote = std::make_unique<ServerFixture>(ServerTimings{.pauseMs = 10, .lockoutMs = 800});
    const QString guesser = u"127.0.0.2"_s;
    const int number = remote->login();
    QVERIFY(number >= 0);
    const QString control = u"/%1/"_s.arg(number);
    const auto guessFromAfar = [&](int i) {
        return remote->exchange("GET " + AnsiEncode(guess.arg((number + 1 + i) % 10000)) +
                                    " HTTP/1.1\r\n" + headers + "\r\n",
                                10000, guesser);
    };
    for (int i = 0; i < LoginGuard::MaxMisses - 1; ++i)
        guessFromAfar(i);
    QCOMPARE(remote->server.caption(), u"kelpa"_s); // not yet
    guessFromAfar(LoginGuard::MaxMisses);
    if (!locks) {
        QCOMPARE(remote->server.caption(), u"kelpa"_s);
        QVERIFY(remote->login(u"wuzel"_s, guesser) >= 0);
        return;
    }
    QCOMPARE(remote->server.caption(), u"kelpa (ログイン停止中)"_s);

    // The owner's address is served as ever, and logs in again.
    QCOMPARE(remote->get(control), EmptyControlResponse);
    const int again = remote->login();
    QVERIFY(again >= 0);
    const QString newControl = u"/%1/"_s.arg(again);

    // The guesser learns nothing: right and wrong get the same bytes (and the owner's number
    // is of no use from another address anyway).
    const QString wrongNumber = u"/%1/"_s.arg((again + 1) % 10000);
    QCOMPARE(remote->get(newControl, guesser), NotFoundResponse);
    QCOMPARE(remote->get(wrongNumber, guesser), NotFoundResponse);
    QCOMPARE(remote->get(u"/l.cgi?id=wuzel"_s, guesser), LoginErrorResponse);
    QCOMPARE(remote->get(u"/l.cgi?id=nobody"_s, guesser), LoginErrorResponse);
    QVERIFY(remote->get(u"/"_s, guesser).contains("about kelpa")); // the login page stays

    QTRY_COMPARE_WITH_TIMEOUT(remote->server.caption(), u"kelpa"_s, 3000);
    QVERIFY(remote->login(u"wuzel"_s, guesser) >= 0);
}

void WebRemoteTest::lockEndsOnTimeAndDoubles()
{
    // On a clock of the test's own: the lock's length is the clock's, not the machine's.
    qint64 now = 0;
    const ServerTimings timings{.pauseMs = 1, .lockoutMs = 600};
    remote = std::make_unique<ServerFixture>(timings, [&now] { return now; });
    const QString guesser = u"127.0.0.2"_s;
    const auto lock = [&] {
        for (int i = 0; i < LoginGuard::MaxMisses; ++i)
            remote->get(u"/l.cgi?id=guess"_s, guesser);
    };
    lock();
    // Guessing on during the lock does not make it last longer.
    now += timings.lockoutMs - 1;
    for (int i = 0; i < LoginGuard::MaxMisses; ++i)
        QCOMPARE(remote->get(u"/l.cgi?id=guess"_s, guesser), LoginErrorResponse);
    QCOMPARE(remote->get(u"/l.cgi?id=wuzel"_s, guesser), LoginErrorResponse);
    now += 1;
    QVERIFY(remote->get(u"/l.cgi?id=wuzel"_s, guesser).contains("welcome to kelpa"));

    // The next lock of the same address lasts twice as long.
    lock();
    now += timings.lockoutMs;
    QCOMPARE(remote->get(u"/l.cgi?id=wuzel"_s, guesser), LoginErrorResponse);
    QCOMPARE(remote->server.caption(), u"kelpa (ログイン停止中)"_s);
    now += timings.lockoutMs;
    QVERIFY(remote->get(u"/l.cgi?id=wuzel"_s, guesser).contains("welcome to kelpa"));
    QCOMPARE(remote->server.caption(), u"kelpa"_s);
}

void WebRemoteTest::rightLoginClearsTheCount()
{
    // Nine typos, the right ID, then a stale bookmark: no lock.
    for (int i = 0; i < LoginGuard::MaxMisses - 1; ++i)
        QCOMPARE(remote->get(u"/l.cgi?id=wuzle"_s), LoginErrorResponse);
    const int number = remote->login();
    QVERIFY(number >= 0);
    QCOMPARE(remote->get(u"/%1/"_s.arg((number + 1) % 10000)), NotFoundResponse);
    QCOMPARE(remote->server.caption(), u"kelpa"_s);
    QCOMPARE(remote->get(u"/%1/"_s.arg(number)), EmptyControlResponse);
}

void WebRemoteTest::searchFromManyAddressesSlowsStrangersOnly()
{
    const ServerTimings timings{.pauseMs = 1, .crowdWindowMs = 4000};
    remote = std::make_unique<ServerFixture>(timings);
    const int number = remote->login(); // the owner, trusted from now on
    QVERIFY(number >= 0);
    QElapsedTimer searching;
    searching.start();
    // Nine wrong numbers from each of twelve addresses: none is locked, 108 misses in all.
    for (int address = 10; address < 22; ++address) {
        for (int i = 0; i < LoginGuard::MaxMisses - 1; ++i)
            remote->get(u"/%1/"_s.arg((number + 1 + i) % 10000), u"127.0.0.%1"_s.arg(address));
    }
    QVERIFY2(searching.elapsed() < timings.crowdWindowMs - 300, "the search took too long");
    QCOMPARE(remote->server.caption(), u"kelpa (ログイン停止中)"_s);
    QCOMPARE(remote->get(u"/%1/"_s.arg(number)), EmptyControlResponse);
    // A stranger's first try gets through (the owner's new phone); the next one waits its turn.
    const QString stranger = u"127.0.0.99"_s;
    QCOMPARE(remote->get(u"/l.cgi?id=nope"_s, stranger), LoginErrorResponse);
    QCOMPARE(remote->get(u"/l.cgi?id=wuzel"_s, stranger), LoginErrorResponse);
    QVERIFY(remote->login(u"wuzel"_s, u"127.0.0.98"_s) >= 0);

    // Once the rate falls, strangers try at will again. The rate falls a window after the search's
    // first misses, most of a window from here; the server's timer is a coarse one, up to 5% late,
    // and a loaded machine adds its own delay. Half a window's slack still tells a caption that
    // comes back from one that stays.
    QTRY_COMPARE_WITH_TIMEOUT(remote->server.caption(), u"kelpa"_s, timings.crowdWindowMs * 3 / 2);
    QVERIFY(remote->login(u"wuzel"_s, stranger) >= 0);
}

QTEST_MAIN(WebRemoteTest)
#include "test_webremote.moc"
