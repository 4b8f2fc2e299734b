#include "fakeengine.h"

#include "fakecontrol.h"

#include <QDir>
#include <QtGlobal>

using namespace Qt::Literals::StringLiterals;

QString FakeEngine::completeDir()
{
    return QString::fromUtf8(KELPA_FAKE_ENGINE_DIR);
}

QString FakeEngine::incompleteDir()
{
    return QString::fromUtf8(KELPA_FAKE_ENGINE_INCOMPLETE_DIR);
}

QString FakeEngine::noVolumeDir()
{
    return QString::fromUtf8(KELPA_FAKE_ENGINE_NOVOLUME_DIR);
}

FakeEngine::FakeEngine(const QString &dir) : library_(QDir(dir).filePath(u"libvbmp3.so"_s))
{
    if (!library_.load())
        qFatal("fake engine not loadable: %s", qPrintable(library_.errorString()));
}

template <typename Function> Function FakeEngine::entry(const char *symbol)
{
    const auto function = reinterpret_cast<Function>(library_.resolve(symbol));
    if (!function)
        qFatal("fake engine lacks %s", symbol);
    return function;
}

QStringList FakeEngine::log()
{
    return QString::fromUtf8(entry<decltype(&fake_log)>("fake_log")())
        .split(u'\n', Qt::SkipEmptyParts);
}

void FakeEngine::reset()
{
    entry<decltype(&fake_reset)>("fake_reset")();
}

void FakeEngine::setInitResult(int32_t result)
{
    entry<decltype(&fake_set_init_result)>("fake_set_init_result")(result);
}

void FakeEngine::addTrack(const QByteArray &path, const QByteArray &title, const QByteArray &artist,
                          int32_t seconds)
{
    entry<decltype(&fake_add_track)>("fake_add_track")(path.constData(), title.constData(),
                                                       artist.constData(), seconds);
}

void FakeEngine::refuseOpen(const QByteArray &path)
{
    entry<decltype(&fake_refuse_open)>("fake_refuse_open")(path.constData());
}

void FakeEngine::setState(int32_t state, int32_t seconds)
{
    entry<decltype(&fake_set_state)>("fake_set_state")(state, seconds);
}

int32_t FakeEngine::state()
{
    return entry<decltype(&fake_state)>("fake_state")();
}

QByteArray FakeEngine::openPath()
{
    return entry<decltype(&fake_open_path)>("fake_open_path")();
}
