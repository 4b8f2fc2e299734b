// The settings panel: its window, every control at its place with its caption, the values its
// controls feed to the server, the server's caption as its own, and the About box. The panel
// drives the fake player; the player window stands beside it where both are looked at.
#include "about/version.h"
#include "remotefixture.h"

#include "about/form2.h"
#include "app/qtjapanese.h"
#include "app/uifont.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

// Catches what the desktop would be asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    UrlCatcher() { QDesktopServices::setUrlHandler(u"https"_s, this, "open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(u"https"_s); }
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened.append(url); }
};

bool canConnect(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(u"127.0.0.1"_s, port);
    return socket.waitForConnected(2000);
}

// The text of the QR code in the picture, read by the zbar reader as a phone's camera would.
QString readQrCode(const QImage &picture)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(u"code.png"_s);
    if (!picture.save(path))
        return {};
    QProcess zbar;
    zbar.start(u"zbarimg"_s, {u"--raw"_s, u"-q"_s, path});
    zbar.waitForFinished(10000);
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

// The families whose glyphs show the text in the given font, fallbacks included.
QSet<QString> familiesShowing(const QString &text, const QFont &font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QSet<QString> families;
    for (const QGlyphRun &run : layout.glyphRuns())
        families.insert(run.rawFont().familyName());
    return families;
}

} // namespace

class FrmSverTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void isASmallTopmostToolWindowThatRefusesToClose();
    void loadFillsTheSettings();
    void portBoxTakesDigitsOnly();
    void portBoxTakesTheStandardEditingKeys_data();
    void portBoxTakesTheStandardEditingKeys();
    void addressBoxCannotBeChanged();
    void limitOptionRaisesTheBoxToFiveHundred_data();
    void limitOptionRaisesTheBoxToFiveHundred();
    void displayFormatAppliesToNewEntries();
    void listenToggle();
    void failedListenSaysWhy_data();
    void failedListenSaysWhy();
    void captionsFitTheirBoxes_data();
    void captionsFitTheirBoxes();
    void qrCodeFollowsTheServer();
    void qrWindowStaysOnTheScreen();
    void qrWindowOffersRolesAndEndsPhones();
    void captionFollowsTheServer();
    void aboutBox();

private:
    std::unique_ptr<PanelFixture> remote;
};

void FrmSverTest::initTestCase()
{
    // Qt's own texts as the program shows them: Japanese, whatever the locale.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QVERIFY(UseQtJapanese());
}

void FrmSverTest::init()
{
    remote = std::make_unique<PanelFixture>();
}

void FrmSverTest::cleanup()
{
    remote.reset();
}

void FrmSverTest::isASmallTopmostToolWindowThatRefusesToClose()
{
    FrmSver &window = *remote->panel;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.windowTitle(), u"kelpa"_s);
    QCOMPARE(window.size(), QSize(169, 163));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(isCentred(window));
    QVERIFY(!window.close());
    QVERIFY(window.isVisible());
}

