// The web remote on the wire: requests from clients on 127.0.0.1 to the real panel and
// server, which drive the player window (with the fake engine) and answer byte for byte.
#include "remotefixture.h"

#include "webremote/pages.h"

#include <QSysInfo>

using namespace Qt::Literals::StringLiterals;

class WebRemoteTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void requestsBeforeAnyLogin_data();
    void requestsBeforeAnyLogin();
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
    void guessingLocksTheRemoteForAWhile_data();
    void guessingLocksTheRemoteForAWhile();

private:
    std::unique_ptr<RemoteFixture> remote;
};

void WebRemoteTest::init()
{
    remote = std::make_unique<RemoteFixture>();
    QVERIFY(remote->player.started);
    QVERIFY(remote->panel);
    remote->port = remote->listen();
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
    const QByteArray own = QSysInfo::machineHostName().toLatin1();
    for (const QByteArray &host : {QByteArray("127.0.0.1:8080"), QByteArray("[::1]:80"),
                                   QByteArray("LocalHost"), own, own + ".local:8080"})
        QTest::newRow("Host: " + host) << "GET / HTTP/1.1\r\nhost: " + host + "\r\n\r\n"
                                       << loginPage;
    for (const QByteArray &host : {QByteArray("x"), QByteArray("evil.example:8080"),
                                   QByteArray("localhost.evil.example"), own + ".evil.example"})
        QTest::newRow("Host: " + host) << "GET / HTTP/1.1\r\nHost: " + host + "\r\n\r\n"
                                       << NotFoundResponse;
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
    QVERIFY(remote->addTracks({u"one"_s}));
    remote->clearLog();
    QCOMPARE(remote->exchange(request), response);
    QVERIFY(remote->engine.log().isEmpty()); // the player was not touched
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
    // Typed where the keyboard can type it; an input method puts Japanese text in whole.
    remote->text(4)->selectAll();
    QTest::keyClick(remote->text(4), Qt::Key_Backspace);
    if (id.isEmpty() || id.front() < u'\x80')
        QTest::keyClicks(remote->text(4), id);
    else
        remote->text(4)->insert(id);
    QCOMPARE(remote->text(4)->text(), id);
    const QByteArray answer = remote->get(path);
    if (accepted)
        QVERIFY2(answer.contains("welcome to kelpa"), answer.constData());
    else
        QCOMPARE(answer, LoginErrorResponse);
}

void WebRemoteTest::controlPathsDriveThePlayer_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("engineCalls"); // "open" stands for the open of `opened`
    QTest::addColumn<int>("opened");
    QTest::addColumn<QByteArray>("title");
    const QStringList openAndPlay{u"vbmp3_stop"_s, u"vbmp3_close"_s, u"open"_s, u"vbmp3_play"_s};
    QTest::newRow("/ : the page only") << u"/"_s << QStringList() << -1 << QByteArray("kelpa");
    QTest::newRow("/zz : the page only") << u"/zz"_s << QStringList() << -1 << QByteArray("kelpa");
    QTest::newRow("/5 : the page only") << u"/5"_s << QStringList() << -1 << QByteArray("kelpa");
    QTest::newRow("/1 play") << u"/1"_s << QStringList{u"vbmp3_play"_s} << -1
                             << QByteArray("kelpa");
    QTest::newRow("/12 acts as /1")
        << u"/12"_s << QStringList{u"vbmp3_play"_s} << -1 << QByteArray("kelpa");
    QTest::newRow("/2 pause") << u"/2"_s << QStringList{u"vbmp3_pause"_s} << -1
                              << QByteArray("kelpa");
    QTest::newRow("/3 stop") << u"/3"_s << QStringList{u"vbmp3_stop"_s} << -1
                             << QByteArray("kelpa");
    QTest::newRow("/4 next opens the first entry")
        << u"/4"_s << openAndPlay << 0 << QByteArray("kelpa - first");
    QTest::newRow("/0abc acts as /0: previous opens the last")
        << u"/0abc"_s << openAndPlay << 2 << QByteArray("kelpa - last");
}

