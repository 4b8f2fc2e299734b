#include "frmsver.h"

#include "about/form2.h"
#include "net/winsock.h"
#include "qrwindow.h"
#include "remoteserver.h"
#include "ui_frmsver.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr QKeySequence::StandardKey EditingKeys[] = {
    QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Cut,
    QKeySequence::Paste,     QKeySequence::Undo, QKeySequence::Redo,
};

// The design's boxes were drawn around the narrow Latin letters of its system font: a caption
// that would lose its last pixels here is set narrower (condensed, or stretched by Qt where the
// family has no narrower face) rather than cut.
void NarrowToFit(QLabel *label)
{
    const int room = label->contentsRect().width();
    QFont narrow = label->font();
    const auto fits = [&] {
        return QFontMetricsF(narrow).tightBoundingRect(label->text()).right() <= room;
    };
    if (fits())
        return;
    // A family's faces for each width come in steps, not in proportion: narrower until it fits.
    for (int stretch = 95; stretch > QFont::UltraCondensed && !fits(); stretch -= 5)
        narrow.setStretch(stretch);
    label->setFont(narrow);
}

} // namespace

FrmSver::FrmSver(kelpa::PlayerControl &player, const QIcon &aboutIcon, const ServerTimings &timings,
                 QWidget *parent)
    : QWidget(parent,
              // A tool window: small caption, no task bar button; the close button alone,
              // without minimise and maximise.
              Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowCloseButtonHint),
      player_(player), server_(new RemoteServer(player, timings, {}, this)),
      ui_(std::make_unique<Ui::FrmSver>()), aboutIcon_(aboutIcon)
{
    ui_->setupUi(this);
    // The layout was drawn for a 12-pixel system font; at 11 pixels the captions stay inside
    // their controls next to Qt's wider check marks.
    QFont small = font();
    small.setPixelSize(FontPixels);
    setFont(small);
    // Qt's option buttons keep a wider gap after the round mark than the design's; at the
    // default gap "途中でカット" runs under the limit box beside it.
    ui_->Frame1->setStyleSheet(u"QRadioButton { spacing: 2px; }"_s);
    setFixedSize(169, 163);
    for (QLabel *label : findChildren<QLabel *>())
        NarrowToFit(label);
    move(screen()->availableGeometry().center() - rect().center());

    ui_->Text1->installEventFilter(this);
    // What reaches the port box other than by typing is a paste, which keeps only its digits;
    // nothing is dropped on it, as nothing ever was.
    ui_->Text1->setAcceptDrops(false);
    ui_->Text1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui_->Text1, &QLineEdit::customContextMenuRequested, this, &FrmSver::Text1_ContextMenu);
    ui_->Text3->installEventFilter(this);
    ui_->Text3->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui_->Text3, &QLineEdit::customContextMenuRequested, this, &FrmSver::Text3_ContextMenu);
    connect(ui_->Check1, &QPushButton::clicked, this, &FrmSver::Check1_Click);
    connect(ui_->Option1, &QRadioButton::clicked, this, &FrmSver::Option1_Click);
    connect(ui_->Option2, &QRadioButton::clicked, this, &FrmSver::Option2_Click);
    connect(ui_->Text3, &QLineEdit::textChanged, this, &FrmSver::Text3_Change);
    connect(ui_->Text4, &QLineEdit::textChanged, this, &FrmSver::Text4_Change);
    connect(ui_->Combo1, &QComboBox::activated, this, &FrmSver::Combo1_Click);
    connect(ui_->Command1, &QPushButton::clicked, this, &FrmSver::Command1_Click);

    connect(server_, &RemoteServer::captionChanged, this, &QWidget::setWindowTitle);
    connect(server_, &RemoteServer::pairingCodeChanged, this, &FrmSver::ShowRemoteAddress);
    connect(server_, &RemoteServer::connectionAccepted, this, &FrmSver::ApplyLimitOptions);

    Form_Load();
}

FrmSver::~FrmSver() = default;

void FrmSver::Form_Load()
{
    ui_->Text3->setText(Winsock::LocalIP());
    ui_->Combo1->addItems({u"<ﾀｲﾄﾙ>"_s, u"<ｱｰﾃｨｽﾄ> - <ﾀｲﾄﾙ>"_s, u"<ﾀｲﾄﾙ> - <ｱｰﾃｨｽﾄ>"_s});
    ui_->Combo1->setCurrentIndex(0);
    Combo1_Click(0);
    server_->setLoginId(ui_->Text4->text());
    server_->setListByteLimit(RemoteServer::DefaultListByteLimit);
}

