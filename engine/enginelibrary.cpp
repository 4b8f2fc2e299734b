#include "enginelibrary.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <type_traits>

using namespace Qt::Literals::StringLiterals;

EngineLibrary::EngineLibrary(const QString &programDir) : programDir_(programDir) {}

bool EngineLibrary::init()
{
    if (ended_ || (!api_.init && !load()))
        return false;
    api_.init(); // the engine's own verdict does not count, only that the call could be made
    return true;
}

bool EngineLibrary::load()
{
    // As with the system's search for a named library, a copy in the program's folder is the
    // one used, even when it turns out to be broken: no other engine is tried behind it.
    const QString local = QDir(programDir_).filePath(u"libvbmp3.so"_s);
    library_.setFileName(QFileInfo::exists(local) ? local : u"libvbmp3.so"_s);
    if (!library_.load())
        return false;

    const auto resolve = [this](auto &entry, const char *symbol) {
        entry =
            reinterpret_cast<std::remove_reference_t<decltype(entry)>>(library_.resolve(symbol));
        return entry != nullptr;
    };
    if (resolve(api_.init, "vbmp3_init") && resolve(api_.free, "vbmp3_free") &&
        resolve(api_.open, "vbmp3_open") && resolve(api_.close, "vbmp3_close") &&
        resolve(api_.play, "vbmp3_play") && resolve(api_.stop, "vbmp3_stop") &&
        resolve(api_.pause, "vbmp3_pause") && resolve(api_.restart, "vbmp3_restart") &&
        resolve(api_.seek, "vbmp3_seek") && resolve(api_.getState, "vbmp3_getState") &&
        resolve(api_.getFileInfo, "vbmp3_getFileInfo")) {
        // Volume came later: an engine without it still plays, at the sound server's level.
        if (!resolve(api_.setVolume, "vbmp3_setVolume") ||
            !resolve(api_.getVolume, "vbmp3_getVolume"))
            api_.setVolume = nullptr, api_.getVolume = nullptr;
        resolve(api_.getPicture, "vbmp3_getPicture"); // later still, and as optional
        return true;
    }

    // An incomplete library is no engine: none of its entry points is used. It stays mapped,
    // since the program ends anyway and unloading would pull it from under any other user.
    api_ = {};
    return false;
}

int32_t EngineLibrary::free()
{
    return api_.free ? api_.free() : 0;
}

int32_t EngineLibrary::end()
{
    const int32_t result = free();
    // Whatever still runs on the program's way out (a tick, a remote's command) finds every
    // entry point a no-op.
    api_ = {};
    ended_ = true;
    return result;
}

int16_t EngineLibrary::open(const QByteArray &path, OpenRecord &record)
{
    return api_.open ? api_.open(path.constData(), &record) : 0;
}

int32_t EngineLibrary::close()
{
    return api_.close ? api_.close() : 0;
}

int32_t EngineLibrary::play()
{
    return api_.play ? api_.play() : 0;
}

int32_t EngineLibrary::stop()
{
    return api_.stop ? api_.stop() : 0;
}

int32_t EngineLibrary::pause()
{
    return api_.pause ? api_.pause() : 0;
}

int32_t EngineLibrary::restart()
{
    return api_.restart ? api_.restart() : 0;
}

int32_t EngineLibrary::seek(int32_t seconds)
{
    return api_.seek ? api_.seek(seconds) : 0;
}

int32_t EngineLibrary::getState(int32_t &seconds) const
{
    return api_.getState ? api_.getState(&seconds) : 0;
}

int16_t EngineLibrary::getFileInfo(const QByteArray &path, TagRecord &tag, StreamRecord &stream)
{
    return api_.getFileInfo ? api_.getFileInfo(path.constData(), &tag, &stream) : 0;
}

int32_t EngineLibrary::setVolume(int32_t percent)
{
    return api_.setVolume ? api_.setVolume(percent) : 0;
}

int32_t EngineLibrary::getVolume()
{
    return api_.getVolume ? api_.getVolume() : -1;
}

QByteArray EngineLibrary::getPicture(const QByteArray &path, int32_t limit)
{
    const auto call = api_.getPicture;
    if (!call || limit <= 0)
        return {};
    QByteArray picture(limit, Qt::Uninitialized);
    const int32_t size = call(path.constData(), picture.data(), limit);
    picture.truncate(std::clamp(size, 0, limit));
    picture.squeeze(); // held for the whole track: not the full buffer
    return picture;
}

QString CutAtNull(const char *field, std::size_t size)
{
    const void *nul = std::memchr(field, '\0', size);
    const std::size_t length =
        nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - field) : size;
    return QString::fromUtf8(field, static_cast<qsizetype>(length));
}
