// The wire's encoding: windows-31j bytes, numeric references for what it cannot hold, byte
// counts that match the bytes sent, and received bytes decoded whole.
#include "net/ansi.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class AnsiTest : public QObject {
    Q_OBJECT

private slots:
    void encodesAndCounts_data();
    void encodesAndCounts();
    void decodesWholeBuffers_data();
    void decodesWholeBuffers();
};

void AnsiTest::encodesAndCounts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("ASCII") << u"kelpa - <b>"_s << QByteArray("kelpa - <b>");
    QTest::newRow("white square of the stop link") << u"□"_s << QByteArray("\x81\xa0");
    QTest::newRow("half-width katakana, one byte each")
        << u"ｱｰﾃｨｽﾄ"_s << QByteArray("\xb1\xb0\xc3\xa8\xbd\xc4");
    QTest::newRow("ten full-width characters, twenty bytes")
        << u"夜明けのスキャット。"_s
        << QByteArray(
               "\x96\xe9\x96\xbe\x82\xaf\x82\xcc\x83\x58\x83\x4c\x83\x83\x83\x62\x83\x67\x81\x42");
    QTest::newRow("Microsoft's full-width tilde") << u"\uFF5E"_s << QByteArray("\x81\x60");
    QTest::newRow("accented Latin letter as a reference") << u"Café"_s << QByteArray("Caf&#233;");
    QTest::newRow("character beyond 16 bits as one reference")
        << u"a\U0001F600b"_s << QByteArray("a&#128512;b");
    QTest::newRow("references between encodable characters")
        << u"曲é曲"_s << QByteArray("\x8b\xc8&#233;\x8b\xc8");
    QTest::newRow("half a surrogate pair")
        << QString(QChar(0xD800)) + u"x"_s << QByteArray("&#65533;x");
    QTest::newRow("replacement character itself") << u"\uFFFD"_s << QByteArray("&#65533;");
    QTest::newRow("NUL passes") << QString(QChar(0)) << QByteArray(1, '\0');
}

void AnsiTest::encodesAndCounts()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(AnsiEncode(text), bytes);
    QCOMPARE(AnsiByteLen(text), bytes.size());
}

void AnsiTest::decodesWholeBuffers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("request line") << QByteArray("GET /42/p3 HTTP/1.0\r\n")
                                  << u"GET /42/p3 HTTP/1.0\r\n"_s;
    QTest::newRow("double-byte characters") << QByteArray("\x8b\xc8\x81\xa0") << u"曲□"_s;
    QTest::newRow("bytes that are not windows-31j") << QByteArray("a\xff"
                                                                  "b")
                                                    << u"a\u001Ab"_s;
}

void AnsiTest::decodesWholeBuffers()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(AnsiDecode(bytes), text);
    // Whatever the bytes, encoding what decoding gave keeps every valid character.
    if (!text.contains(QChar(0x1A)))
        QCOMPARE(AnsiEncode(AnsiDecode(bytes)), bytes);
}

QTEST_MAIN(AnsiTest)
#include "test_ansi.moc"