void FrmSverTest::loadFillsTheSettings()
{
    QCOMPARE(remote->text(3)->text(), Winsock::LocalIP());
    QComboBox *combo = remote->combo1();
    QCOMPARE(combo->count(), 3);
    // Half-width katakana, as the panel has always shown them.
    QCOMPARE(combo->itemText(0), u"<\uFF80\uFF72\uFF84\uFF99>"_s);
    QCOMPARE(combo->itemText(1),
             u"<\uFF71\uFF70\uFF83\uFF68\uFF7D\uFF84> - <\uFF80\uFF72\uFF84\uFF99>"_s);
    QCOMPARE(combo->itemText(2),
             u"<\uFF80\uFF72\uFF84\uFF99> - <\uFF71\uFF70\uFF83\uFF68\uFF7D\uFF84>"_s);
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(remote->player.showType, uint8_t{0});
    QVERIFY(remote->check1()->isCheckable());
    QVERIFY(!remote->check1()->isChecked());
    QVERIFY(remote->option(2)->isChecked() && !remote->option(1)->isChecked());
    QCOMPARE(remote->winsock1()->State(), int16_t{Winsock::sckClosed}); // not listening yet

    // Tab order: port, toggle, address, limit, cut, whole list, format, ID, information.
    QStringList order;
    QWidget *focus = remote->text(1);
    for (int i = 0; i < 9; ++i) {
        order.append(focus->objectName());
        focus = focus->nextInFocusChain();
        while (focus->focusPolicy() == Qt::NoFocus || focus->objectName().isEmpty())
            focus = focus->nextInFocusChain();
    }
    QCOMPARE(order, (QStringList{u"Text1"_s, u"Check1"_s, u"Text3"_s, u"Text2"_s, u"Option2"_s,
                                 u"Option1"_s, u"Combo1"_s, u"Text4"_s, u"Command1"_s}));
}

void FrmSverTest::portBoxTakesDigitsOnly()
{
    QLineEdit *port = remote->text(1);
    port->clear();
    QTest::keyClicks(port, u"8a0"_s);
    QCOMPARE(port->text(), u"80"_s);
    QTest::keyClicks(port, u" -+.x"_s);
    QTest::keyClick(port, Qt::Key_Return);
    QCOMPARE(port->text(), u"80"_s);
    QTest::keyClick(port, Qt::Key_Backspace);
    QCOMPARE(port->text(), u"8"_s);
    QTest::keyClick(port, Qt::Key_Left);
    QTest::keyClick(port, Qt::Key_Delete);
    QCOMPARE(port->text(), QString());
}

void FrmSverTest::portBoxTakesTheStandardEditingKeys_data()
{
    // The keys pressed in the port box, which holds "80" with the cursor at its end; then its
    // text and what the clipboard holds (an address before).
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("typedAfter");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("clipboard");
    const QString address = u"192.0.2.2"_s;
    QTest::newRow("select all, type over")
        << QKeySequence(QKeySequence::SelectAll) << u"8080"_s << u"8080"_s << address;
    QTest::newRow("select all, copy")
        << QKeySequence(u"Ctrl+A, Ctrl+C"_s) << QString() << u"80"_s << u"80"_s;
    QTest::newRow("select all, cut")
        << QKeySequence(u"Ctrl+A, Ctrl+X"_s) << QString() << QString() << u"80"_s;
    QTest::newRow("paste keeps the digits")
        << QKeySequence(QKeySequence::Paste) << QString() << u"80192022"_s << address;
    QTest::newRow("the paste menu item too")
        << QKeySequence() << QString() << u"80192022"_s << address;
    QTest::newRow("undo the paste")
        << QKeySequence(u"Ctrl+V, Ctrl+Z"_s) << QString() << u"80"_s << address;
    QTest::newRow("undo what was typed")
        << QKeySequence(QKeySequence::Undo) << QString() << QString() << address;
    QTest::newRow("a letter with Ctrl types nothing")
        << QKeySequence(u"Ctrl+B"_s) << QString() << u"80"_s << address;
}

void FrmSverTest::portBoxTakesTheStandardEditingKeys()
{
    QFETCH(QKeySequence, keys);
    QFETCH(QString, typedAfter);
    QFETCH(QString, text);
    QFETCH(QString, clipboard);
    QApplication::clipboard()->setText(u"192.0.2.2"_s);
    QLineEdit *port = remote->text(1);
    port->setFocus();
    port->clear();
    QTest::keyClicks(port, u"80"_s); // typed: one undo step takes it back
    if (keys.isEmpty()) {
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                  port->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(port, &menuKey);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction *action : menu->actions()) {
            if (action->text().startsWith(QLineEdit::tr("&Paste")))
                action->trigger();
        }
        menu->close();
    }
    QTest::keySequence(port, keys);
    QTest::keyClicks(port, typedAfter);
    QCOMPARE(port->text(), text);
    QCOMPARE(QApplication::clipboard()->text(), clipboard);
}

