#include "qrwindow.h"

#include "qrcode.h"
#include "remoteserver.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

// The code's side in pixels: large enough for a phone held at arm's length from the screen.
constexpr int CodeSide = 240;
// Rows of the phones' table shown before it scrolls.
constexpr int ShownPhones = 6;

const QString Notes[] = {
    u"スマートフォンのカメラで読み取ると、IDを入力しなくても\n"
    u"そのスマートフォンがログインします。すべての操作ができます。\n"
    u"コードは一度使うと新しいものに変わり、10分で無効になります。"_s,
    u"スマートフォンのカメラで読み取ると、そのスマートフォンがゲストとして\n"
    u"ログインします。曲の選択、再生/一時停止、前へ/次へだけができます。\n"
    u"コードは一度使うと新しいものに変わり、10分で無効になります。"_s,
};

QString roleName(PhoneRole role)
{
    return role == PhoneRole::Operate ? u"操作"_s : u"ゲスト"_s;
}

QString ago(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(ms, 0) / 1000;
    if (seconds < 60)
        return u"%1秒前"_s.arg(seconds);
    if (seconds < 3600)
        return u"%1分前"_s.arg(seconds / 60);
    return u"%1時間前"_s.arg(seconds / 3600);
}

// An IPv4 peer reached over an IPv6 socket reads as the IPv4 address it is.
QString addressText(const QHostAddress &peer)
{
    bool v4 = false;
    const quint32 ipv4 = peer.toIPv4Address(&v4);
    return v4 ? QHostAddress(ipv4).toString() : peer.toString();
}

} // namespace

QrWindow::QrWindow(RemoteServer &server, QWidget *panel)
    : QWidget(panel, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      server_(server), roles_(new QTabBar(this)), code_(new QLabel(this)), text_(new QLabel(this)),
      note_(new QLabel(this)), phonesTitle_(new QLabel(this)), phones_(new QTableWidget(0, 5, this))
{
    setObjectName(u"QrWindow"_s);
    setWindowTitle(u"QRコード"_s);
    roles_->setObjectName(u"Roles"_s);
    roles_->addTab(u"操作"_s);
    roles_->addTab(u"ゲスト"_s);
    roles_->setExpanding(true);
    connect(roles_, &QTabBar::currentChanged, this, &QrWindow::Draw);
    code_->setObjectName(u"Code"_s);
    text_->setObjectName(u"Address"_s);
    note_->setObjectName(u"Note"_s);
    note_->setAlignment(Qt::AlignCenter);
    // As wide as the wider note: the window keeps its width from one tab to the other.
    for (const QString &note : Notes) {
        for (const QString &line : note.split(u'\n'))
            note_->setMinimumWidth(
                std::max(note_->minimumWidth(), note_->fontMetrics().horizontalAdvance(line)));
    }
    code_->setAlignment(Qt::AlignCenter);
    text_->setAlignment(Qt::AlignCenter);
    // The address can be copied into a message as well.
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(roles_);
    layout->addWidget(code_);
    layout->addWidget(text_);
    layout->addWidget(note_);

    // A browser names itself as it likes: its name goes in as plain text, never as markup
    // (table items are never read as rich text).
    phonesTitle_->setObjectName(u"PhonesTitle"_s);
    phonesTitle_->setTextFormat(Qt::PlainText);
    phones_->setObjectName(u"Phones"_s);
    phones_->setHorizontalHeaderLabels(
        {u"端末"_s, u"アドレス"_s, u"権限"_s, u"最終アクセス"_s, QString()});
    phones_->verticalHeader()->hide();
    phones_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    phones_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    phones_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    phones_->setSelectionMode(QAbstractItemView::NoSelection);
    phones_->setFocusPolicy(Qt::NoFocus);
    // As tall as its rows, as wide as the window the code and the note make.
    phones_->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    phones_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(phonesTitle_);
    layout->addWidget(phones_);
    // Logins, ends and each phone's last request come from the server on their own; the list
    // follows while it is shown.
    auto *refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, [this] {
        if (isVisible())
            ShowPhones();
    });
    refresh->start(1000);
    Draw();
    ShowPhones();
}

void QrWindow::SetAddresses(const QString &operate, const QString &guest)
{
    if (operate == urls_[0] && guest == urls_[1])
        return;
    urls_[0] = operate;
    urls_[1] = guest;
    Draw();
    ShowPhones(); // an ID change ended them all
}

