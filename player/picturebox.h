// A picture box of the player's bottom strip: the time and title display (PictDisp) and the
// progress bar (PictBar). It keeps what was last printed or drawn into it, like a persistent
// bitmap, and paints that; coordinates are pixels inside its sunken border.
#pragma once

#include <QFrame>
#include <QString>

#include <optional>

class PictureBox : public QFrame {
    Q_OBJECT

public:
    explicit PictureBox(QWidget *parent = nullptr);

    // Width of the border on each side: the inner area is Width - 4 by Height - 4 pixels.
    static constexpr int kBorder = 2;

    // Empties the picture. Repaints only when something was shown.
    void Cls();
    // Shows one line of text from the top-left corner, in place of any earlier text.
    void Print(const QString &text);
    // Fills the box from (0, 0) to (right, bottom) with the foreground colour, both corners
    // included, in place of any earlier box. bottom is clipped to the inner height.
    void FillBox(float right, int bottom);

    const QString &Text() const { return text_; }
    // The right edge of the box last drawn, none after Cls.
    std::optional<float> BoxRight() const { return boxRight_; }

    void setForeColor(const QColor &colour);

signals:
    // Any mouse button pressed, at x and y inside the border (negative on the border itself).
    void MouseDown(Qt::MouseButton button, float x, float y);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString text_;
    std::optional<float> boxRight_;
    int boxBottom_ = 0;
    QColor foreColor_;
};
