// Watching the windows a test brings up: message boxes answered as a user would, the order
// in which windows appear, and where they stand.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>

// Answers every modal message box that comes up by pressing OK, noting what it showed.
class MessageBoxAnswerer : public QObject {
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QWidget *owner;
    };

    MessageBoxAnswerer()
    {
        connect(&timer_, &QTimer::timeout, this, &MessageBoxAnswerer::answer);
        timer_.start(10);
    }

    QList<Box> seen;

private:
    void answer()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.append({box->windowTitle(), box->text(), box->standardButtons(), box->parentWidget()});
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->done(0); // the test fails on the buttons; it must not hang as well
    }

    QTimer timer_;
};

// Notes the object names of the windows in the order they are shown.
class ShownWindows : public QObject {
public:
    ShownWindows() { qApp->installEventFilter(this); }
    ~ShownWindows() override { qApp->removeEventFilter(this); }

    QStringList names;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (event->type() == QEvent::Show && widget && widget->isWindow())
            names.append(widget->objectName());
        return false;
    }
};

// Windows are placed before their frame is known: off by at most the frame's thickness.
inline bool isCentred(const QWidget &window)
{
    const QPoint offset =
        window.frameGeometry().center() - window.screen()->availableGeometry().center();
    return qAbs(offset.x()) <= 4 && qAbs(offset.y()) <= 4;
}

// The window as the screen shows it, read back from the display once it shows what the window
// paints: right after the window is exposed, the display may still show what stood there
// before. A null image when it does not within the time given.
inline QImage shownOnScreen(QWidget *window, int timeoutMs = 5000)
{
    QImage shown;
    const bool painted = QTest::qWaitFor(
        [&] {
            shown = window->screen()->grabWindow(window->winId()).toImage();
            const QImage own = window->grab().toImage().convertToFormat(shown.format());
            return !shown.isNull() && shown == own;
        },
        timeoutMs);
    return painted ? shown : QImage();
}