void FrmSverTest::addressBoxCannotBeChanged()
{
    QLineEdit *address = remote->text(3);
    QTest::keyClicks(address, u"x"_s);
    QCOMPARE(address->text(), Winsock::LocalIP());
    address->selectAll();
    QTest::keyClick(address, Qt::Key_Delete);
    QCOMPARE(address->text(), Winsock::LocalIP());
}

void FrmSverTest::limitOptionRaisesTheBoxToFiveHundred_data()
{
    QTest::addColumn<bool>("fromWholeList");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("300") << false << u"300"_s << u"500"_s;
    QTest::newRow("500 stays") << false << u"500"_s << u"500"_s;
    QTest::newRow("501") << false << u"501"_s << u"501"_s;
    QTest::newRow("-1 is no 'whole list' here") << false << u"-1"_s << u"500"_s;
    QTest::newRow("0") << false << u"0"_s << u"500"_s;
    QTest::newRow("letters keep 5000") << false << u"abc"_s << u"5000"_s;
    QTest::newRow("beyond 32 bits keeps 5000") << false << u"4294967296"_s << u"5000"_s;
    QTest::newRow("letters after the whole list") << true << u"abc"_s << u"500"_s;
}

void FrmSverTest::limitOptionRaisesTheBoxToFiveHundred()
{
    QFETCH(bool, fromWholeList);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    if (fromWholeList)
        QTest::mouseClick(remote->option(1), Qt::LeftButton, {}, QPoint(5, 5));
    PanelFixture::retype(remote->text(2), typed);
    QCOMPARE(remote->text(2)->text(), typed); // an edit alone changes nothing
    QTest::mouseClick(remote->option(2), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(remote->option(2)->isChecked());
    QCOMPARE(remote->text(2)->text(), shown);
}

void FrmSverTest::displayFormatAppliesToNewEntries()
{
    RemoteFixture window; // the player window shows the entries
    QVERIFY(window.player.started);
    window.engine.addTrack("/music/format-a.mp3", "Title", "Artist", 60);
    window.engine.addTrack("/music/format-b.mp3", "Title", "Artist", 60);
    window.engine.addTrack("/music/format-c.mp3", "Title", "Artist", 60);
    QVERIFY(window.player.dropFiles({u"/music/format-a.mp3"_s}));

    QComboBox *combo = window.combo1();
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down); // as a user picks the next item
    QCOMPARE(combo->currentIndex(), 1);
    QVERIFY(window.player.dropFiles({u"/music/format-b.mp3"_s}));
    QTest::keyClick(combo, Qt::Key_Down);
    QVERIFY(window.player.dropFiles({u"/music/format-c.mp3"_s}));
    QCOMPARE(window.player.items(),
             (QStringList{u"Title"_s, u"Artist - Title"_s, u"Title - Artist"_s}));
}

void FrmSverTest::listenToggle()
{
    const quint16 port = freePort();
    PanelFixture::retype(remote->text(1), QString::number(port));
    QTest::mouseClick(remote->check1(), Qt::LeftButton);
    QVERIFY(remote->check1()->isChecked());
    QCOMPARE(remote->winsock1()->LocalPort(), int32_t{port});
    QVERIFY(canConnect(port));

    QTest::mouseClick(remote->check1(), Qt::LeftButton);
    QVERIFY(!remote->check1()->isChecked());
    QCOMPARE(remote->winsock1()->State(), int16_t{Winsock::sckClosed});
    QVERIFY(!canConnect(port));
}

