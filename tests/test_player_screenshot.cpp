// The player window on a real X display, playing a track with a Japanese title, saved as a
// picture for a person to look at (screenshots/player.png in the build folder). What can be
// checked by machine is: Japanese text has a font, the strip shows the time and title, and
// the bar the progress in blue.
#include "playerharness.h"
#include "support/fixtures.h"
#include "support/soundserver.h"
#include "windowwatch.h"

#include <QDir>
#include <QFontDatabase>
#include <QScreen>
#include <QtTest>

class PlayerScreenshotTest : public QObject {
    Q_OBJECT

private slots:
    void playingJapaneseTitle();
};

void PlayerScreenshotTest::playingJapaneseTitle()
{
    KELPA_REQUIRE_SOUND_SERVER();
    QVERIFY2(QGuiApplication::platformName() == u"xcb"_s, "needs a real X display");
    QVERIFY2(!QFontDatabase::families(QFontDatabase::Japanese).isEmpty(),
             "no Japanese font: scripts/setup.sh installs fonts-noto-cjk");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    using namespace Fixtures;
    const struct {
        QString title, artist;
        double seconds, freq;
    } tracks[] = {{u"夏の終わり"_s, u"ｶｼｭ"_s, 20, 440},
                  {u"海の見える街"_s, u"楽団"_s, 2, 660},
                  {u"さくら (2024 remaster)"_s, u"歌い手"_s, 2, 550}};
    QStringList files;
    for (const auto &t : tracks) {
        const QString file = makeTone(dir.path(), u"%1.mp3"_s.arg(files.size()), t.seconds, t.freq);
        KELPA_VERIFY_FIXTURE(file);
        KELPA_VERIFY_FIXTURE(prependToFile(
            file,
            id3v2({id3TextFrame("TIT2", t.title, Utf8), id3TextFrame("TPE1", t.artist, Utf8)}, 4)));
        files.append(file);
    }

    PlayerHarness p(QCoreApplication::applicationDirPath()); // the real engine
    QVERIFY(p.started);
    p.timer()->start();
    p.control().setShowType(2);
    QVERIFY(p.dropFiles(files));
    QVERIFY(p.core->SetListIndex(0));
    p.core->OpenSelected();
    QTRY_VERIFY_WITH_TIMEOUT(p.pictDisp()->Text().startsWith(u"00:03 "_s), 15000);
    QCOMPARE(p.pictDisp()->Text(), u"00:03 夏の終わり - ｶｼｭ"_s);
    QCOMPARE(p.core->caption(), u"kelpa - 夏の終わり"_s);
    QCOMPARE(p.items().constFirst(), u"夏の終わり - ｶｼｭ"_s);
    const QImage shot = shownOnScreen(p.form.get());
    QVERIFY(!shot.isNull());
    QVERIFY(QDir().mkpath(QStringLiteral(KELPA_SCREENSHOT_DIR)));
    const QString saved = QDir(QStringLiteral(KELPA_SCREENSHOT_DIR)).filePath(u"player.png"_s);
    QVERIFY(shot.save(saved));
    qInfo("saved %s", qPrintable(saved));

    // The bar as the screen shows it: blue from its inner left edge, 3 of 20 seconds along.
    const QRect inner = p.pictBar()->contentsRect().translated(p.pictBar()->pos());
    const int expectedRight = qRound(84 * 3 / 20.0);
    const int row = inner.center().y();
    QCOMPARE(shot.pixelColor(inner.left(), row), QColor(0, 0, 255));
    QCOMPARE(shot.pixelColor(inner.left() + expectedRight, row), QColor(0, 0, 255));
    QVERIFY(shot.pixelColor(inner.left() + expectedRight + 2, row) != QColor(0, 0, 255));

    QTest::mouseClick(p.button(3), Qt::LeftButton);
}

QTEST_MAIN(PlayerScreenshotTest)
#include "test_player_screenshot.moc"
