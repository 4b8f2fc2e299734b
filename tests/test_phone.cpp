// The phone pages under /m/ as a phone's browser meets them, against the fake player: logins by
// the ID and by the pairing code, several phones at once, the commands and what the page and
// the live state then show, and the same throttle and refusals as the design's pages.
#include "phoneclient.h"
#include "webremote/phonedevice.h"
#include "webremote/phonepages.h"
#include "webremote/phonesearch.h"
#include "webremote/phonesessions.h"
#include "webremote/request.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

namespace {

ServerTimings quick()
{
    ServerTimings timings;
    timings.pauseMs = 5;
    return timings;
}

enum Outcome { In, Refused, Form, PairForm };

} // namespace

class PhoneTest : public QObject {
    Q_OBJECT

private slots:
    void waysIn_data();
    void waysIn();
    void pairingCodeIsUsedUpAndReplaced();
    void phonesStayInTogether();
    void idChangeEndsPhoneSessions();
    void commands_data();
    void commands();
    void reloadRepeatsNoCommand();
    void noSessionRunsNothing_data();
    void noSessionRunsNothing();
    void pageShows_data();
    void pageShows();
    void playlistPages_data();
    void playlistPages();
    void listChangedMeanwhile_data();
    void listChangedMeanwhile();
    void search_data();
    void search();
    void pagesFillEveryField();
    void stateEscapesTexts();
    void pictureAndHomeScreen_data();
    void pictureAndHomeScreen();
    void deviceNames_data();
    void deviceNames();
    void refusalsTellNothing();
    void bodyMayComeLater();
    void sessionsAreBounded();
    void pairingCodeLapses();
};

void PhoneTest::waysIn_data()
{
    // %CODE% stands for the pairing code, %T% for the login form's token.
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("outcome"); // In, Refused, Form (the login page), PairForm
    QTest::newRow("right ID") << QByteArray("POST /m/login t=%T%&id=wuzel") << int(In);
    QTest::newRow("wrong ID") << QByteArray("POST /m/login t=%T%&id=wuzek") << int(Refused);
    QTest::newRow("ID with more") << QByteArray("POST /m/login t=%T%&id=wuzel2") << int(Refused);
    QTest::newRow("no ID") << QByteArray("POST /m/login t=%T%") << int(Refused);
    QTest::newRow("ID in a POST's query")
        << QByteArray("POST /m/login?id=wuzel t=%T%") << int(Refused);
    QTest::newRow("no token") << QByteArray("POST /m/login id=wuzel") << int(Form);
    QTest::newRow("wrong token") << QByteArray("POST /m/login t=%T%0&id=wuzel") << int(Form);
    QTest::newRow("ID in the query") << QByteArray("GET /m/login?id=wuzel") << int(Form);
    QTest::newRow("pairing code") << QByteArray("POST /m/pair/%CODE%") << int(In);
    QTest::newRow("pairing code by GET") << QByteArray("GET /m/pair/%CODE%") << int(PairForm);
    QTest::newRow("wrong code") << QByteArray("POST /m/pair/0123456789abcdef01234567")
                                << int(Refused);
    QTest::newRow("code cut short") << QByteArray("POST /m/pair/%CODE%!") << int(Refused);
    QTest::newRow("empty code") << QByteArray("POST /m/pair/") << int(Refused);
}

void PhoneTest::waysIn()
{
    QFETCH(QByteArray, request);
    QFETCH(int, outcome);
    ServerFixture fixture(quick());
    const QByteArray code = fixture.server.pairingCode();
    request.replace("%CODE%!", code.chopped(1));
    request.replace("%CODE%", code);
    Phone phone(fixture);
    request.replace("%T%", phone.formToken());
    const QList<QByteArray> parts = request.split(' ');
    const Answer answer =
        parts[0] == "POST" ? phone.post(parts[1], parts.value(2)) : phone.get(parts[1]);
    phone.session = answer.session();
    if (outcome == PairForm) {
        // A link preview's GET does not use the code up; the page's form does.
        QVERIFY(answer.text().contains(u"method=\"post\" action=\"/m/pair/"_s +
                                       QString::fromLatin1(code) + u'"'));
        QCOMPARE(fixture.server.pairingCode(), code);
        QCOMPARE(phone.post("/m/pair/" + code, {}).status, 303);
    } else if (outcome == In) {
        QCOMPARE(answer.status, 303);
        QCOMPARE(answer.header("Location"), QByteArray("/m/"));
        QCOMPARE(answer.header("Set-Cookie"),
                 "kelpa_m=" + phone.session + "; Path=/m/; HttpOnly; SameSite=Strict");
        QCOMPARE(phone.session.size(), 32); // 128 bits
        const Answer page = phone.get("/m/");
        QVERIFY(isPlayerPage(page));
        QVERIFY(!page.body.contains(phone.session));
    } else {
        QVERIFY(phone.session.isEmpty());
        QVERIFY(isLoginPage(answer));
        QCOMPARE(answer.text().contains(u"ログインできませんでした"_s), outcome == Refused);
        // Each refusal says what applies to it alone.
        const bool pairing = request.contains("/m/pair/");
        QCOMPARE(answer.text().contains(u"IDが違います"_s), outcome == Refused && !pairing);
        QCOMPARE(answer.text().contains(u"QRコード"_s), outcome == Refused && pairing);
    }
}