void WebRemoteTest::controlPathsDriveThePlayer()
{
    QFETCH(QString, command);
    QFETCH(QStringList, engineCalls);
    QFETCH(int, opened);
    QFETCH(QByteArray, title);
    QVERIFY(remote->addTracks({u"first"_s, u"middle"_s, u"last"_s}));
    const int number = remote->login(u"wuzel"_s);
    QVERIFY(number >= 0);
    remote->clearLog();

    const QByteArray answer = remote->get(u"/%1%2"_s.arg(number).arg(command));
    QVERIFY(answer.startsWith("HTTP/1.0 200 OK\r\n"));
    QCOMPARE(listedEntries(answer), 3);
    // The command ran before the page was built: the page's title is the caption it left.
    QCOMPARE(titleOf(answer), title);
    QStringList calls = remote->engine.log();
    calls.removeAll(u"vbmp3_getState"_s);
    for (QString &call : engineCalls) {
        if (call == u"open"_s)
            call = u"vbmp3_open "_s + remote->trackPath(opened);
    }
    QCOMPARE(calls, engineCalls);
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
    QTest::newRow("p-1 clears the selection, plays nothing")
        << u"p-1"_s << true << -1 << QByteArray("kelpa");
}

void WebRemoteTest::playlistEntries()
{
    QFETCH(QString, command);
    QFETCH(bool, found);
    QFETCH(int, selectionAfter);
    QFETCH(QByteArray, title);
    QVERIFY(remote->addTracks({u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s}));
    QVERIFY(remote->player.core->SetListIndex(1));
    const int number = remote->login(u"wuzel"_s);
    QVERIFY(number >= 0);
    remote->clearLog();

    const QByteArray answer = remote->get(u"/%1/%2"_s.arg(number).arg(command));
    QCOMPARE(remote->player.core->ListIndex(), selectionAfter);
    if (!found) {
        QCOMPARE(answer, NotFoundResponse);
        QVERIFY(remote->engine.log().isEmpty());
        return;
    }
    QCOMPARE(titleOf(answer), title);
    QCOMPARE(listedEntries(answer), 5);
    QCOMPARE(remote->engine.log().filter(u"vbmp3_open"_s).size(), selectionAfter >= 0 ? 1 : 0);
}

