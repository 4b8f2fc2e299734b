// The bytes of every answer as they go on the wire, and the control page's byte limit.
#include "webremote/pages.h"
#include "wirepages.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray bodyOf(const QByteArray &response)
{
    return response.mid(response.indexOf("\r\n\r\n") + 4);
}

const QByteArray EmptyControlBody = bodyOf(EmptyControlResponse);

QByteArray okResponse(const QByteArray &body)
{
    return "HTTP/1.0 200 OK\r\nServer: kelpa/0.01\r\nContent-length: " +
           QByteArray::number(body.size()) + "\r\nContent-type: text/html\r\n\r\n" + body;
}

QByteArray controlBody(const QStringList &entries, int32_t limit,
                       const QString &caption = u"kelpa"_s)
{
    return AnsiEncode(BuildControlPage(
        caption, static_cast<int>(entries.size()), [&](int i) { return entries.at(i); }, limit));
}

// The entries listed in a control page body, by their anchors.
int listedEntries(const QByteArray &body)
{
    return static_cast<int>(body.count("<br><a href=\"p"));
}

} // namespace

class PagesTest : public QObject {
    Q_OBJECT

private slots:
    void responsesOnTheWire_data();
    void responsesOnTheWire();
    void entryBytes_data();
    void entryBytes();
    void byteLimit_data();
    void byteLimit();
    void outsideTextIsEscaped();
};

void PagesTest::responsesOnTheWire_data()
{
    QTest::addColumn<QString>("response");
    QTest::addColumn<QByteArray>("bytes");

    // The design's lengths, which the length lines repeat.
    QCOMPARE(bodyOf(NotFoundResponse).size(), 126);
    QCOMPARE(bodyOf(LoginErrorResponse).size(), 128);
    QCOMPARE(bodyOf(WelcomeResponse).size(), 131);
    QCOMPARE(EmptyControlBody.size(), 236);
    for (const QByteArray &golden : {NotFoundResponse, LoginErrorResponse, WelcomeResponse,
                                     LoginPageResponse, EmptyControlResponse}) {
        QVERIFY(golden.contains("Content-length: " + QByteArray::number(bodyOf(golden).size()) +
                                "\r\n"));
    }

    QTest::newRow("404") << BuildNotFoundResponse() << NotFoundResponse;
    QTest::newRow("login error") << BuildOkResponse(LoginErrorPage()) << LoginErrorResponse;
    const QByteArray welcome = bodyOf(WelcomeResponse);
    QTest::newRow("welcome, number 42") << BuildOkResponse(WelcomePage(42)) << WelcomeResponse;
    QTest::newRow("welcome, number 0") << BuildOkResponse(WelcomePage(0))
                                       << okResponse(QByteArray(welcome).replace("/42/", "/0/"));
    QTest::newRow("welcome, number 9999")
        << BuildOkResponse(WelcomePage(9999))
        << okResponse(QByteArray(welcome).replace("/42/", "/9999/"));
    QTest::newRow("login page") << BuildOkResponse(LoginPage()) << LoginPageResponse;
    QTest::newRow("empty control page") << BuildOkResponse(BuildControlPage(
                                               u"kelpa"_s, 0, [](int) { return QString(); }, 5000))
                                        << EmptyControlResponse;
    QTest::newRow("control page of a playing track, Japanese title")
        << BuildOkResponse(BuildControlPage(
               u"kelpa - 夜明け"_s, 0, [](int) { return QString(); }, -1))
        << okResponse(QByteArray(EmptyControlBody)
                          .replace("<title>kelpa", "<title>kelpa - \x96\xe9\x96\xbe\x82\xaf"));
}

void PagesTest::responsesOnTheWire()
{
    QFETCH(QString, response);
    QFETCH(QByteArray, bytes);
    QCOMPARE(AnsiEncode(response), bytes);
}

void PagesTest::entryBytes_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("entry 0, abc") << 0 << u"abc"_s
                                  << QByteArray("<br><a href=\"p0#0\" name=\"0\">abc</a>");
    QTest::newRow("entry 12") << 12 << u"x"_s
                              << QByteArray("<br><a href=\"p12#12\" name=\"12\">x</a>");
    QTest::newRow("ten full-width characters, twenty bytes")
        << 0 << u"一二三四五六七八九十"_s
        << QByteArray("<br><a href=\"p0#0\" name=\"0\">") + AnsiEncode(u"一二三四五六七八九十"_s) +
               "</a>";
    QTest::newRow("empty display text")
        << 3 << QString() << QByteArray("<br><a href=\"p3#3\" name=\"3\"></a>");
}