void FrmSver::closeEvent(QCloseEvent *event)
{
    event->ignore();
}

bool FrmSver::eventFilter(QObject *watched, QEvent *event)
{
    // A double-click on the address box opens the QR code; the box still selects a word.
    if (watched == ui_->Text3 && event->type() == QEvent::MouseButtonDblClick)
        ShowQrCode();
    // The port box takes typed digits and Backspace; every other typed character, control
    // characters such as Ctrl+letter included, is dropped. The standard editing keys (select
    // all, copy, cut, paste, undo, redo) and keys that type nothing (arrows, Home, End,
    // Delete) edit as usual, Tab moves the focus on, and a paste keeps only its digits.
    if (watched == ui_->Text1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::MiddleButton &&
        QGuiApplication::clipboard()->supportsSelection()) {
        ui_->Text1->deselect();
        Text1_Paste(QClipboard::Selection);
        return true;
    }
    if (watched == ui_->Text1 && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Paste)) {
            Text1_Paste(QClipboard::Clipboard);
            return true;
        }
        const QString typed = key->text();
        const bool movesFocus = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        const bool edits = std::any_of(
            std::begin(EditingKeys), std::end(EditingKeys),
            [key](QKeySequence::StandardKey standard) { return key->matches(standard); });
        if (!typed.isEmpty() && !movesFocus && !edits && key->key() != Qt::Key_Delete) {
            const char16_t c = typed.front().unicode();
            const bool passes = c == u'\b' || (c >= u'0' && c <= u'9');
            if (!passes)
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FrmSver::Check1_Click()
{
    if (ui_->Check1->isChecked())
        StartListening();
    else
        server_->stopListening();
    ShowRemoteAddress();
}

void FrmSver::StartListening()
{
    // Only the port the box shows is listened on: falling back on the port set before would
    // listen where the box does not say, and the pressed toggle would tell the user it went
    // well. Port 0 would leave the port to the system, which no user could tell a phone.
    bool readable = false;
    const QString typed = ui_->Text1->text();
    const int32_t port = typed.toInt(&readable);
    const bool taken = readable && port > 0 && server_->setPort(port);
    if (taken && server_->listen())
        return;
    // Nothing listens: the toggle must not say otherwise, and the user learns what to change.
    ui_->Check1->setChecked(false);
    ShowRemoteAddress();
    ShowListenFailure(typed, taken);
}

void FrmSver::ShowListenFailure(const QString &typed, bool taken)
{
    // The box speaks of the port the user typed, as the box shows it.
    QString reason;
    const QString tried = QString::number(server_->port());
    if (!taken)
        reason = u"ポート「%1」では待機できません。ポート番号には 1 から 65535 までの数字を"
                 u"入れてください。"_s.arg(typed);
    else if (server_->listenError() == QAbstractSocket::AddressInUseError)
        reason = u"ポート %1 はほかのプログラムが使用中のため、待機できません。"
                 u"別のポート番号を入れてください。"_s.arg(tried);
    else if (server_->listenError() == QAbstractSocket::SocketAccessError)
        reason = u"ポート %1 で待機するには管理者の権限が必要です。1024 以上のポート番号"
                 u"（例: 8080）を入れてください。"_s.arg(tried);
    else
        reason = u"ポート %1 で待機できません。別のポート番号を入れてください。"_s.arg(tried);
    // One box at a time, modal to the user as ever, but nothing waits for it: the remote and
    // the player go on meanwhile. A second failure says its reason in the box that is up.
    if (!listenFailure_) {
        listenFailure_ =
            new QMessageBox(QMessageBox::NoIcon, u"kelpa"_s, QString(), QMessageBox::Ok, this);
        listenFailure_->setAttribute(Qt::WA_DeleteOnClose);
        listenFailure_->setWindowModality(Qt::ApplicationModal);
        // The panel itself stays on top: a box of its own must stand above it on any desktop.
        listenFailure_->setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    listenFailure_->setText(reason);
    listenFailure_->show();
}

void FrmSver::Option1_Click()
{
    server_->setListByteLimit(-1);
}

void FrmSver::Option2_Click()
{
    if (ui_->Option2->isChecked())
        ApplyByteLimitBox();
}

void FrmSver::ApplyLimitOptions()
{
    // At each connection, by the same rule as the option buttons.
    if (ui_->Option1->isChecked())
        server_->setListByteLimit(-1);
    if (ui_->Option2->isChecked())
        ApplyByteLimitBox();
}

void FrmSver::ApplyByteLimitBox()
{
    bool readable = false;
    const int32_t typed = ui_->Text2->text().toInt(&readable);
    const int32_t limit = std::max(readable ? typed : server_->listByteLimit(), LeastListByteLimit);
    server_->setListByteLimit(limit);
    ui_->Text2->setText(QString::number(limit));
}

void FrmSver::Text3_Change()
{
    // Selectable and copyable, never changed: any edit is put back at once.
    const QString address = Winsock::LocalIP();
    if (ui_->Text3->text() != address)
        ui_->Text3->setText(address);
    else
        ShowRemoteAddress();
}

QString FrmSver::RemoteUrl() const
{
    if (!server_->isListening())
        return {};
    return u"http://%1:%2/"_s.arg(ui_->Text3->text()).arg(server_->port());
}

QString FrmSver::PairingUrl(PhoneRole role) const
{
    const QString url = RemoteUrl();
    return url.isEmpty() ? url
                         : url + u"m/pair/"_s + QString::fromLatin1(server_->pairingCode(role));
}

void FrmSver::ShowRemoteAddress()
{
    const QString url = RemoteUrl();
    const QString shown = url.isEmpty() ? ui_->Text3->text() : url;
    ui_->Text3->setToolTip(u"%1\nダブルクリック（または右クリックのメニュー）で、スマートフォンで"
                           u"開けるQRコードを表示します"_s.arg(shown));
    if (qrWindow_)
        qrWindow_->SetAddresses(PairingUrl(PhoneRole::Operate), PairingUrl(PhoneRole::Guest));
}

void FrmSver::ShowQrCode()
{
    if (!qrWindow_)
        qrWindow_ = new QrWindow(*server_, this);
    qrWindow_->SetAddresses(PairingUrl(PhoneRole::Operate), PairingUrl(PhoneRole::Guest));
    qrWindow_->Open();
}

void FrmSver::Text1_Paste(QClipboard::Mode mode)
{
    QString digits = QGuiApplication::clipboard()->text(mode);
    digits.removeIf([](QChar c) { return c < u'0' || c > u'9'; });
    // A paste is a step of its own to undo, as Qt's own paste is. QLineEdit starts a new step
    // when its cursor moves (as it did to make any selection), so it is moved there and back.
    QLineEdit *box = ui_->Text1;
    const auto newUndoStep = [box] {
        if (box->hasSelectedText() || box->text().isEmpty())
            return;
        const int at = box->cursorPosition();
        box->setCursorPosition(at > 0 ? at - 1 : at + 1);
        box->setCursorPosition(at);
    };
    newUndoStep();
    box->insert(digits);
    newUndoStep();
}

void FrmSver::Text1_ContextMenu(const QPoint &position)
{
    // The box's own menu, whose Paste pastes as Ctrl+V does.
    QMenu *menu = ui_->Text1->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction *action : menu->actions()) {
        // Known by its text, as Qt names its items by nothing else; the key after the tab
        // may be there or not.
        if (action->text().section(u'\t', 0, 0) != QLineEdit::tr("&Paste"))
            continue;
        disconnect(action, &QAction::triggered, ui_->Text1, nullptr);
        connect(action, &QAction::triggered, this, [this] { Text1_Paste(QClipboard::Clipboard); });
    }
    menu->popup(ui_->Text1->mapToGlobal(position));
}

void FrmSver::Text3_ContextMenu(const QPoint &position)
{
    // The box's own items (copy, select all) stay, with the code's item after them. The menu
    // is shown without waiting for it, and goes when it closes.
    QMenu *menu = ui_->Text3->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    QAction *showCode = menu->addAction(u"QRコードを表示"_s);
    showCode->setObjectName(u"ShowQrCode"_s);
    connect(showCode, &QAction::triggered, this, &FrmSver::ShowQrCode);
    menu->popup(ui_->Text3->mapToGlobal(position));
}

void FrmSver::Text4_Change()
{
    server_->setLoginId(ui_->Text4->text());
}

void FrmSver::Combo1_Click(int index)
{
    player_.setShowType(static_cast<uint8_t>(index));
}

void FrmSver::Command1_Click()
{
    if (!form2_) {
        form2_ = std::make_unique<Form2>(aboutIcon_, this);
        form2_->setWindowModality(Qt::ApplicationModal);
    }
    // Modal to the user, shown without waiting for it to be hidden again.
    form2_->show();
}
