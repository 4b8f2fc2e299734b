// Playlists as media players and taggers write them, dropped on the player window: which
// tracks land in the list, in which order, under which names. Plain list files beside them
// keep their own rules.
#include "playerharness.h"

#include <QStringEncoder>
#include <QtTest>

class M3uTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    FakeEngine fake_;

    QByteArray at(const char *name) const
    {
        return QFile::encodeName(dir_.filePath(QString::fromUtf8(name)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY(QDir(dir_.path()).mkpath(u"music/sub"_s) &&
                QDir(dir_.path()).mkpath(u"music/日本語"_s));
        const QList<std::pair<const char *, const char *>> tracks{
            {"music/a.mp3", "Ta"}, {"music/sub/b.mp3", "Tb"}, {"music/日本語/c d.mp3", "Tc"}};
        for (const auto &[name, title] : tracks) {
            QVERIFY(writeBytes(QFile::decodeName(at(name)), "x"));
            fake_.addTrack(at(name), title, "R", 60);
        }
        // Plain list files take relative names from the current folder, which holds no track.
        QVERIFY(QDir::setCurrent(dir_.path()));
    }

    void dropsAddWhatThePlaylistNames_data()
    {
        QTest::addColumn<QString>("listName");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("titles");
        const QByteArray a = at("music/a.mp3"), b = at("music/sub/b.mp3");
        QStringEncoder sjis("Shift_JIS");
        const QByteArray sjisLine = sjis.encode(u"日本語\\c d.mp3\r\n"_s);

        QTest::newRow("absolute, extended information")
            << u"lists/mix.m3u"_s
            << "#EXTM3U\n#EXTINF:60,R - Tb\n" + b + "\n#EXTINF:60,R - Ta\n" + a + "\n"
            << QStringList{u"Tb"_s, u"Ta"_s};
        QTest::newRow("relative to the list, nested folders")
            << u"music/here.m3u8"_s << QByteArray("a.mp3\nsub/b.mp3\n日本語/c d.mp3\n")
            << QStringList{u"Ta"_s, u"Tb"_s, u"Tc"_s};
        QTest::newRow("up from a nested list")
            << u"music/sub/up.m3u"_s << QByteArray("../a.mp3\n./b.mp3\n../../music/sub/b.mp3")
            << QStringList{u"Ta"_s, u"Tb"_s, u"Tb"_s};
        QTest::newRow("Windows line ends and a byte order mark")
            << u"music/win.m3u8"_s
            << QByteArray("\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:1,x\r\nsub/b.mp3\r\na.mp3\r\n")
            << QStringList{u"Tb"_s, u"Ta"_s};
        QTest::newRow("Windows separators")
            << u"music/win.m3u"_s << QByteArray("sub\\b.mp3\r\n") << QStringList{u"Tb"_s};
        QTest::newRow("Shift_JIS from a Windows tool")
            << u"music/WIN.M3U"_s << sjisLine << QStringList{u"Tc"_s};
        QTest::newRow("UTF-8 only in m3u8") << u"music/utf8.m3u8"_s << sjisLine << QStringList{};
        QTest::newRow("file URLs")
            << u"lists/urls.m3u8"_s
            << "file://" +
                   QUrl::toPercentEncoding(QString::fromUtf8(at("music/日本語/c d.mp3")), "/") +
                   "\nFILE://localhost" + a + "\n"
            << QStringList{u"Tc"_s, u"Ta"_s};
        QTest::newRow("comments, blanks, web streams and missing files")
            << u"music/odd.m3u"_s
            << QByteArray(
                   "# a.mp3\n\n   "
                   "\nhttp://radio.example/a.mp3\nfile://otherhost/a.mp3\nmissing.mp3\n\t a.mp3 \n")
            << QStringList{u"Ta"_s};
        QTest::newRow("a plain list keeps its own rules")
            << u"music/plain.txt"_s << QByteArray("a.mp3\r\n") << QStringList{};
    }
    void dropsAddWhatThePlaylistNames()
    {
        QFETCH(QString, listName);
        QFETCH(QByteArray, content);
        const QString list = dir_.filePath(listName);
        QVERIFY(QDir().mkpath(QFileInfo(list).path()) && writeBytes(list, content));
        PlayerHarness player;
        QVERIFY(player.started);
        QVERIFY(player.dropFiles({list}));
        QStringList titles;
        for (int i = 0; i < player.count(); ++i)
            titles << player.core->entryText(i);
        QTEST(titles, "titles");
    }

    // Entries keep the plain name of the file, for the caption and the desktop's controls.
    void relativeEntriesAreStoredAsPlainNames()
    {
        const QString list = dir_.filePath(u"music/sub/names.m3u"_s);
        QVERIFY(writeBytes(list, "../日本語/./c d.mp3\n"));
        PlayerHarness player;
        QVERIFY(player.started && player.dropFiles({list}));
        QCOMPARE(player.core->ListPath(0), at("music/日本語/c d.mp3"));
    }
};

QTEST_MAIN(M3uTest)
#include "test_m3u.moc"
