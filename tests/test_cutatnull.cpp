// Text fields of the engine's records: the text ends at the first NUL, or fills the field.
#include "engine/enginelibrary.h"

#include <QTest>

#include <cstring>

using namespace Qt::Literals::StringLiterals;

class CutAtNullTest : public QObject {
    Q_OBJECT

private slots:
    void readsTheTextBeforeTheFirstNul_data();
    void readsTheTextBeforeTheFirstNul();
    void fieldOverloadStopsAtTheFieldsEnd();
};

void CutAtNullTest::readsTheTextBeforeTheFirstNul_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("text");

    const auto field = [](QByteArray bytes) {
        bytes.resize(128, '\0');
        return bytes;
    };
    QTest::newRow("no NUL: the whole field") << QByteArray(128, 'a') << QString(128, u'a');
    QTest::newRow("NUL in the last byte") << field(QByteArray(127, 'b')) << QString(127, u'b');
    QTest::newRow("empty") << field({}) << QString();
    QTest::newRow("trailing blanks are text") << field("Song   ") << u"Song   "_s;
    QTest::newRow("leading blanks are text") << field("  Song") << u"  Song"_s;
    QTest::newRow("bytes after the NUL are ignored")
        << field(QByteArray("Title\0garbage\0more", 18)) << u"Title"_s;
    QTest::newRow("UTF-8 Japanese") << field(u"ケルパの歌 ｹﾙﾊﾟ"_s.toUtf8()) << u"ケルパの歌 ｹﾙﾊﾟ"_s;
    QTest::newRow("UTF-8 filling the field exactly")
        << u"あ"_s.repeated(42).toUtf8().append("xy") << u"あ"_s.repeated(42).append(u"xy"_s);
}

void CutAtNullTest::readsTheTextBeforeTheFirstNul()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, text);
    QCOMPARE(field.size(), 128);
    QCOMPARE(CutAtNull(field.constData(), static_cast<std::size_t>(field.size())), text);
}

void CutAtNullTest::fieldOverloadStopsAtTheFieldsEnd()
{
    // A Title without a NUL runs straight into Artist in memory; only the field is text.
    EngineLibrary::OpenRecord record{};
    std::memset(record.Title, 'T', sizeof record.Title);
    std::memcpy(record.Artist, "Artist", 6);
    QCOMPARE(CutAtNull(record.Title), QString(128, u'T'));
    QCOMPARE(CutAtNull(record.Artist), u"Artist"_s);

    EngineLibrary::TagRecord tag{};
    std::memset(tag.Artist, 'A', sizeof tag.Artist);
    tag.Album[0] = 'X';
    QCOMPARE(CutAtNull(tag.Artist), QString(128, u'A'));
}

QTEST_GUILESS_MAIN(CutAtNullTest)
#include "test_cutatnull.moc"
