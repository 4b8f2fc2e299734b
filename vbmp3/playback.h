// The engine's playing side: one open file, one PulseAudio stream.
//
// Threads: every public member is called from the player's UI thread. Decoding and writing to
// the sound server happen in PulseAudio's threaded main loop (the engine thread), in the
// stream's write callback. The main loop's lock guards everything below; public members take
// it for a few microseconds and never wait for the sound server, so they return promptly.
// The engine thread never calls out of the library.
#pragma once

#include "decoder.h"

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <memory>

namespace vbmp3 {

class Playback
{
public:
    Playback() = default;
    Playback(const Playback &) = delete;
    Playback &operator=(const Playback &) = delete;
    ~Playback() { shutdown(); }

    void replace(std::unique_ptr<Decoder> decoder); // open (with nullptr: close)
    void play();
    void stop();
    void pause();
    void restart();
    void seek(int32_t seconds);
    int32_t state(int32_t &seconds);
    // Stops, closes the file, joins the engine thread and disconnects. Safe to run twice.
    void shutdown();

private:
    enum class Mode { Idle, Playing, Paused };
    class Lock;

    bool ensureContext();
    void createStream();
    void dropStream();
    void rewindTo(int64_t frame);
    void fill(std::size_t bytes);
    void startDrain();
    int64_t heardFrame();

    static void onContextState(pa_context *context, void *self);
    static void onStreamState(pa_stream *stream, void *self);
    static void onWrite(pa_stream *stream, std::size_t bytes, void *self);
    static void onDrained(pa_stream *stream, int success, void *self);

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    pa_stream *stream_ = nullptr;
    pa_operation *drain_ = nullptr;
    std::unique_ptr<Decoder> decoder_;
    Mode mode_ = Mode::Idle;
    bool decodedToEnd_ = false;
    bool seekPending_ = false; // the decoder still has to move to writeFrame_
    int64_t writeFrame_ = 0; // track frame at the stream's write index
    int64_t floorFrame_ = 0; // where playback last started or landed: never heard earlier
    int64_t lastHeard_ = 0;
};

} // namespace vbmp3
