#include "qrwindow.h"

#include "qrcode.h"

#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

// The code's side in pixels: large enough for a phone held at arm's length from the screen.
constexpr int CodeSide = 240;

} // namespace

QrWindow::QrWindow(QWidget *panel)
    : QWidget(panel, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      code_(new QLabel(this)), text_(new QLabel(this)), note_(new QLabel(this))
{
    setObjectName(u"QrWindow"_s);
    setWindowTitle(u"QRコード"_s);
    code_->setObjectName(u"Code"_s);
    text_->setObjectName(u"Address"_s);
    note_->setObjectName(u"Note"_s);
    note_->setText(
        u"スマートフォンのカメラで読み取ると、IDを入力しなくてもそのスマートフォンが\n"
        u"ログインします。コードは一度使うと新しいものに変わり、10分で無効になります。"_s);
    note_->setAlignment(Qt::AlignCenter);
    code_->setAlignment(Qt::AlignCenter);
    text_->setAlignment(Qt::AlignCenter);
    // The address can be copied into a message as well.
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(code_);
    layout->addWidget(text_);
    layout->addWidget(note_);
    Draw();
}

void QrWindow::SetAddress(const QString &url)
{
    if (url == url_)
        return;
    url_ = url;
    Draw();
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
    if (url_.isEmpty()) {
        code_->clear();
        code_->hide();
        note_->hide();
        text_->setText(u"待機していません"_s);
        return;
    }
    // Whole device pixels per module: a scaled code has blurred edges that cameras misread.
    const qreal ratio = devicePixelRatioF();
    QImage image = QrCodeImage(url_.toLatin1(), qRound(CodeSide * ratio));
    image.setDevicePixelRatio(ratio);
    code_->setPixmap(QPixmap::fromImage(image));
    code_->show();
    note_->show();
    text_->setText(url_);
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