void PagesTest::entryBytes()
{
    QFETCH(int, index);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(AnsiEncode(ControlPage::entry(index, text)), bytes);
    if (index == 0 && text == u"abc"_s)
        QCOMPARE(bytes.size(), 35);
    if (text.size() == 10)
        QCOMPARE(bytes.size(), 32 + 20);

    // In a page, the entry's bytes come between the fixed head and tail.
    QStringList entries(index + 1, u"e"_s);
    entries[index] = text;
    const QByteArray body = controlBody(entries, -1);
    QVERIFY(body.endsWith(bytes + "</center></body></html>"));
}

void PagesTest::byteLimit_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int32_t>("limit");
    QTest::addColumn<int>("listed");

    // Display texts that make entries of exactly 100 bytes each (index below 10).
    const QString hundred(100 - 32, u'a');
    const QStringList five(5, hundred);
    QTest::newRow("limit 500: 236 + 200 fits, 236 + 300 does not") << five << int32_t{500} << 2;
    QTest::newRow("limit 536: the page may not reach the limit") << five << int32_t{536} << 2;
    QTest::newRow("limit 537: one byte below it does") << five << int32_t{537} << 3;
    QTest::newRow("no limit") << five << int32_t{-1} << 5;
    QTest::newRow("fixed part alone reaches the limit") << five << int32_t{236} << 0;
    QTest::newRow("an entry longer than the limit stops the list")
        << QStringList{u"a"_s, QString(600, u'b'), u"c"_s, u"d"_s} << int32_t{500} << 1;
    QTest::newRow("the limit counts bytes, not characters")
        << QStringList(5, QString(34, u'字')) << int32_t{500} << 2; // 32 + 68 = 100 bytes each
    QTest::newRow("the limit counts escaped text")
        << QStringList(5, QString(19, u'&')) << int32_t{500} << 2; // 32 + 95 = 127 bytes each
    QTest::newRow("the limit counts references for characters the code page lacks")
        << QStringList(5, QString(10, u'é')) << int32_t{500} << 2; // 32 + 60 = 92 bytes each
}

void PagesTest::byteLimit()
{
    QFETCH(QStringList, entries);
    QFETCH(int32_t, limit);
    QFETCH(int, listed);
    const QByteArray body = controlBody(entries, limit);
    QCOMPARE(listedEntries(body), listed);
    if (limit != -1 && listed > 0)
        QVERIFY2(body.size() < limit, "a page with entries stays below the limit");
    // The length line always counts the bytes sent.
    const QByteArray response = AnsiEncode(BuildOkResponse(AnsiDecode(body)));
    QVERIFY(response.contains("Content-length: " + QByteArray::number(body.size()) + "\r\n"));
}

void PagesTest::outsideTextIsEscaped()
{
    const QString hostile = u"<script>alert(\"x\")</script> & co"_s;
    const QByteArray body = controlBody({hostile}, -1, u"kelpa - "_s + hostile);
    const QByteArray escaped = "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; co";
    QVERIFY(body.contains("<title>kelpa - " + escaped + "</title>"));
    QVERIFY(body.contains("name=\"0\">" + escaped + "</a>"));
    QVERIFY(!body.contains("<script"));

    // An emoji in a title reaches the browser as a reference, counted in the length line.
    const QString title = u"kelpa - Smile \U0001F600"_s;
    const QString response = BuildOkResponse(BuildControlPage(
        title, 0, [](int) { return QString(); }, -1));
    const QByteArray wire = AnsiEncode(response);
    QVERIFY(wire.contains("<title>kelpa - Smile &#128512;</title>"));
    const qsizetype bodyStart = wire.indexOf("\r\n\r\n") + 4;
    QVERIFY(
        wire.contains("Content-length: " + QByteArray::number(wire.size() - bodyStart) + "\r\n"));
}

QTEST_MAIN(PagesTest)
#include "test_pages.moc"