void QrWindow::ShowPhones()
{
    const QList<PhoneSessions::Phone> phones = server_.phones();
    const qint64 now = server_.now();
    QList<quint64> ids;
    for (const PhoneSessions::Phone &phone : phones)
        ids.append(phone.id);
    phonesTitle_->setText(phones.isEmpty() ? u"ペアリング済みのスマートフォンはありません"_s
                                           : u"ペアリング済みのスマートフォン"_s);
    phones_->setVisible(!phones.isEmpty());
    if (ids != listed_) {
        // Rows come and go with the sessions; their buttons with them.
        listed_ = ids;
        phones_->setRowCount(int(phones.size()));
        for (int row = 0; row < phones.size(); ++row) {
            const PhoneSessions::Phone &phone = phones[row];
            phones_->setItem(row, 0, new QTableWidgetItem(phone.device));
            phones_->setItem(row, 1, new QTableWidgetItem(addressText(phone.peer)));
            phones_->setItem(row, 2, new QTableWidgetItem(roleName(phone.role)));
            phones_->setItem(row, 3, new QTableWidgetItem());
            auto *end = new QPushButton(u"切断"_s);
            end->setObjectName(u"End%1"_s.arg(phone.id));
            connect(end, &QPushButton::clicked, this, [this, id = phone.id] {
                server_.endPhone(id);
                ShowPhones();
            });
            phones_->setCellWidget(row, 4, end);
        }
        const int rows = std::min<int>(int(phones.size()), ShownPhones);
        phones_->setMaximumHeight(phones_->horizontalHeader()->height() +
                                  rows * phones_->verticalHeader()->defaultSectionSize() +
                                  2 * phones_->frameWidth());
    }
    for (int row = 0; row < phones.size(); ++row)
        phones_->item(row, 3)->setText(ago(now - phones[row].lastUsed));
}

void QrWindow::Open()
{
    Draw(); // in whole pixels of the screen it opens on
    if (!placed_) {
        adjustSize();
        PlaceBesidePanel();
        placed_ = true;
    }
    show();
    raise();
    activateWindow();
}

void QrWindow::Draw()
{
    const int role = roles_->currentIndex();
    const QString &url = urls_[role];
    if (url.isEmpty()) {
        code_->clear();
        code_->hide();
        note_->hide();
        text_->setText(u"待機していません"_s);
        return;
    }
    // Whole device pixels per module: a scaled code has blurred edges that cameras misread.
    const qreal ratio = devicePixelRatioF();
    QImage image = QrCodeImage(url.toLatin1(), qRound(CodeSide * ratio));
    image.setDevicePixelRatio(ratio);
    code_->setPixmap(QPixmap::fromImage(image));
    code_->show();
    note_->setText(Notes[role]);
    note_->show();
    text_->setText(url);
}

void QrWindow::PlaceBesidePanel()
{
    // Beside the panel, not over it: the panel stays usable while the code is shown.
    const QRect panel = parentWidget()->frameGeometry();
    const QRect screen = parentWidget()->screen()->availableGeometry();
    const int gap = 8;
    const int outerWidth = frameGeometry().width();
    QPoint at(panel.right() + 1 + gap, panel.top());
    if (at.x() + outerWidth > screen.right() + 1)
        at.setX(panel.left() - gap - outerWidth);
    move(at);
    KeepOnScreen();
}

void QrWindow::resizeEvent(QResizeEvent *event)
{
    // The window takes the size of what it shows: the code comes and goes with listening.
    QWidget::resizeEvent(event);
    if (placed_)
        KeepOnScreen();
}

void QrWindow::KeepOnScreen()
{
    // Within the screen's free area (task bars and panels left out), whole window frame and all;
    // where it does not fit, its top left corner stays visible.
    const QRect area = screen()->availableGeometry();
    const QRect outer = frameGeometry();
    const int x =
        qBound(area.left(), outer.left(), qMax(area.left(), area.right() + 1 - outer.width()));
    const int y =
        qBound(area.top(), outer.top(), qMax(area.top(), area.bottom() + 1 - outer.height()));
    if (QPoint(x, y) != outer.topLeft())
        move(x, y);
}