void PhoneTest::pairingCodeIsUsedUpAndReplaced()
{
    ServerFixture fixture(quick());
    QSignalSpy changed(&fixture.server, &RemoteServer::pairingCodeChanged);
    const QByteArray code = fixture.server.pairingCode();
    QVERIFY(code.size() >= 16); // 64 bits and more
    Phone first(fixture);
    first.session = first.post("/m/pair/" + code, {}).session();
    QVERIFY(!first.session.isEmpty());
    QCOMPARE(changed.size(), 1);
    const QByteArray next = fixture.server.pairingCode();
    QVERIFY(next != code);

    Phone second(fixture);
    const Answer again = second.post("/m/pair/" + code, {});
    QVERIFY(again.session().isEmpty());
    QVERIFY(again.text().contains(u"ログインできませんでした"_s));
    QVERIFY(second.post("/m/pair/" + next, {}).session().size() == 32);
    QVERIFY(isPlayerPage(first.get("/m/")));
}

void PhoneTest::phonesStayInTogether()
{
    ServerFixture fixture(quick());
    fixture.addTracks({u"one"_s, u"two"_s});
    Phone first(fixture);
    Phone second(fixture, u"127.0.0.2"_s);
    QVERIFY(first.login());
    QVERIFY(second.login());
    QVERIFY(first.session != second.session);
    // The design's login draws a new login number; the phones stay in all the same.
    QVERIFY(fixture.login() >= 0);
    QVERIFY(isPlayerPage(first.get("/m/")));
    QVERIFY(isPlayerPage(second.get("/m/")));
    first.command(first.entryCommand(1));
    QCOMPARE(second.state().value(u"title"_s).toString(), u"two"_s);
}

void PhoneTest::idChangeEndsPhoneSessions()
{
    ServerFixture fixture(quick());
    Phone phone(fixture);
    QVERIFY(phone.login());
    const QByteArray code = fixture.server.pairingCode();
    fixture.server.setLoginId(u"wuzel"_s); // no change
    QVERIFY(isPlayerPage(phone.get("/m/")));
    fixture.server.setLoginId(u"newid"_s);
    QVERIFY(isLoginPage(phone.get("/m/")));
    QVERIFY(fixture.server.pairingCode() != code);
    QVERIFY(!phone.login("wuzel"));
    QVERIFY(phone.login("newid"));
}