void FrmSverTest::failedListenSaysWhy_data()
{
    // "held" stands for a port another socket listens on. A port used before is free again,
    // and must not be listened on in place of the one typed.
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("portSetBefore");
    QTest::addColumn<QString>("said");
    const QString notANumber = u"ポート「%1」では待機できません。ポート番号には 1 から 65535"_s;
    QTest::newRow("port in use") << u"held"_s << false << u"ポート %1 はほかのプログラムが使用中"_s;
    QTest::newRow("empty box at the first press") << QString() << false << notANumber;
    QTest::newRow("letters") << u"abc"_s << false << notANumber;
    QTest::newRow("beyond 65535") << u"65536"_s << false << notANumber;
    QTest::newRow("beyond 65535, a port used before") << u"70000"_s << true << notANumber;
    QTest::newRow("0, a port used before") << u"0"_s << true << notANumber;
    QTest::newRow("empty box, a port used before") << QString() << true << notANumber;
    QTest::newRow("letters, a port used before") << u"abc"_s << true << notANumber;
}

void FrmSverTest::failedListenSaysWhy()
{
    QFETCH(QString, typed);
    QFETCH(bool, portSetBefore);
    QFETCH(QString, said);
    if (portSetBefore) {
        remote->listen();
        QTest::mouseClick(remote->check1(), Qt::LeftButton);
    }
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::Any, 0));
    if (typed == u"held"_s)
        typed = QString::number(other.serverPort());
    QLineEdit *portBox = remote->text(1);
    portBox->setText(typed); // as an input method puts text in: the key filter does not see it
    QTest::mouseClick(remote->check1(), Qt::LeftButton);
    // The box is up, modal to the user, and nothing waits for it: the click has returned.
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    QVERIFY(box && box->isVisible());
    MessageBoxAnswerer answerer;
    QTRY_COMPARE(answerer.seen.size(), 1);
    QVERIFY(answerer.seen[0].title == u"kelpa"_s && answerer.seen[0].owner == remote->panel);
    QVERIFY2(answerer.seen[0].text.contains(said.arg(typed)), qPrintable(answerer.seen[0].text));
    QVERIFY(!remote->check1()->isChecked());
    QCOMPARE(remote->winsock1()->State(), int16_t{Winsock::sckClosed});

    // Then a keyboard user types a port that is free, tabs to the toggle and presses Space: it
    // listens.
    portBox->setFocus();
    PanelFixture::retype(portBox, QString::number(freePort()));
    QTest::keyClick(portBox, Qt::Key_Tab);
    QCOMPARE(remote->panel->focusWidget(), remote->check1());
    QTest::keyClick(remote->check1(), Qt::Key_Space);
    QVERIFY(remote->check1()->isChecked());
    QVERIFY(canConnect(static_cast<quint16>(remote->winsock1()->LocalPort())));
}

void FrmSverTest::captionsFitTheirBoxes_data()
{
    QTest::addColumn<bool>("compactFont");
    QTest::newRow("system fallback for Japanese") << false;
    QTest::newRow("the program's compact Japanese font") << true;
}

void FrmSverTest::captionsFitTheirBoxes()
{
    QFETCH(bool, compactFont);
    const QFont systemFont = QApplication::font();
    const auto restoreFont = qScopeGuard([&] { QApplication::setFont(systemFont); });
    remote.reset(); // the windows take the font the program sets before they open
    if (compactFont)
        PreferCompactJapaneseFont();
    RemoteFixture windows;
    QVERIFY(windows.player.started);
    if (compactFont) {
        const QFont panelFont = windows.panel->font();
        QCOMPARE(familiesShowing(u"途中でカット"_s, panelFont), QSet{kCompactJapaneseFamily});
        QVERIFY(!familiesShowing(u"Byte"_s, panelFont).contains(kCompactJapaneseFamily));
    }
    Form2 about(QIcon(), windows.panel);
    QStringList cut;
    for (QWidget *window : QList<QWidget *>{windows.player.form.get(), windows.panel, &about}) {
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            if (widget->window() != window)
                continue;
            QString caption;
            QRect room;
            if (auto *label = qobject_cast<QLabel *>(widget)) {
                caption = label->text();
                room = label->contentsRect();
            } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = button->text();
                const QStyle::SubElement contents = qobject_cast<QRadioButton *>(button)
                                                        ? QStyle::SE_RadioButtonContents
                                                        : QStyle::SE_PushButtonContents;
                caption = button->text();
                room = button->style()->subElementRect(contents, &option, button);
            }
            // What must not be cut is the ink, from where the caption starts.
            const QString shown = QString(caption).remove(u'&');
            const qreal needed = QFontMetricsF(widget->font()).tightBoundingRect(shown).right();
            if (!shown.isEmpty() && needed > room.width())
                cut.append(u"%1 \"%2\" needs %3 of %4 pixels"_s.arg(widget->objectName(), shown)
                               .arg(needed)
                               .arg(room.width()));
        }
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u"; "_s)));
}

