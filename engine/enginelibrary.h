// The player's interface to the engine library libvbmp3.
//
// The library is not linked: EngineLibrary loads it by name on the first init(), from the program's
// own folder when a copy lies there, otherwise from the system's library path. A missing,
// unloadable or incomplete library makes init() fail; every other call is then a no-op that
// returns 0 (getVolume -1). Calls come from the UI thread, one at a time, except getFileInfo and
// getPicture, which workers make beside them, as the engine allows; init() and end() must not
// run while they may (they set the entry points the workers read).
#pragma once

#include <vbmp3.h> // the engine library's C header (vbmp3/include)

#include <QByteArray>
#include <QLibrary>
#include <QString>

#include <cstddef>
#include <cstdint>

class EngineLibrary {
public:
    using OpenRecord = Vbmp3OpenRecord;
    using TagRecord = Vbmp3TagRecord;
    using StreamRecord = Vbmp3StreamRecord;

    explicit EngineLibrary(const QString &programDir);
    EngineLibrary(const EngineLibrary &) = delete;
    EngineLibrary &operator=(const EngineLibrary &) = delete;

    // Loads the library and calls vbmp3_init, whose result is ignored. False when the library
    // cannot be loaded or lacks any of its eleven required entry points; vbmp3_init is not called
    // then.
    bool init();

    // vbmp3_free, for good, at the program's end: every call after it is a no-op that returns
    // 0, and init() fails.
    int32_t end();

    // Forwarders. Paths are in the file system's encoding (QFile::encodeName). Truth values
    // are the library's: nonzero means yes.
    int32_t free();
    int16_t open(const QByteArray &path, OpenRecord &record);
    int32_t close();
    int32_t play();
    int32_t stop();
    int32_t pause();
    int32_t restart();
    int32_t seek(int32_t seconds);
    // Returns the state (0 idle, 2 paused, other values playing); *seconds is the position
    // while the state is not 0. Asking changes nothing; the end of a track: vbmp3.h.
    int32_t getState(int32_t &seconds) const;
    int16_t getFileInfo(const QByteArray &path, TagRecord &tag, StreamRecord &stream);
    // The output volume, which engines before vbmp3_setVolume lack: hasVolume() is false then,
    // setVolume does nothing and getVolume returns -1.
    bool hasVolume() const { return api_.setVolume && api_.getVolume; }
    int32_t setVolume(int32_t percent);
    int32_t getVolume();
    // The picture of a file's tag, at most limit bytes (vbmp3_getPicture); empty without one,
    // and always from engines before that call. Safe on any thread while the engine is loaded.
    QByteArray getPicture(const QByteArray &path, int32_t limit);

private:
    struct Api {
        decltype(&::vbmp3_init) init = nullptr;
        decltype(&::vbmp3_free) free = nullptr;
        decltype(&::vbmp3_open) open = nullptr;
        decltype(&::vbmp3_close) close = nullptr;
        decltype(&::vbmp3_play) play = nullptr;
        decltype(&::vbmp3_stop) stop = nullptr;
        decltype(&::vbmp3_pause) pause = nullptr;
        decltype(&::vbmp3_restart) restart = nullptr;
        decltype(&::vbmp3_seek) seek = nullptr;
        decltype(&::vbmp3_getState) getState = nullptr;
        decltype(&::vbmp3_getFileInfo) getFileInfo = nullptr;
        // Optional: vbmp3_setVolume(percent) and vbmp3_getVolume().
        int32_t (*setVolume)(int32_t) = nullptr;
        int32_t (*getVolume)() = nullptr;
        // Optional: vbmp3_getPicture(path, buffer, size).
        int32_t (*getPicture)(const char *, void *, int32_t) = nullptr;
    };

    bool load();

    QString programDir_;
    QLibrary library_;
    Api api_; // all set once loaded, all null otherwise
    bool ended_ = false;
};

// The text of an engine record field: the bytes before the first NUL (all of them when there
// is none), read as UTF-8.
QString CutAtNull(const char *field, std::size_t size);

template <std::size_t N> QString CutAtNull(const char (&field)[N])
{
    return CutAtNull(field, N);
}
