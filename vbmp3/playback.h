// The engine's playing side: one open file, one PulseAudio stream. The stream outlives a track
// that ended by itself: its last moments play while the next file is opened, and that file's
// samples go on the same stream right behind them.
//
// Threads and locks: every public member runs on its caller's thread, one caller at a time (the
// library's call lock, api.cpp): mostly the player's UI thread, but vbmp3_open may come from a
// worker. Each takes the main loop's lock for its whole body. Decoding and writing to the sound
// server run on PulseAudio's threaded main loop (the engine thread), in the callbacks below,
// which the loop calls with that lock held. The lock guards every member below. A public member
// therefore waits at most for one callback: the longest is a refill, which decodes up to three
// quarters of a second of audio (after a start or a seek; an eighth of a second otherwise) and
// reads at most a bounded number of bytes however hostile the file (see Decoder). Such a wait
// lasts a few milliseconds at worst, and most calls do not wait at all (bench_seek prints the
// worst and the 99th percentile); a play that joins a track to the tail of the previous one does
// one such refill itself. Public members never wait for the sound server. The engine thread
// never calls out of the library.
#pragma once

#include "decoder.h"

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <memory>

namespace vbmp3 {

class Playback {
public:
    Playback() = default;
    Playback(const Playback &) = delete;
    Playback &operator=(const Playback &) = delete;
    ~Playback() { shutdown(); }

    // Caller's thread, main loop lock held for the call.
    void replace(std::unique_ptr<Decoder> decoder); // open (with nullptr: close)
    void play(); // also starts the engine thread and connects, on first use
    void stop();
    void pause();
    void restart();
    void seek(int32_t seconds);            // the decoder moves later, on the engine thread
    int32_t state(int32_t &seconds) const; // changes nothing: see settleEnd
    void setVolume(int32_t percent);       // clamped to 0..100; kept for the run
    int32_t volume();
    // Caller's thread: stops, closes the file, disconnects under the lock, then joins the
    // engine thread without it. The one teardown path; safe to run twice.
    void shutdown();

private:
    enum class Mode { Idle, Playing, Paused };
    class Lock;

    // Owners of the sound server objects: each deleter is the one way that object ends.
    struct LoopEnd {
        void operator()(pa_threaded_mainloop *loop) const; // joins the engine thread
    };
    struct ContextEnd {
        void operator()(pa_context *context) const;
    };
    struct StreamEnd {
        void operator()(pa_stream *stream) const;
    };
    struct OperationEnd {
        void operator()(pa_operation *operation) const; // cancels it
    };

    // Either thread, main loop lock held.
    bool ensureContext();
    void createStream();
    pa_cvolume streamVolume(uint8_t channels) const;
    void applyVolume();
    void dropStream();
    void silence();
    bool ownsStream() const;
    // A track within its tail (vbmp3.h) counts as ended: every call that acts on playback
    // settles that first, so that the end does not hang on whether the state was asked.
    void settleEnd();
    bool endIsNear() const;
    void appendToTail();
    void rewindTo(int64_t frame);
    void fill(std::size_t bytes);
    void startDrain();
    int64_t heardFrame() const;

    // Engine thread, main loop lock held (PulseAudio calls them so).
    static void onContextState(pa_context *context, void *self);
    static void onStreamState(pa_stream *stream, void *self);
    static void onStreamInfo(pa_context *context, const pa_sink_input_info *info, int last,
                             void *self);
    static void onWrite(pa_stream *stream, std::size_t bytes, void *self);
    static void onDrained(pa_stream *stream, int success, void *self);

    // Created and ended by callers only, so a caller may test it without the lock.
    std::unique_ptr<pa_threaded_mainloop, LoopEnd> loop_;
    std::unique_ptr<pa_context, ContextEnd> context_;
    std::unique_ptr<pa_stream, StreamEnd> stream_;
    std::unique_ptr<pa_operation, OperationEnd> drain_;
    std::unique_ptr<Decoder> decoder_; // replaced by callers only
    Mode mode_ = Mode::Idle;
    bool decodedToEnd_ = false;
    // stream_ holds only the last moments of a track that ended: a stop or close lets them play
    // out, and the next track's samples are appended to them.
    bool tail_ = false;
    bool seekPending_ = false; // the decoder still has to move to writeFrame_
    int64_t writeFrame_ = 0;   // track frame at the stream's write index
    int64_t floorFrame_ = 0;   // where playback last started or landed: never heard earlier
    // The position last answered, repeated while the stream has no timing: a memo of the
    // answer, not of playback.
    mutable int64_t lastHeard_ = 0;
    int32_t volume_ = 100; // percent, on the scale desktop mixers show
    // Until the caller first sets a level, the sound server picks each stream's own (it may
    // restore what the user chose for kelpa in a mixer), and volume_ reads it back; from then
    // on the caller's level is every stream's for the run.
    bool volumeSet_ = false;
};

} // namespace vbmp3