void FrmSverTest::captionFollowsTheServer()
{
    QStringList titles;
    connect(remote->panel, &QWidget::windowTitleChanged, this,
            [&](const QString &title) { titles.append(title); });
    remote->listen();
    QVERIFY(remote->get(u"/"_s).startsWith("HTTP/1.0 200 OK"));
    QTRY_COMPARE(titles, (QStringList{u"kelpa (処理中)"_s, u"kelpa"_s}));
    QCOMPARE(remote->panel->windowTitle(), u"kelpa"_s);
}

void FrmSverTest::aboutBox()
{
    UrlCatcher urls;
    QStringList checks;
    auto inspect = [&](Form2 *box) {
        auto *homePage = box->findChild<QPushButton *>(u"Command2"_s);
        auto *ok = box->findChild<QPushButton *>(u"Command1"_s);
        auto *picture = box->findChild<QLabel *>(u"Picture1"_s);
        // Space right after opening must not open the browser.
        if (box->focusWidget() != ok)
            checks.append(u"focus not on OK"_s);
        if (box->windowTitle() != u"kelpaについて"_s || box->size() != QSize(244, 73))
            checks.append(u"window"_s);
        if (box->parentWidget() != remote->panel ||
            !box->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
            checks.append(u"owner or topmost"_s);
        if (box->findChild<QLabel *>(u"Label1"_s)->text() !=
            u"kelpa  Ver."_s + QString::fromUtf16(KelpaVersion))
            checks.append(u"version"_s);
        if (homePage->text() != u"&HomePage"_s ||
            homePage->toolTip() != u"https://kelpa.example/"_s ||
            homePage->geometry() != QRect(36, 54, 82, 19))
            checks.append(u"home page button"_s);
        if (ok->text() != u"&OK"_s || ok->geometry() != QRect(126, 54, 82, 19))
            checks.append(u"OK button"_s);
        const QImage expected = PanelFixture::icon().pixmap(32, 32).toImage();
        if (picture->pixmap().toImage() != expected || picture->geometry() != QRect(9, 12, 32, 32))
            checks.append(u"icon"_s);
        QTest::keyClick(box, Qt::Key_Escape); // does nothing
        if (!box->isVisible())
            checks.append(u"Escape closed the box"_s);
        QTest::keyClick(box, Qt::Key_H, Qt::AltModifier); // opens the home page, stays open
        if (!box->isVisible())
            checks.append(u"home page closed the box"_s);
    };
    // A box that waited for the person would hold the click: this hides it, and the test fails.
    QTimer unblock;
    connect(&unblock, &QTimer::timeout, this, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->hide();
    });
    unblock.start(3000);

    remote->listen();
    auto *info = remote->panel->findChild<QPushButton *>(u"Command1"_s);
    Form2 *first = nullptr;
    for (int round = 0; round < 2; ++round) {
        QTest::mouseClick(info, Qt::LeftButton);
        auto *box = qobject_cast<Form2 *>(QApplication::activeModalWidget());
        QVERIFY2(box && box->isVisible(), "no modal About box up after the click");
        // The second time it is the same box, icon and tool tip still in place.
        QVERIFY(round == 0 || box == first);
        first = box;
        QVERIFY(QTest::qWaitForWindowActive(box)); // its keys reach it
        inspect(box);
        QVERIFY2(checks.isEmpty(), qPrintable(checks.join(u", "_s)));
        // The remote is served while the box is up.
        QVERIFY(remote->get(u"/"_s).startsWith("HTTP/1.0 200 OK"));
        QTest::keyClick(box, Qt::Key_Tab);                // hidden with the focus on "&HomePage"
        QTest::keyClick(box, Qt::Key_O, Qt::AltModifier); // a button's key clicks it after a moment
        QTRY_VERIFY(!box->isVisible());
    }
    QCOMPARE(urls.opened, QList<QUrl>(2, QUrl(u"https://kelpa.example/"_s)));
}

