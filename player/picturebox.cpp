#include "picturebox.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

PictureBox::PictureBox(QWidget *parent) : QFrame(parent), foreColor_(Qt::black)
{
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken); // always 2 pixels, as kBorder says
    // paintEvent covers every pixel: the border, then the inner area.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::Cls()
{
    if (text_.isEmpty() && !boxRight_)
        return;
    text_.clear();
    boxRight_.reset();
    update();
}

void PictureBox::Print(const QString &text)
{
    if (text == text_)
        return;
    text_ = text;
    update();
}

void PictureBox::FillBox(float right, int bottom)
{
    if (boxRight_ == right && boxBottom_ == bottom)
        return;
    boxRight_ = right;
    boxBottom_ = bottom;
    update();
}

void PictureBox::setForeColor(const QColor &colour)
{
    foreColor_ = colour;
    update();
}

void PictureBox::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event); // the border
    QPainter painter(this);
    const QRect inner = contentsRect();
    painter.fillRect(inner, palette().color(QPalette::Window));
    painter.setClipRect(inner);
    painter.translate(inner.topLeft());
    if (boxRight_) {
        // Corners are pixel centres and both are filled, so a box to x = 0 is one column
        // and a box to the last column fills the whole inner width.
        const int right = static_cast<int>(std::lround(*boxRight_));
        if (right >= 0 && boxBottom_ >= 0)
            painter.fillRect(QRect(QPoint(0, 0), QPoint(right, boxBottom_)), foreColor_);
    }
    if (!text_.isEmpty()) {
        // From the top-left corner; a line taller than the box (fonts with tall ascents, as
        // the Japanese ones have) is centred instead, so that neither end of the glyphs is cut.
        const QRect area(0, 0, inner.width(), inner.height());
        const int vertical =
            fontMetrics().height() > area.height() ? Qt::AlignVCenter : Qt::AlignTop;
        painter.setPen(foreColor_);
        painter.drawText(area, Qt::AlignLeft | vertical | Qt::TextSingleLine, text_);
    }
}

void PictureBox::mousePressEvent(QMouseEvent *event)
{
    const QPointF inner = event->position() - contentsRect().topLeft();
    event->accept();
    emit MouseDown(event->button(), static_cast<float>(inner.x()), static_cast<float>(inner.y()));
}