void PhoneTest::commands_data()
{
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QString>("field"); // of the state
    QTest::addColumn<QVariant>("before");
    QTest::addColumn<QVariant>("after");
    QTest::addColumn<bool>("guest"); // a guest's command has the same effect
    QTest::newRow("next") << QByteArray("c=next") << u"title"_s << QVariant(u"b"_s)
                          << QVariant(u"c"_s) << true;
    QTest::newRow("previous") << QByteArray("c=prev") << u"title"_s << QVariant(u"b"_s)
                              << QVariant(u"a"_s) << true;
    QTest::newRow("entry") << QByteArray("%e2%") << u"current"_s << QVariant(1) << QVariant(2)
                           << true;
    QTest::newRow("entry beyond") << QByteArray("c=e3.0.0") << u"current"_s << QVariant(1)
                                  << QVariant(1) << true;
    QTest::newRow("pause") << QByteArray("c=pp") << u"state"_s << QVariant(u"再生中"_s)
                           << QVariant(u"一時停止"_s) << true;
    QTest::newRow("stop") << QByteArray("c=stop") << u"state"_s << QVariant(u"再生中"_s)
                          << QVariant(u"停止"_s) << false;
    QTest::newRow("loop") << QByteArray("c=loop") << u"loop"_s << QVariant(false) << QVariant(true)
                          << false;
    QTest::newRow("volume down") << QByteArray("c=vdown") << u"volume"_s << QVariant(100)
                                 << QVariant(90) << false;
    QTest::newRow("volume up at most 100")
        << QByteArray("c=vup") << u"volume"_s << QVariant(100) << QVariant(100) << false;
    QTest::newRow("mute") << QByteArray("c=mute") << u"volume"_s << QVariant(100) << QVariant(0)
                          << false;
    QTest::newRow("half way") << QByteArray("c=s500") << u"pos"_s << QVariant(0) << QVariant(150)
                              << false;
    QTest::newRow("end") << QByteArray("c=s1000") << u"pos"_s << QVariant(0) << QVariant(300)
                         << false;
    QTest::newRow("beyond the end")
        << QByteArray("c=s1001") << u"pos"_s << QVariant(0) << QVariant(0) << false;
    QTest::newRow("unknown") << QByteArray("c=x9") << u"title"_s << QVariant(u"b"_s)
                             << QVariant(u"b"_s) << true;
    // What a page from elsewhere can have the browser send runs nothing.
    QTest::newRow("by GET") << QByteArray("GET c=next") << u"title"_s << QVariant(u"b"_s)
                            << QVariant(u"b"_s) << true;
    QTest::newRow("without the token")
        << QByteArray("RAW c=next") << u"title"_s << QVariant(u"b"_s) << QVariant(u"b"_s) << true;
}

void PhoneTest::commands()
{
    QFETCH(QByteArray, form);
    QFETCH(QString, field);
    QFETCH(QVariant, before);
    QFETCH(QVariant, after);
    QFETCH(bool, guest);
    // The server holds a guest to the role, whatever the guest's page shows.
    for (const PhoneRole role : {PhoneRole::Operate, PhoneRole::Guest}) {
        ServerFixture fixture(quick());
        fixture.addTracks({u"a"_s, u"b"_s, u"c"_s});
        fixture.player.playEntry(1);
        Phone phone(fixture);
        QVERIFY(role == PhoneRole::Operate ? phone.login()
                                           : phone.pairWith(fixture.server.pairingCode(role)));
        QCOMPARE(phone.state().value(field).toVariant(), before);
        const QByteArray sent = QByteArray(form).replace("%e2%", phone.entryCommand(2));
        const bool refused = sent.startsWith("GET ") || sent.startsWith("RAW ");
        const Answer answer = sent.startsWith("GET ")   ? phone.get("/m/cmd?" + sent.mid(4))
                              : sent.startsWith("RAW ") ? phone.post("/m/cmd", sent.mid(4))
                                                        : phone.command(sent + "&page=0");
        QCOMPARE(answer.status, 303);
        QCOMPARE(answer.header("Location"), refused ? QByteArray("/m/") : QByteArray("/m/?page=0"));
        const QVariant now = role == PhoneRole::Operate || guest ? after : before;
        QCOMPARE(phone.state().value(field).toVariant(), now);
        // The page shows it too.
        const QString page = phone.get("/m/").text();
        if (field == u"state"_s)
            QVERIFY(page.contains(u"<p id=\"state\" class=\"dim\">"_s + now.toString()));
        if (field == u"volume"_s && role == PhoneRole::Operate)
            QVERIFY(page.contains(
                u"<span id=\"vol\" style=\"text-align:center\">%1%</span>"_s.arg(now.toInt())));
    }
}

void PhoneTest::reloadRepeatsNoCommand()
{
    ServerFixture fixture(quick());
    fixture.addTracks({u"a"_s, u"b"_s, u"c"_s});
    fixture.player.playEntry(0);
    Phone phone(fixture);
    QVERIFY(phone.login());
    const Answer answer = phone.command("c=next&page=0");
    // The browser follows the redirect, and a reload loads what it was sent to.
    for (int reload = 0; reload < 3; ++reload)
        QVERIFY(isPlayerPage(phone.get(answer.header("Location"))));
    QCOMPARE(fixture.player.current, 1);
    // A live page's command is sent on to the state.
    const Answer live = phone.command("c=next&js=1");
    QCOMPARE(live.header("Location"), QByteArray("/m/state"));
    QCOMPARE(phone.state().value(u"current"_s).toInt(), 2);
}

void PhoneTest::noSessionRunsNothing_data()
{
    QTest::addColumn<QByteArray>("session");
    QTest::newRow("none") << QByteArray();
    QTest::newRow("unknown") << QByteArray("0123456789abcdef0123456789abcdef");
    QTest::newRow("empty") << QByteArray("");
}