void FrmSverTest::qrCodeFollowsTheServer()
{
    QLineEdit *address = remote->text(3);
    QVERIFY(address->toolTip().contains(address->text()));
    QVERIFY(address->toolTip().contains(u"ダブルクリック"_s));
    QTest::mouseDClick(address, Qt::LeftButton);
    auto *window = remote->panel->findChild<QWidget *>(u"QrWindow"_s);
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(window->windowFlags().testFlags(Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint));
    auto *code = window->findChild<QLabel *>(u"Code"_s);
    auto *text = window->findChild<QLabel *>(u"Address"_s);
    QCOMPARE(text->text(), u"待機していません"_s);
    QVERIFY(!code->isVisible());

    for (const quint16 port : {freePort(), freePort()}) {
        PanelFixture::retype(remote->text(1), QString::number(port));
        QTest::mouseClick(remote->check1(), Qt::LeftButton);
        const QString url = u"http://%1:%2/"_s.arg(address->text()).arg(port);
        RemoteServer &server = remote->panel->server();
        const QString pairing = url + u"m/pair/"_s + QString::fromLatin1(server.pairingCode());
        QCOMPARE(text->text(), pairing);
        QVERIFY(address->toolTip().contains(url));
        QCOMPARE(readQrCode(window->grab().toImage()), pairing);
        auto *note = window->findChild<QLabel *>(u"Note"_s);
        QVERIFY(note->isVisible() && note->text().contains(u"ログインします"_s));
        // A phone that scans it uses the code up: the window shows the next one at once.
        const QByteArray scanned =
            exchangeWith(port, "POST /m/pair/" + server.pairingCode() + " HTTP/1.0\r\n\r\n");
        QVERIFY(scanned.startsWith("HTTP/1.0 303 See Other"));
        QVERIFY(text->text() != pairing);
        QCOMPARE(readQrCode(window->grab().toImage()),
                 url + u"m/pair/"_s + QString::fromLatin1(server.pairingCode()));
        // Sharp: black and white only, so nothing is lost in one bit per pixel.
        const QImage picture = code->pixmap().toImage();
        QCOMPARE(picture.convertToFormat(QImage::Format_Mono).convertToFormat(picture.format()),
                 picture);
        QTest::mouseClick(remote->check1(), Qt::LeftButton);
        QCOMPARE(text->text(), u"待機していません"_s);
        QVERIFY(!code->isVisible() && !note->isVisible());
    }

    // Closed, it opens again from the address box's menu.
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5),
                              address->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(address, &menuKey); // returns with the menu up
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(menu);
    auto *action = menu->findChild<QAction *>(u"ShowQrCode"_s);
    QVERIFY(action);
    QCOMPARE(action->text(), u"QRコードを表示"_s);
    QCOMPARE(menu->actions().value(4)->text().section(u'\t', 0, 0), u"コピー(&C)"_s); // Qt's
    action->trigger();
    menu->close();
    QVERIFY(window->isVisible());
}

