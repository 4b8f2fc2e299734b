#include "mprisroot.h"

#include "control/playercontrol.h"

using namespace Qt::Literals::StringLiterals;

namespace kelpa {

MprisRoot::MprisRoot(PlayerControl &player, QObject *parent)
    : QDBusAbstractAdaptor(parent), player_(player)
{}

QString MprisRoot::identity() const
{
    return u"kelpa"_s;
}

QString MprisRoot::desktopEntry() const
{
    return u"kelpa"_s;
}

QStringList MprisRoot::supportedUriSchemes() const
{
    return {u"file"_s};
}

QStringList MprisRoot::supportedMimeTypes() const
{
    return {u"audio/mpeg"_s, u"audio/x-mpegurl"_s};
}

void MprisRoot::Raise()
{
    player_.raise();
}

void MprisRoot::Quit()
{
    // Closing ends the process at once; queued, so that the caller gets its answer first.
    QMetaObject::invokeMethod(&player_, &PlayerControl::quit, Qt::QueuedConnection);
}

} // namespace kelpa