void PhoneTest::noSessionRunsNothing()
{
    QFETCH(QByteArray, session);
    ServerFixture fixture(quick());
    fixture.addTracks({u"a"_s, u"b"_s});
    fixture.player.playEntry(0);
    Phone phone(fixture);
    phone.session = session;
    const Answer answer = phone.post("/m/cmd", "c=next");
    QCOMPARE(answer.status, 303);
    QCOMPARE(answer.header("Location"), QByteArray("/m/"));
    QCOMPARE(fixture.player.current, 0);
    QVERIFY(isLoginPage(phone.get("/m/")));
    QCOMPARE(phone.get("/m/state").status, 404);
    // Not taken for a guess: the right ID still gets in at once.
    QVERIFY(phone.login());
}

void PhoneTest::pageShows_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("level");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("notShown");
    QTest::addColumn<bool>("guest");
    const QStringList labels{
        u"aria-label=\"前へ\""_s,       u"aria-label=\"再生/一時停止\""_s,
        u"aria-label=\"停止\""_s,       u"aria-label=\"次へ\""_s,
        u"aria-label=\"ループ再生\""_s, u"aria-label=\"再生位置\""_s,
        u"charset=\"utf-8\""_s,         u"content=\"width=device-width, initial-scale=1\""_s};
    const QStringList volume{u"aria-label=\"音量を下げる\""_s, u"aria-label=\"音量を上げる\""_s,
                             u"aria-label=\"消音\""_s};
    QTest::newRow("tagged") << QByteArray("/music/a.mp3") << u"Tag & <Title> \"1\""_s << 40
                            << labels + volume +
                                   QStringList{u"Tag &amp; &lt;Title&gt; &quot;1&quot;"_s,
                                               u">40%<"_s}
                            << QStringList{u"<Title>"_s} << false;
    QTest::newRow("untagged: the file name")
        << QByteArray("/music/<b>夜.mp3") << QString() << 100
        << QStringList{u"<h1 id=\"title\">&lt;b&gt;夜.mp3</h1>"_s,
                       u"aria-current=\"true\"><span class=\"n\">1</span><span class=\"t\">&lt;b&gt;夜.mp3</span>"_s}
        << QStringList{u"<b>"_s} << false;
    QTest::newRow("engine without volume") << QByteArray("/a.mp3") << u"t"_s << -1 << labels
                                           << volume + QStringList{u"id=\"vol\""_s} << false;
    // Only what a guest may do: no stop, seeking, volume or loop play.
    QTest::newRow("a guest's") << QByteArray("/a.mp3") << u"t"_s << 40 << labels.mid(0, 2)
                               << volume + QStringList{labels[2], labels[4], u"value=\"s500\""_s}
                               << true;
}

void PhoneTest::pageShows()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, title);
    QFETCH(int, level);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, notShown);
    QFETCH(bool, guest);
    ServerFixture fixture(quick());
    fixture.player.paths = {path};
    if (!title.isNull())
        fixture.player.tags.insert(path, {path, title, u"Artist"_s, 200});
    else
        fixture.player.tags.insert(path, {path, QString(), QString(), 200});
    fixture.player.level = level;
    fixture.player.playEntry(0);
    Phone phone(fixture);
    QVERIFY(guest ? phone.pairWith(fixture.server.pairingCode(PhoneRole::Guest)) : phone.login());
    const Answer page = phone.get("/m/");
    QCOMPARE(page.header("Content-Type"), QByteArray("text/html; charset=utf-8"));
    const QString text = page.text();
    for (const QString &part : shown)
        QVERIFY2(text.contains(part), qPrintable(part));
    for (const QString &part : notShown)
        QVERIFY2(!text.contains(part), qPrintable(part));
}

void PhoneTest::playlistPages_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("open");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("first"); // the first entry shown, -1: none
    QTest::addColumn<int>("last");
    QTest::addColumn<QString>("links"); // "<" previous page, ">" next page
    QTest::newRow("empty") << 0 << -1 << QByteArray("/m/") << -1 << -1 << QString();
    QTest::newRow("one page") << 100 << 0 << QByteArray("/m/") << 0 << 99 << QString();
    QTest::newRow("first of three") << 250 << 0 << QByteArray("/m/") << 0 << 99 << u">"_s;
    QTest::newRow("where it plays") << 250 << 130 << QByteArray("/m/") << 100 << 199 << u"<>"_s;
    QTest::newRow("last") << 250 << 0 << QByteArray("/m/?page=2") << 200 << 249 << u"<"_s;
    QTest::newRow("beyond the last")
        << 250 << 0 << QByteArray("/m/?page=9") << 200 << 249 << u"<"_s;
}