void FrmSverTest::qrWindowStaysOnTheScreen()
{
    // The panel in the screen's bottom right corner, the window opened while it shows no code:
    // the code, once the remote listens, makes it grow towards both edges.
    const QRect area = remote->panel->screen()->availableGeometry();
    const QSize panel = remote->panel->frameGeometry().size();
    remote->panel->move(area.right() + 1 - panel.width(), area.bottom() + 1 - panel.height());
    QTest::mouseDClick(remote->text(3), Qt::LeftButton);
    auto *window = remote->panel->findChild<QWidget *>(u"QrWindow"_s);
    QVERIFY(window && area.contains(window->frameGeometry()));
    const int codeless = window->height();
    remote->listen();
    QTRY_VERIFY(window->height() > codeless);
    QVERIFY(area.contains(window->frameGeometry()));
}

void FrmSverTest::qrWindowOffersRolesAndEndsPhones()
{
    const quint16 port = remote->listen();
    QTest::mouseDClick(remote->text(3), Qt::LeftButton);
    auto *window = remote->panel->findChild<QWidget *>(u"QrWindow"_s);
    auto *roles = window->findChild<QTabBar *>(u"Roles"_s);
    QCOMPARE(roles->tabText(0) + roles->tabText(1), u"操作ゲスト"_s);
    QTest::mouseClick(roles, Qt::LeftButton, {}, roles->tabRect(1).center());
    RemoteServer &server = remote->panel->server();
    const QString base = u"http://%1:%2/m/pair/"_s.arg(remote->text(3)->text()).arg(port);
    QCOMPARE(readQrCode(window->grab().toImage()),
             base + QString::fromLatin1(server.pairingCode(PhoneRole::Guest)));
    QVERIFY(window->findChild<QLabel *>(u"Note"_s)->text().contains(u"ゲストとして"_s));

    // The phone that scans it is listed, and 切断 ends its session at once.
    const auto pair = [&](PhoneRole role) {
        const QByteArray answer = exchangeWith(
            port, "POST /m/pair/" + server.pairingCode(role) +
                      " HTTP/1.0\r\nUser-Agent: Mozilla/5.0 (iPhone) Safari/604.1\r\n\r\n");
        return QRegularExpression(u"kelpa_m=([0-9a-f]+)"_s)
            .match(QString::fromLatin1(answer))
            .captured(1)
            .toLatin1();
    };
    const QByteArray session = pair(PhoneRole::Guest);
    auto *phones = window->findChild<QTableWidget *>(u"Phones"_s);
    QTRY_COMPARE(phones->rowCount(), 1);
    QCOMPARE(phones->item(0, 0)->text() + u' ' + phones->item(0, 1)->text() + u' ' +
                 phones->item(0, 2)->text() + u' ' + phones->item(0, 3)->text().right(2),
             u"iPhone Safari 127.0.0.1 ゲスト 秒前"_s);
    const QByteArray page = "GET /m/ HTTP/1.0\r\nCookie: kelpa_m=" + session + "\r\n\r\n";
    QVERIFY(exchangeWith(port, page).contains("aria-label=\"再生位置\""));
    auto *end = qobject_cast<QPushButton *>(phones->cellWidget(0, 4));
    QCOMPARE(end->text(), u"切断"_s);
    QTest::mouseClick(end, Qt::LeftButton);
    QVERIFY(!phones->isVisible());
    QVERIFY(exchangeWith(port, page).contains("action=\"/m/login\""));

    // A change of the ID ends every phone's session.
    pair(PhoneRole::Operate);
    pair(PhoneRole::Guest);
    QTRY_COMPARE(phones->rowCount(), 2);
    QCOMPARE(phones->item(0, 2)->text(), u"操作"_s);
    PanelFixture::retype(remote->text(4), u"another"_s);
    QVERIFY(!phones->isVisible());
}

QTEST_MAIN(FrmSverTest)
#include "test_frmsver.moc"