void WebRemoteTest::byteLimitFromTheOptions()
{
    // Entries of exactly 100 bytes: 32 bytes of link around a 68-byte title.
    const QString title(68, u't');
    QVERIFY(remote->addTracks(QStringList(5, title) << QString(128, u'L') << u"short"_s));
    const int number = remote->login(u"wuzel"_s);
    const QString page = u"/%1/"_s.arg(number);

    QCOMPARE(listedEntries(remote->get(page)), 7); // 5000 at start: all of them fit
    QTest::mouseClick(remote->option(1), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(remote->option(1)->isChecked());
    QCOMPARE(listedEntries(remote->get(page)), 7); // the whole list
    QCOMPARE(remote->text(2)->text(), u"5000"_s);  // not read

    RemoteFixture::retype(remote->text(2), u"500"_s);
    QTest::mouseClick(remote->option(2), Qt::LeftButton, {}, QPoint(5, 5));
    const QByteArray cut = remote->get(page);
    QCOMPARE(listedEntries(cut), 2); // 236 + 200 < 500 <= 236 + 300
    QVERIFY(bodyOf(cut).size() < 500);
    QVERIFY(cut.contains("Content-length: " + QByteArray::number(bodyOf(cut).size()) + "\r\n"));

    // An entry that does not fit ends the list, however short the ones after it: the long
    // title (cut to the engine's 128-byte field) makes a 160-byte entry, "short" one of 37.
    RemoteFixture::retype(remote->text(2), u"800"_s);
    QTest::mouseClick(remote->option(2), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(listedEntries(remote->get(page)), 5);
}

void WebRemoteTest::limitBoxIsReadAtEachConnection()
{
    QVERIFY(remote->addTracks(QStringList(5, QString(68, u't'))));
    const int number = remote->login(u"wuzel"_s);
    const QString page = u"/%1/"_s.arg(number);

    // An edit takes effect at the next connection, without a click, raised to 500.
    RemoteFixture::retype(remote->text(2), u"300"_s);
    QCOMPARE(listedEntries(remote->get(page)), 2);
    QCOMPARE(remote->text(2)->text(), u"500"_s);

    RemoteFixture::retype(remote->text(2), u"700"_s);
    QCOMPARE(listedEntries(remote->get(page)), 4);
    // Unreadable text keeps the limit in force and shows it.
    RemoteFixture::retype(remote->text(2), u"abc"_s);
    QCOMPARE(listedEntries(remote->get(page)), 4);
    QCOMPARE(remote->text(2)->text(), u"700"_s);

    // With the whole list chosen, the box is not read at all.
    QTest::mouseClick(remote->option(1), Qt::LeftButton, {}, QPoint(5, 5));
    RemoteFixture::retype(remote->text(2), u"zz"_s);
    QCOMPARE(listedEntries(remote->get(page)), 5);
    QCOMPARE(remote->text(2)->text(), u"zz"_s);
}

void WebRemoteTest::hostileTitlesAreEscaped()
{
    QVERIFY(remote->addTracks({u"<script>alert(1)</script>"_s, u"Tom & \"Jerry\" \U0001F600"_s}));
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
    QCOMPARE(remote->panel->windowTitle(), u"kelpa"_s);
    Client client(remote->port);
    QString captionWhenAnswered;
    QObject::connect(&client.socket, &QTcpSocket::readyRead, &client, [&] {
        if (captionWhenAnswered.isEmpty())
            captionWhenAnswered = remote->panel->windowTitle();
    });
    client.send("GET / HTTP/1.0\r\n\r\n");
    QVERIFY(client.waitClosed());
    QCOMPARE(captionWhenAnswered, u"kelpa (処理中)"_s);
    QTRY_COMPARE(remote->panel->windowTitle(), u"kelpa"_s);
}

void WebRemoteTest::guessingLocksTheRemoteForAWhile_data()
{
    QTest::addColumn<QString>("guess");
    QTest::newRow("wrong IDs") << u"/l.cgi?id=guess%1"_s;
    QTest::newRow("wrong login numbers") << u"/%1/3"_s;
}

void WebRemoteTest::guessingLocksTheRemoteForAWhile()
{
    QFETCH(QString, guess);
    remote = std::make_unique<RemoteFixture>(ServerTimings{.pauseMs = 10, .lockoutMs = 1500});
    remote->port = remote->listen();
    const int number = remote->login(u"wuzel"_s);
    QVERIFY(number >= 0);
    const QString control = u"/%1/"_s.arg(number);
    for (int i = 0; i < FrmSver::MaxMisses - 1; ++i)
        remote->get(guess.arg((number + 1 + i) % 10000));
    QCOMPARE(remote->get(control), EmptyControlResponse); // not yet
    QCOMPARE(remote->panel->windowTitle(), u"kelpa"_s);

    remote->get(guess.arg((number + 1) % 10000));
    QCOMPARE(remote->panel->windowTitle(), u"kelpa (ログイン停止中)"_s);
    QCOMPARE(remote->get(control), LoginErrorResponse);
    QCOMPARE(remote->get(u"/l.cgi?id=wuzel"_s), LoginErrorResponse);
    QVERIFY(remote->get(u"/"_s).contains("about kelpa")); // the login page stays

    QTRY_COMPARE_WITH_TIMEOUT(remote->panel->windowTitle(), u"kelpa"_s, 3000);
    QVERIFY(remote->login(u"wuzel"_s) >= 0);
}

QTEST_MAIN(WebRemoteTest)
#include "test_webremote.moc"