void PhoneTest::playlistPages()
{
    QFETCH(int, entries);
    QFETCH(int, open);
    QFETCH(QByteArray, target);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(QString, links);
    ServerFixture fixture(quick());
    for (int i = 0; i < entries; ++i)
        fixture.player.paths.append("/m/t" + QByteArray::number(i) + ".mp3");
    if (open >= 0)
        fixture.player.playEntry(open);
    Phone phone(fixture);
    QVERIFY(phone.login());
    const QString page = phone.get(target).text();
    // Each entry: its index (and the playlist's revision and its path's key) in its command,
    // its number, its text.
    static const QRegularExpression entry(
        u"<li><button name=\"c\" value=\"e(\\d+)\\.0\\.[0-9a-f]+\"( id=\"now\" "
        u"aria-current=\"true\")?><span class=\"n\">(\\d+)</span><span class=\"t\">/m/t(\\d+)"
        u"\\.mp3</span>"_s);
    QList<int> shown;
    int marked = -1;
    for (const QRegularExpressionMatch &match : entry.globalMatch(page)) {
        QCOMPARE(match.captured(1), match.captured(4));
        QCOMPARE(match.captured(3).toInt(), match.captured(1).toInt() + 1);
        shown.append(match.captured(1).toInt());
        if (!match.captured(2).isEmpty())
            marked = shown.last();
    }
    QCOMPARE(shown.value(0, -1), first);
    QCOMPARE(shown.isEmpty() ? -1 : shown.last(), last);
    QCOMPARE(shown.size(), first < 0 ? 0 : last - first + 1);
    QCOMPARE(marked, open >= first && open <= last ? open : -1);
    QCOMPARE(page.contains(u"#list\">前の100曲</a>"_s), links.contains(u'<'));
    QCOMPARE(page.contains(u"#list\">次の100曲</a>"_s), links.contains(u'>'));
    // A length where it is known: the entry opened.
    QCOMPARE(page.count(u"class=\"len\""_s), marked >= 0 ? 1 : 0);
    QCOMPARE(page.count(u"<span class=\"len\">5:00</span>"_s), marked >= 0 ? 1 : 0);
}

void PhoneTest::listChangedMeanwhile_data()
{
    // A page built from the list "before", then the list changed at the desktop, then a tap.
    QTest::addColumn<QByteArrayList>("before");
    QTest::addColumn<QByteArrayList>("after");
    QTest::addColumn<QByteArray>("tap"); // %eN%: entry N's button on the page as it was built
    QTest::addColumn<int>("played");     // the entry of the list "after"; -1: nothing plays
    const QByteArrayList abc{"a", "b", "c"};
    QTest::newRow("an entry before it removed")
        << abc << QByteArrayList{"b", "c"} << QByteArray("%e1%") << 0;
    QTest::newRow("entries added after it")
        << abc << QByteArrayList{"a", "b", "c", "d", "b"} << QByteArray("%e1%") << 1;
    QTest::newRow("its file there twice, elsewhere")
        << QByteArrayList{"a", "b", "c", "b"} << QByteArrayList{"b", "c", "b"} << QByteArray("%e1%")
        << -1;
    QTest::newRow("no revision") << abc << abc << QByteArray("c=e1") << -1;
}

void PhoneTest::listChangedMeanwhile()
{
    QFETCH(QByteArrayList, before);
    QFETCH(QByteArrayList, after);
    QFETCH(QByteArray, tap);
    QFETCH(int, played);
    ServerFixture fixture(quick());
    fixture.player.paths = before;
    Phone phone(fixture);
    Phone other(fixture, u"127.0.0.2"_s);
    QVERIFY(phone.login() && other.login());
    tap.replace("%e1%", phone.entryCommand(1));
    fixture.player.paths = after;
    fixture.player.revision += before != after;
    QCOMPARE(phone.command(tap + "&page=0").status, 303);
    QCOMPARE(fixture.player.current, played);
    // Told why nothing played, once, beside the list as it is now; another phone is not.
    QVERIFY(!other.get("/m/").text().contains(u"リストが変わったため"_s));
    const QString page = phone.get("/m/?page=0").text();
    QCOMPARE(page.contains(u"<p id=\"note\" role=\"status\">リストが変わったため"_s), played < 0);
    QVERIFY(page.contains(u"プレイリスト（%1曲）"_s.arg(after.size())));
    QVERIFY(!phone.get("/m/").text().contains(u"リストが変わったため"_s));
}

