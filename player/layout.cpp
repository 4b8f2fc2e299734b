// The window layout: on every change of the window's size or state the controls keep the
// design's margins. The list and the bottom strip follow the right edge, the strip follows the
// bottom edge, the list takes the height left over. The window is never narrower than its
// design, and a window too short for a useful list, or a maximized one, becomes a strip of
// 32 pixels with the list hidden.
//
// Sizes here are client-area pixels: the design values were measured before the window had
// a frame, and the frame does not change the differences this works with.
#include "form1.h"

#include "ui_form1.h"

#include <QResizeEvent>
#include <QScreen>

namespace {

constexpr int kCompactHeight = 32;  // the bottom strip alone
constexpr float kSmallestList = 12; // a list this short or shorter is hidden

int Pixels(float value)
{
    return qRound(value);
}

} // namespace

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The width to come back to from a maximize. A window system may apply the maximized
    // size before it reports the maximized state, and Qt then takes the maximized size for
    // the normal one; a window as wide as the screen is therefore not taken as normal.
    if (windowState() == Qt::WindowNoState &&
        frameGeometry().width() < screen()->availableGeometry().width())
        normalWidth_ = width();
    Form_Resize();
}

void Form1::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void Form1::Form_Resize()
{
    if (InitWidth <= 0)
        return; // the load routine has not measured the design yet

    if (windowState() & Qt::WindowMaximized) {
        // Maximizing gives the compact strip at the width the window had before.
        const int restoredWidth = normalWidth_ > 0 ? normalWidth_ : width();
        setWindowState(windowState() & ~Qt::WindowMaximized);
        resize(restoredWidth, kCompactHeight);
    }
    if (windowState() & Qt::WindowMinimized)
        return; // nothing to see; the restore lays out again

    const float dW = static_cast<float>(width()) - InitWidth;
    const float dH = static_cast<float>(height()) - InitHeight;

    if (static_cast<float>(width()) < InitWidth) {
        // The run for the new width lays the controls out across.
        resize(Pixels(InitWidth), height());
    } else {
        const auto setWidth = [](QWidget *control, float newWidth) {
            control->resize(Pixels(newWidth), control->height());
        };
        setWidth(ui_->PictDisp, InitDispWidth + dW);
        setWidth(ui_->PictBar, InitDispWidth + dW); // the bar has the display's design width
        setWidth(ui_->List1, InitListWidth + dW);
    }

    const auto setTop = [](QWidget *control, float top) {
        control->move(control->x(), Pixels(top));
    };
    for (QPushButton *button :
         {ui_->Command1_0, ui_->Command1_1, ui_->Command1_2, ui_->Command1_3, ui_->Command1_4})
        setTop(button, InitButtonTop + dH);
    setTop(ui_->PictBar, InitBarTop + dH);
    setTop(ui_->PictDisp, InitDispTop + dH);

    const float listHeight = InitListHeight + dH;
    if (listHeight <= kSmallestList) {
        resize(width(), kCompactHeight);
        ui_->List1->hide();
    } else {
        ui_->List1->show();
        ui_->List1->resize(ui_->List1->width(), Pixels(listHeight));
    }
}
