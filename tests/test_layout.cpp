// The window layout on the offscreen platform: design geometry at the first showing, widths
// and tops following the window's size, the design width as the least, the collapse to the
// 32-pixel strip, maximize, and minimize with restore.
#include "playerharness.h"

#include <QtTest>

namespace {

struct Layout {
    QSize window;
    bool listShown;
    QRect list, previous, next, disp, bar;

    bool operator==(const Layout &) const = default;
};

char *toString(const Layout &l)
{
    const auto rect = [](const QRect &r) {
        return u"(%1,%2 %3x%4)"_s.arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    const QString text =
        u"window %1x%2, list %3 %4, |< %5, >| %6, disp %7, bar %8"_s.arg(l.window.width())
            .arg(l.window.height())
            .arg(l.listShown ? u"shown"_s : u"hidden"_s, rect(l.list), rect(l.previous),
                 rect(l.next), rect(l.disp), rect(l.bar));
    return qstrdup(text.toUtf8().constData());
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void firstShowingKeepsTheDesign();
    void widerAndTallerMoveTheEdges_data();
    void widerAndTallerMoveTheEdges();
    void neverNarrowerThanTheDesign();
    void tooShortCollapsesToTheStrip_data();
    void tooShortCollapsesToTheStrip();
    void maximizeGivesTheStripAtTheFormerWidth_data();
    void maximizeGivesTheStripAtTheFormerWidth();
    void minimizeAndRestoreKeepTheLayout();

private:
    Layout layout() const
    {
        PlayerHarness &p = *player_;
        // A hidden list keeps its last geometry, which nobody sees.
        return {p.form->size(),
                p.list1()->isVisible(),
                p.list1()->isVisible() ? p.list1()->geometry() : QRect(),
                p.button(0)->geometry(),
                p.button(4)->geometry(),
                p.pictDisp()->geometry(),
                p.pictBar()->geometry()};
    }
    // The layout the window should settle at for a client area of that size.
    static Layout expected(int width, int height)
    {
        const int dW = width - 236;
        const int dH = height - 308;
        if (height - 36 <= 12)
            return {QSize(width, 32),
                    false,
                    QRect(),
                    QRect(4, 4, 25, 25),
                    QRect(116, 4, 25, 25),
                    QRect(144, 4, 89 + dW, 16),
                    QRect(144, 20, 89 + dW, 9)};
        return {QSize(width, height),
                true,
                QRect(4, 3, 229 + dW, 272 + dH),
                QRect(4, 280 + dH, 25, 25),
                QRect(116, 280 + dH, 25, 25),
                QRect(144, 280 + dH, 89 + dW, 16),
                QRect(144, 296 + dH, 89 + dW, 9)};
    }
    void resizeTo(int width, int height) { player_->form->resize(width, height); }

    std::unique_ptr<PlayerHarness> player_;
};

void LayoutTest::init()
{
    player_ = std::make_unique<PlayerHarness>();
    QVERIFY(player_->started);
}

void LayoutTest::firstShowingKeepsTheDesign()
{
    QCOMPARE(layout(), expected(236, 308));
    QCOMPARE(layout().list, QRect(4, 3, 229, 272));
}

void LayoutTest::widerAndTallerMoveTheEdges_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("100 wider") << QSize(336, 308);
    QTest::newRow("50 taller") << QSize(236, 358);
    QTest::newRow("both, large") << QSize(1000, 900);
    QTest::newRow("list of 13 pixels at a client height of 49") << QSize(236, 49);
}

void LayoutTest::widerAndTallerMoveTheEdges()
{
    QFETCH(QSize, size);
    resizeTo(size.width(), size.height());
    QTRY_COMPARE(layout(), expected(size.width(), size.height()));
    // Left edges never move.
    QCOMPARE(layout().list.left(), 4);
    QCOMPARE(layout().disp.left(), 144);
}

void LayoutTest::neverNarrowerThanTheDesign()
{
    resizeTo(150, 400);
    QTRY_COMPARE(layout(), expected(236, 400));
    resizeTo(400, 400);
    QTRY_COMPARE(layout(), expected(400, 400));
    resizeTo(235, 400);
    QTRY_COMPARE(layout(), expected(236, 400));
}

void LayoutTest::tooShortCollapsesToTheStrip_data()
{
    QTest::addColumn<int>("height");
    QTest::newRow("48: the largest that collapses") << 48;
    QTest::newRow("33") << 33;
    QTest::newRow("10") << 10;
}

void LayoutTest::tooShortCollapsesToTheStrip()
{
    QFETCH(int, height);
    resizeTo(300, height);
    QTRY_COMPARE(player_->form->height(), 32);
    QTRY_VERIFY(!player_->list1()->isVisible());
    const Layout strip = layout();
    QCOMPARE(strip.window, QSize(300, 32));
    QCOMPARE(strip.previous, QRect(4, 4, 25, 25));
    QCOMPARE(strip.next, QRect(116, 4, 25, 25));
    QCOMPARE(strip.disp, QRect(144, 4, 153, 16));
    QCOMPARE(strip.bar, QRect(144, 20, 153, 9));

    // Taller again, the list comes back.
    resizeTo(300, 49);
    QTRY_COMPARE(layout(), expected(300, 49));
    QCOMPARE(layout().list.height(), 13);
}

void LayoutTest::maximizeGivesTheStripAtTheFormerWidth_data()
{
    QTest::addColumn<bool>("byWindowSystem");
    QTest::newRow("the program maximizes") << false;
    QTest::newRow("the window system maximizes") << true;
}

void LayoutTest::maximizeGivesTheStripAtTheFormerWidth()
{
    QFETCH(bool, byWindowSystem);
    Form1 &form = *player_->form;
    resizeTo(300, 400);
    QTRY_COMPARE(layout(), expected(300, 400));

    if (byWindowSystem)
        form.windowHandle()->setWindowStates(Qt::WindowMaximized); // as a click on the button
    else
        form.showMaximized();
    QTRY_COMPARE(form.size(), QSize(300, 32));
    QVERIFY2(
        !QTest::qWaitFor([&] { return form.isMaximized() || form.size() != QSize(300, 32); }, 50),
        "late window-system events must not undo it");
    QVERIFY(!form.isMaximized());
    QCOMPARE(form.size(), QSize(300, 32));
    QVERIFY(!player_->list1()->isVisible());
    QCOMPARE(player_->pictBar()->geometry(), QRect(144, 20, 153, 9));
}

void LayoutTest::minimizeAndRestoreKeepTheLayout()
{
    Form1 &form = *player_->form;
    resizeTo(320, 420);
    QTRY_COMPARE(layout(), expected(320, 420));
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    QCOMPARE(layout(), expected(320, 420));
    form.showNormal();
    QTRY_VERIFY(!form.isMinimized());
    QTRY_COMPARE(layout(), expected(320, 420));
    QVERIFY2(!QTest::qWaitFor([&] { return layout() != expected(320, 420); }, 50),
             "late window-system events must not undo it");
}

QTEST_MAIN(LayoutTest)
#include "test_layout.moc"