void PhoneTest::search_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QList<int>>("found");
    QTest::newRow("no words") << u" "_s << QList<int>{0, 1, 2, 3, 4, 5};
    QTest::newRow("title, any case") << u"mORNING"_s << QList<int>{0};
    QTest::newRow("full-width letters") << u"ＭＯＲＮ"_s << QList<int>{0};
    QTest::newRow("artist") << u"kelpa"_s << QList<int>{1, 2};
    QTest::newRow("file name") << u"track6"_s << QList<int>{5};
    QTest::newRow("hiragana for katakana, half-width too") << u"とーん"_s << QList<int>{1, 3};
    QTest::newRow("voiced marks apart") << u"ガギ"_s << QList<int>{4, 5};
    QTest::newRow("every word, in any field") << u"トーン　ＫＥＬＰＡ"_s << QList<int>{1};
    QTest::newRow("none") << u"ｘｙｚ"_s << QList<int>{};
}

void PhoneTest::search()
{
    QFETCH(QString, query);
    QFETCH(QList<int>, found);
    FakePlayerControl player;
    player.paths = {"/m/track1.mp3", "/m/track2.mp3", "/m/track3.mp3",
                    "/m/ﾄｰﾝ.mp3",    "/m/ｶﾞｷﾞ.mp3",   "/m/track6 カ\u3099キ\u3099.mp3"};
    player.tags.insert("/m/track1.mp3", {{}, u"Morning Tone"_s, u"Someone"_s, 60});
    player.tags.insert("/m/track2.mp3", {{}, u"夜明けのトーン"_s, u"kelpa tests"_s, 60});
    player.tags.insert("/m/track3.mp3", {{}, u"Evening"_s, u"KELPA"_s, 60});
    QCOMPARE(SearchEntries(player, query), found);
}

void PhoneTest::pagesFillEveryField()
{
    // Every part of every page shown once: a field the page file names and the server leaves
    // out stays "{{name}}".
    FakePlayerControl player;
    for (int i = 0; i < 250; ++i)
        player.paths.append("/m/t" + QByteArray::number(i) + ".mp3");
    player.playEntry(130);
    for (const QByteArray &page :
         {PhoneLoginPage(PhoneLoginNote::Locked, "t", 90000), PhonePairPage("c"),
          PhonePlayerPage(player, {1, u"t1"_s, "t", u"note"_s})})
        QVERIFY2(!page.contains("{{"), page.constData());
}

void PhoneTest::stateEscapesTexts()
{
    ServerFixture fixture(quick());
    const QString title = u"\"q\" \\ </script>\n\t\x01 夜 \u2028"_s;
    fixture.player.paths = {"/x.mp3"};
    fixture.player.tags.insert("/x.mp3", {"/x.mp3", title, u"<a>"_s, 61});
    fixture.player.playEntry(0);
    Phone phone(fixture);
    QVERIFY(phone.login());
    const Answer answer = phone.get("/m/state");
    QCOMPARE(answer.header("Content-Type"), QByteArray("application/json; charset=utf-8"));
    QVERIFY(!answer.body.contains("</script>"));
    QVERIFY(!answer.body.contains('\n'));
    const QJsonObject state = QJsonDocument::fromJson(answer.body).object();
    QCOMPARE(state.value(u"title"_s).toString(), title);
    QCOMPARE(state.value(u"artist"_s).toString(), u"<a>"_s);
    QCOMPARE(state.value(u"len"_s).toInt(), 61);
    QCOMPARE(state.value(u"status"_s).toString(), u"playing"_s);
}

void PhoneTest::pictureAndHomeScreen_data()
{
    QTest::addColumn<QByteArray>("request"); // "GET /m/art", with a session unless "ANON"
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<QByteArray>("type"); // of the answer; empty: 404
    QTest::addColumn<int>("side");        // of an icon
    const QByteArray jpeg("\xFF\xD8\xFF\xE0 jfif");
    QTest::newRow("JPEG") << QByteArray("GET /m/art?v=7") << jpeg << QByteArray("image/jpeg") << 0;
    QTest::newRow("none") << QByteArray("GET /m/art") << QByteArray() << QByteArray() << 0;
    QTest::newRow("not a picture")
        << QByteArray("GET /m/art") << QByteArray("GIF89a<script>") << QByteArray() << 0;
    QTest::newRow("too large") << QByteArray("GET /m/art") << jpeg + QByteArray(1 << 20, 'x')
                               << QByteArray() << 0;
    QTest::newRow("without a session") << QByteArray("ANON /m/art") << jpeg << QByteArray() << 0;
    QTest::newRow("manifest") << QByteArray("ANON /m/manifest.webmanifest") << QByteArray()
                              << QByteArray("application/manifest+json") << 0;
    QTest::newRow("icon 192") << QByteArray("ANON /m/icon-192.png") << QByteArray()
                              << QByteArray("image/png") << 192;
    QTest::newRow("icon 512") << QByteArray("ANON /m/icon-512.png") << QByteArray()
                              << QByteArray("image/png") << 512;
    QTest::newRow("apple-touch-icon") << QByteArray("ANON /m/apple-touch-icon.png") << QByteArray()
                                      << QByteArray("image/png") << 180;
}

