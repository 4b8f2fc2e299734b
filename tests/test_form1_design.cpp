// The player window's design: its size, the controls at their places with their captions,
// the design geometry the layout scales from, and the icon.
#include "fakeengine/fakeengine.h"
#include "player/form1.h"
#include "player/player.h"

#include <QAbstractButton>
#include <QImageReader>
#include <QListView>
#include <QSet>
#include <QTest>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

class Form1DesignTest : public QObject {
    Q_OBJECT

private slots:
    void windowHasItsDesignGeometry();
    void controlsStandAtTheirDesignPlaces_data();
    void controlsStandAtTheirDesignPlaces();
    void iconHoldsThreeImagesOfTheirColourDepths();
};

void Form1DesignTest::windowHasItsDesignGeometry()
{
    Player player(FakeEngine::completeDir());
    Form1 form(player);
    QVERIFY(form.Start());
    QCOMPARE(form.size(), QSize(236, 308));

    // The design, measured before the window was shown, is what the layout scales from: ten
    // pixels more each way move the edges by ten.
    form.resize(246, 318);
    const auto geometry = [&form](const char *name) {
        return form.findChild<QWidget *>(QString::fromLatin1(name))->geometry();
    };
    QCOMPARE(geometry("List1"), QRect(4, 3, 239, 282));
    QCOMPARE(geometry("Command1_0"), QRect(4, 290, 25, 25));
    QCOMPARE(geometry("PictBar"), QRect(144, 306, 99, 9));
    QCOMPARE(geometry("PictDisp"), QRect(144, 290, 99, 16));

    auto *list1 = form.findChild<QListView *>(u"List1"_s);
    QVERIFY(list1);
    QCOMPARE(list1->palette().color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(list1->palette().color(QPalette::Text), QColor(Qt::black));
    // The paths are kept out of sight, beside the display strings: no second list box shows.
    QCOMPARE(form.findChildren<QListView *>().size(), 1);
}

void Form1DesignTest::controlsStandAtTheirDesignPlaces_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::newRow("List1") << u"List1"_s << QRect(4, 3, 229, 272) << QString();
    QTest::newRow("previous") << u"Command1_0"_s << QRect(4, 280, 25, 25) << u"|<"_s;
    QTest::newRow("play") << u"Command1_1"_s << QRect(32, 280, 25, 25) << u">"_s;
    QTest::newRow("pause") << u"Command1_2"_s << QRect(60, 280, 25, 25) << u"||"_s;
    QTest::newRow("stop") << u"Command1_3"_s << QRect(88, 280, 25, 25) << u"□"_s;
    QTest::newRow("next") << u"Command1_4"_s << QRect(116, 280, 25, 25) << u">|"_s;
    QTest::newRow("PictBar") << u"PictBar"_s << QRect(144, 296, 89, 9) << QString();
    QTest::newRow("PictDisp") << u"PictDisp"_s << QRect(144, 280, 89, 16) << QString();
}

void Form1DesignTest::controlsStandAtTheirDesignPlaces()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    Player player(FakeEngine::completeDir());
    Form1 form(player);
    QVERIFY(form.Start());
    auto *control = form.findChild<QWidget *>(name);
    QVERIFY(control);
    QVERIFY(control->isVisible());
    QCOMPARE(control->geometry(), geometry);
    if (!caption.isNull()) {
        auto *button = qobject_cast<QAbstractButton *>(control);
        QVERIFY(button);
        QCOMPARE(button->text(), caption);
    }
}

void Form1DesignTest::iconHoldsThreeImagesOfTheirColourDepths()
{
    struct Image {
        QSize size;
        int colours;
    };
    const auto opaqueColours = [](const QImage &image) {
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) != 0)
                    colours.insert(image.pixel(x, y));
        return colours.size();
    };

    QImageReader file(u":/kelpa.ico"_s);
    const QList<Image> expected{{QSize(32, 32), 2}, {QSize(32, 32), 16}, {QSize(16, 16), 16}};
    QCOMPARE(file.imageCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QVERIFY(file.jumpToImage(i));
        const QImage image = file.read();
        QCOMPARE(image.size(), expected[i].size);
        const int colours = opaqueColours(image);
        QVERIFY2(colours >= 2 && colours <= expected[i].colours, qPrintable(QString::number(i)));
        QVERIFY(image.pixel(0, 0) !=
                image.pixel(image.width() / 2, image.height() / 2)); // a shape, not a block
    }

    // The window shows the 16-colour images.
    Player player(FakeEngine::completeDir());
    Form1 form(player);
    QList<QSize> sizes = form.windowIcon().availableSizes();
    std::sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
    QCOMPARE(sizes, (QList<QSize>{QSize(16, 16), QSize(32, 32)}));
    QVERIFY(opaqueColours(form.windowIcon().pixmap(QSize(32, 32)).toImage()) > 2);
}

QTEST_MAIN(Form1DesignTest)
#include "test_form1_design.moc"
