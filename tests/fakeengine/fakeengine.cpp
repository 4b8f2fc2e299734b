// A stand-in for the engine library, for tests only. It exports the thirteen vbmp3_* entry
// points, records every call, and plays nothing: tracks are registered by the test, and
// playback is a state and a position that the calls (and the test) move.
//
// Built three times: complete; without vbmp3_getFileInfo (FAKE_ENGINE_WITHOUT_FILE_INFO), to
// stand for a library that lacks an entry point; and without the volume calls
// (FAKE_ENGINE_WITHOUT_VOLUME), as engines were before them.
#include "fakecontrol.h"

#include <vbmp3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Track {
    std::string title;
    std::string artist;
    int32_t seconds = 0;
    bool opens = true;
};

struct Fake {
    std::string log;
    std::map<std::string, Track> tracks;
    int32_t initResult = 1;
    std::string openPath; // empty: nothing open
    int32_t state = VBMP3_STATE_IDLE;
    int32_t position = 0;
    int32_t volume = 100;
};

// The player reads tags on a thread of its own while its UI thread drives playback, and the
// test looks on from the UI thread: every entry point holds this for its whole call.
std::mutex &mutex()
{
    static std::mutex instance;
    return instance;
}

Fake &fake()
{
    static Fake instance;
    return instance;
}

// With FAKE_ENGINE_LOG_FILE set, every call is also appended to that file at once, so that a
// test sees the calls of a program that ended abruptly, or one still running.
void record(const std::string &call)
{
    fake().log += call + '\n';
    static const int file = [] {
        const char *path = std::getenv("FAKE_ENGINE_LOG_FILE");
        return path ? ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
    }();
    if (file >= 0) {
        const std::string line = call + '\n';
        [[maybe_unused]] const ssize_t written = ::write(file, line.data(), line.size());
    }
}

// Like the real engine: the field is filled with as many bytes as fit, NUL-terminated only
// when there is room, so a text of the field's full size has no NUL.
template <std::size_t N> void fill(char (&field)[N], const std::string &text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

const Track *find(const char *path)
{
    const auto it = fake().tracks.find(path ? path : "");
    return it == fake().tracks.end() ? nullptr : &it->second;
}

} // namespace

extern "C" {

const char *fake_log(void)
{
    thread_local std::string copy;
    copy = fake().log;
    return copy.c_str();
}

void fake_reset(void)
{
    const std::lock_guard guard(mutex());
    fake() = Fake{};
}

void fake_set_init_result(int32_t result)
{
    const std::lock_guard guard(mutex());
    fake().initResult = result;
}

void fake_add_track(const char *path, const char *title, const char *artist, int32_t seconds)
{
    const std::lock_guard guard(mutex());
    fake().tracks[path] = Track{title, artist, seconds};
}

void fake_refuse_open(const char *path)
{
    const std::lock_guard guard(mutex());
    const auto it = fake().tracks.find(path);
    if (it != fake().tracks.end())
        it->second.opens = false;
}

int32_t fake_state(void)
{
    const std::lock_guard guard(mutex());
    return fake().state;
}

const char *fake_open_path(void)
{
    thread_local std::string copy;
    copy = fake().openPath;
    return copy.c_str();
}

void fake_set_state(int32_t state, int32_t seconds)
{
    const std::lock_guard guard(mutex());
    fake().state = state;
    fake().position = seconds;
}

int32_t vbmp3_init(void)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_init");
    return fake().initResult;
}

int32_t vbmp3_free(void)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_free");
    fake().openPath.clear();
    fake().state = VBMP3_STATE_IDLE;
    return 1;
}

int16_t vbmp3_open(const char *path, Vbmp3OpenRecord *openRecord)
{
    const std::lock_guard guard(mutex());
    record(std::string("vbmp3_open ") + (path ? path : ""));
    const Track *track = find(path);
    if (track && !track->opens)
        track = nullptr;
    fake().openPath = track ? path : "";
    fake().state = VBMP3_STATE_IDLE;
    fake().position = 0;
    if (!track)
        return 0;
    fill(openRecord->Title, track->title);
    fill(openRecord->Artist, track->artist);
    openRecord->TotalSeconds = track->seconds;
    return 1;
}

int32_t vbmp3_close(void)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_close");
    fake().openPath.clear();
    fake().state = VBMP3_STATE_IDLE;
    return 1;
}

int32_t vbmp3_play(void)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_play");
    if (!fake().openPath.empty())
        fake().state = VBMP3_STATE_PLAYING;
    return 1;
}

int32_t vbmp3_stop(void)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_stop");
    fake().state = VBMP3_STATE_IDLE;
    fake().position = 0;
    return 1;
}

int32_t vbmp3_pause(void)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_pause");
    if (fake().state == VBMP3_STATE_PLAYING)
        fake().state = VBMP3_STATE_PAUSED;
    return 1;
}

int32_t vbmp3_restart(void)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_restart");
    if (fake().state == VBMP3_STATE_PAUSED)
        fake().state = VBMP3_STATE_PLAYING;
    return 1;
}

int32_t vbmp3_seek(int32_t seconds)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_seek " + std::to_string(seconds));
    fake().position = seconds;
    return 1;
}

int32_t vbmp3_getState(int32_t *seconds)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_getState");
    if (fake().state != VBMP3_STATE_IDLE)
        *seconds = fake().position;
    return fake().state;
}

#ifndef FAKE_ENGINE_WITHOUT_VOLUME
int32_t vbmp3_setVolume(int32_t percent)
{
    const std::lock_guard guard(mutex());
    record("vbmp3_setVolume " + std::to_string(percent));
    fake().volume = std::clamp(percent, 0, 100);
    return 1;
}

// A query with no effect, asked whenever a view shows the level: not logged.
int32_t vbmp3_getVolume(void)
{
    const std::lock_guard guard(mutex());
    return fake().volume;
}
#endif

#ifndef FAKE_ENGINE_WITHOUT_FILE_INFO
int16_t vbmp3_getFileInfo(const char *path, Vbmp3TagRecord *tag, Vbmp3StreamRecord *)
{
    const std::lock_guard guard(mutex());
    record(std::string("vbmp3_getFileInfo ") + (path ? path : ""));
    const Track *track = find(path);
    if (!track)
        return 0;
    fill(tag->Title, track->title);
    fill(tag->Artist, track->artist);
    return 1;
}
#endif

} // extern "C"