void PhoneTest::pictureAndHomeScreen()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, picture);
    QFETCH(QByteArray, type);
    QFETCH(int, side);
    ServerFixture fixture(quick());
    fixture.addTracks({u"a"_s});
    fixture.player.art = {picture, 7};
    fixture.player.playEntry(0);
    Phone phone(fixture);
    if (!request.startsWith("ANON"))
        QVERIFY(phone.login());
    const QByteArray target = request.split(' ')[1];
    const Answer answer = phone.get(target);
    QCOMPARE(answer.status, type.isEmpty() ? 404 : 200);
    if (type.isEmpty())
        return;
    QCOMPARE(answer.header("Content-Type"), type);
    QCOMPARE(answer.header("X-Content-Type-Options"), QByteArray("nosniff"));
    if (!picture.isEmpty()) {
        QCOMPARE(answer.body, picture);
        // The page asks for it by its number, its box sized before it comes.
        QVERIFY(phone.get("/m/").text().contains(
            uR"(<img id="art" alt="" width="160" height="160" data-v="7" src="/m/art?v=7">)"_s));
        QCOMPARE(phone.state().value(u"art"_s).toString(), u"7"_s);
    } else if (side > 0) {
        QCOMPARE(QImage::fromData(answer.body).size(), QSize(side, side));
    }
    // Only at this machine's names, like every page.
    QCOMPARE(phone.get(target, "Sec-Fetch-Site: cross-site\r\n").status, 404);
    QCOMPARE(Answer(fixture.exchange("GET " + target + " HTTP/1.1\r\nHost: evil.example\r\n" +
                                     "Cookie: kelpa_m=" + phone.session + "\r\n\r\n"))
                 .status,
             404);
}

void PhoneTest::deviceNames_data()
{
    QTest::addColumn<QByteArray>("agent");
    QTest::addColumn<QString>("name");
    QTest::newRow("iPhone") << QByteArray("Mozilla/5.0 (iPhone; CPU iPhone OS 17_4 like Mac OS X) "
                                          "AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.4 "
                                          "Mobile/15E148 Safari/604.1")
                            << u"iPhone Safari"_s;
    QTest::newRow("Android") << QByteArray("Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/"
                                           "537.36 (KHTML, like Gecko) Chrome/120.0 Mobile "
                                           "Safari/537.36")
                             << u"Pixel 8 Chrome"_s;
    QTest::newRow("none") << QByteArray() << u"不明"_s;
    QTest::newRow("markup") << QByteArray("<b>x</b><img src=x onerror=alert(1)>/1") << u"bx"_s;
    QTest::newRow("a line of its own") << QByteArray("Mozilla/5.0 (Linux; Android 9; a\x01"
                                                     "b\xE2\x80\xAE"
                                                     "c <i>" +
                                                     QByteArray(200, 'M') + ")")
                                       << u"abc i"_s + QString(19, u'M');
}

void PhoneTest::deviceNames()
{
    QFETCH(QByteArray, agent);
    QFETCH(QString, name);
    QCOMPARE(PhoneDeviceName(agent), name);
}

