// Pictures of the settings panel and the About box as the window system shows them, saved in
// the build folder (frmsver.png, form2.png) to be looked at beside the layouts. The test checks
// that each picture is the window's client area at its design size and shows its controls.
#include "remotefixture.h"

#include <QDir>
#include <QImage>
#include <QScreen>

using namespace Qt::Literals::StringLiterals;

namespace {

// Distinct colours in the picture: a window whose controls did not paint shows one or two.
int colours(const QImage &image)
{
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            seen.insert(image.pixel(x, y));
    }
    return static_cast<int>(seen.size());
}

} // namespace

class ScreenshotsTest : public QObject {
    Q_OBJECT

private slots:
    void settingsPanelAndAboutBox();
};

void ScreenshotsTest::settingsPanelAndAboutBox()
{
    RemoteFixture remote;
    QVERIFY(remote.player.started);
    QVERIFY(QTest::qWaitForWindowExposed(remote.panel));
    // Both windows open centred; without a window manager to keep the panel on top, the
    // player window is moved out of the way.
    remote.player.form->move(0, 0);
    remote.panel->raise();
    const QImage panel = shownOnScreen(remote.panel);
    QCOMPARE(panel.size(), QSize(169, 163));
    QVERIFY(colours(panel) > 10);
    QVERIFY(panel.save(QDir(QStringLiteral(KELPA_SCREENSHOT_DIR)).filePath(u"frmsver.png"_s)));

    // The box comes up without holding the click.
    QTest::mouseClick(remote.panel->findChild<QPushButton *>(u"Command1"_s), Qt::LeftButton);
    QWidget *box = QApplication::activeModalWidget();
    QVERIFY(box && QTest::qWaitForWindowExposed(box));
    const QImage about = shownOnScreen(box);
    QVERIFY(QTest::qWaitForWindowActive(box)); // its keys reach it
    QTest::keyClick(box, Qt::Key_O, Qt::AltModifier);
    QTRY_VERIFY(!box->isVisible());
    QCOMPARE(about.size(), QSize(244, 73));
    QVERIFY(colours(about) > 10);
    QVERIFY(about.save(QDir(QStringLiteral(KELPA_SCREENSHOT_DIR)).filePath(u"form2.png"_s)));
}

QTEST_MAIN(ScreenshotsTest)
#include "test_screenshots.moc"
