#include "xlibrequests.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QGuiApplication>

#include <X11/Xlib.h>

namespace {

class TitleWatch : public QObject {
public:
    TitleWatch(Display *display, QObject *owner) : QObject(owner), display_(display) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowTitleChange &&
            (!lastRelease_.isValid() || lastRelease_.elapsed() >= MinGapMs)) {
            // The title set in this change goes out first, so its record goes too.
            XSync(display_, False);
            lastRelease_.start();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static constexpr qint64 MinGapMs = 1000;
    Display *display_;
    QElapsedTimer lastRelease_;
};

} // namespace

void ReleaseXlibRequestsAfterTitleChanges(QObject *owner)
{
    const auto *x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 && x11->display())
        qGuiApp->installEventFilter(new TitleWatch(x11->display(), owner));
}
