// The settings window as the start-up opens it: a small always-on-top tool window that cannot
// be closed on its own.
#include "webremote/frmsver.h"

#include <QScreen>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class FrmSverTest : public QObject
{
    Q_OBJECT

private slots:
    void isASmallTopmostToolWindow();
    void refusesToClose();
};

void FrmSverTest::isASmallTopmostToolWindow()
{
    FrmSver window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(window.windowTitle(), u"kelpa"_s);
    QCOMPARE(window.size(), QSize(169, 163));
    QCOMPARE(window.minimumSize(), window.maximumSize()); // fixed size
    const Qt::WindowFlags flags = window.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    // Placed before the frame is known: off by at most the frame's thickness.
    const QPoint offCentre = window.frameGeometry().center() - window.screen()->availableGeometry().center();
    QVERIFY2(qAbs(offCentre.x()) <= 4 && qAbs(offCentre.y()) <= 4, "centred on the screen");
}

void FrmSverTest::refusesToClose()
{
    FrmSver window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
}

QTEST_MAIN(FrmSverTest)
#include "test_frmsver.moc"