void PhoneTest::refusalsTellNothing()
{
    ServerFixture fixture(quick());
    fixture.addTracks({u"a"_s, u"b"_s});
    Phone owner(fixture); // logged in before the lock, from the address it locks
    QVERIFY(owner.login());
    Phone phone(fixture);
    const QByteArray t = "t=" + phone.formToken() + '&';
    // Another site's page, and a name that is not this machine's, reach nothing.
    QCOMPARE(phone.post("/m/login", t + "id=wuzel", "Sec-Fetch-Site: cross-site\r\n").status, 404);
    QCOMPARE(phone.post("/m/login", t + "id=wuzel", "Origin: http://evil.example\r\n").status, 404);
    Answer foreignHost(fixture.exchange("GET /m/ HTTP/1.1\r\nHost: evil.example\r\n\r\n"));
    QCOMPARE(foreignHost.status, 404);
    QVERIFY(phone.session.isEmpty());

    for (int miss = 0; miss < LoginGuard::MaxMisses; ++miss)
        phone.post("/m/login", t + "id=nope");
    // Locked: the right ID gets what a wrong one gets, which says for how long.
    const Answer locked = phone.post("/m/login", t + "id=nope");
    const Answer right = phone.post("/m/login", t + "id=wuzel");
    QCOMPARE(right.body, locked.body);
    QVERIFY(right.session().isEmpty());
    QVERIFY(right.text().contains(u"このアドレスからのログインを止めています。30秒後に"_s));
    // A session opened before goes on working.
    QCOMPARE(owner.command(owner.entryCommand(1)).status, 303);
    QCOMPARE(fixture.player.current, 1);
    // The pairing code leaves nothing to guess, and pairs a locked address too.
    QCOMPARE(phone.post("/m/pair/" + fixture.server.pairingCode(), {}).status, 303);
    // Another address is not locked.
    Phone other(fixture, u"127.0.0.3"_s);
    QVERIFY(other.login());
}

void PhoneTest::bodyMayComeLater()
{
    ServerFixture fixture(quick());
    const QByteArray body = "t=" + Phone(fixture).formToken() + "&id=wuzel";
    Client client(fixture.port);
    client.send("POST /m/login HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                "Content-Length: " +
                QByteArray::number(body.size()) + "\r\n\r\n" + body.chopped(4));
    QTest::qWait(200);
    QVERIFY(!client.closed);
    client.send(body.right(4));
    QVERIFY(client.waitClosed());
    QCOMPARE(Answer(client.received).status, 303);

    // A body beyond the limit is not waited for.
    const Answer large(fixture.exchange("POST /m/login HTTP/1.1\r\nContent-Type: "
                                        "application/x-www-form-urlencoded\r\nContent-Length: " +
                                            QByteArray::number(PhoneBodyLimit + 1) + "\r\n\r\nid=",
                                        3000));
    QCOMPARE(large.status, 404);
    // The design's routes answer as ever to a POST.
    QCOMPARE(Answer(fixture.exchange("POST / HTTP/1.0\r\n\r\n")).status, 404);
}

void PhoneTest::sessionsAreBounded()
{
    PhoneSessions sessions;
    QList<QByteArray> tokens;
    const auto at = [](int i) { return QHostAddress(u"10.0.0.%1"_s.arg(i % 8 + 1)); };
    for (int i = 0; i < PhoneSessions::MaxSessions; ++i)
        tokens.append(sessions.open(at(i), i));
    QVERIFY(sessions.isOpen(tokens[0], 100)); // used: no longer the one unused longest
    tokens.append(sessions.open(QHostAddress(u"10.0.1.1"_s), 101));
    QCOMPARE(sessions.count(), PhoneSessions::MaxSessions);
    QVERIFY(sessions.isOpen(tokens[0], 102));
    QVERIFY(!sessions.isOpen(tokens[1], 102));
    QVERIFY(sessions.isOpen(tokens[2], 102));
    QVERIFY(sessions.isOpen(tokens.last(), 102));
    QCOMPARE(QSet<QByteArray>(tokens.begin(), tokens.end()).size(), tokens.size());
    // Logins from one address past its share end that address's own sessions alone.
    PhoneSessions few;
    const QByteArray owner = few.open(QHostAddress(u"10.0.0.1"_s), 0);
    for (int i = 0; i < 3 * PhoneSessions::MaxPerAddress; ++i)
        few.open(QHostAddress(u"10.0.0.66"_s), 1 + i);
    QCOMPARE(few.count(), 1 + PhoneSessions::MaxPerAddress);
    QVERIFY(few.isOpen(owner, 100));
}

void PhoneTest::pairingCodeLapses()
{
    PhoneSessions sessions;
    const QByteArray code = sessions.pairingCode(0);
    const qint64 lapse = PhoneSessions::PairingLifetimeMs;
    QCOMPARE(sessions.pairingCode(lapse - 1), code);
    QVERIFY(!sessions.redeem(code, lapse));
    QVERIFY(sessions.pairingCode(lapse) != code);
    const QByteArray next = sessions.pairingCode(lapse);
    QVERIFY(sessions.redeem(next, lapse + 1));
    QVERIFY(!sessions.redeem(next, lapse + 2));
}

QTEST_MAIN(PhoneTest)
#include "test_phone.moc"
