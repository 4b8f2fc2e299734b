// A test's handle on the fake engine library (see fakeengine.cpp): the folders it is built
// into, and its controls. It is the very library the player loads from that folder, so the
// log shows the player's calls.
#pragma once

#include <QByteArray>
#include <QLibrary>
#include <QString>
#include <QStringList>

#include <cstdint>

class FakeEngine {
public:
    static QString completeDir();
    // A build of the fake without vbmp3_getFileInfo.
    static QString incompleteDir();
    // A build of the fake without vbmp3_setVolume and vbmp3_getVolume, as older engines are.
    static QString noVolumeDir();

    explicit FakeEngine(const QString &dir = completeDir());

    // The vbmp3_* calls since the last reset, e.g. "vbmp3_init", "vbmp3_seek 42".
    QStringList log();
    void reset();
    void setInitResult(int32_t result);
    void addTrack(const QByteArray &path, const QByteArray &title, const QByteArray &artist,
                  int32_t seconds);
    // vbmp3_open refuses the track from now on; vbmp3_getFileInfo still reads it.
    void refuseOpen(const QByteArray &path);
    void setState(int32_t state, int32_t seconds);
    // The playback state (0 idle, 1 playing, 2 paused), read without a log line.
    int32_t state();
    // The path of the open track, as the engine got it; empty when none is open.
    QByteArray openPath();

private:
    template <typename Function> Function entry(const char *symbol);

    QLibrary library_;
};
