#include "playback.h"

#include <vbmp3.h>

#include <algorithm>
#include <cmath>

namespace vbmp3 {
namespace {

// A deep buffer costs nothing here: pause corks the stream, seek and stop flush it, and the
// position is corrected by the stream's latency. It keeps wake-ups (and CPU) low, and it holds
// more than the tail once a track is decoded to its end.
constexpr pa_usec_t kBufferUsec = 750 * 1000;
constexpr pa_usec_t kRefillUsec = 125 * 1000;
constexpr pa_usec_t kTailUsec = VBMP3_TAIL_MS * PA_USEC_PER_MSEC;

void forget(pa_operation *operation)
{
    if (operation)
        pa_operation_unref(operation);
}

} // namespace

void Playback::LoopEnd::operator()(pa_threaded_mainloop *loop) const
{
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

void Playback::ContextEnd::operator()(pa_context *context) const
{
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
}

void Playback::StreamEnd::operator()(pa_stream *stream) const
{
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

void Playback::OperationEnd::operator()(pa_operation *operation) const
{
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
}

class Playback::Lock {
public:
    explicit Lock(pa_threaded_mainloop *loop) : loop_(loop)
    {
        if (loop_)
            pa_threaded_mainloop_lock(loop_);
    }
    ~Lock()
    {
        if (loop_)
            pa_threaded_mainloop_unlock(loop_);
    }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    pa_threaded_mainloop *loop_;
};

void Playback::replace(std::unique_ptr<Decoder> decoder)
{
    Lock lock(loop_.get());
    settleEnd();
    silence();
    decoder_ = std::move(decoder);
    rewindTo(0);
}

void Playback::play()
{
    // decoder_ and loop_ change only in callers, one at a time; mode_ also on the engine thread.
    if (!decoder_)
        return; // nothing open: the state stays 0, which the player reads as an ended track
    if (!loop_) {
        pa_threaded_mainloop *loop = pa_threaded_mainloop_new();
        if (!loop)
            return;
        if (pa_threaded_mainloop_start(loop) < 0) {
            pa_threaded_mainloop_free(loop);
            return;
        }
        loop_.reset(loop);
    }
    Lock lock(loop_.get());
    settleEnd();
    if (mode_ == Mode::Playing)
        return;
    if (mode_ == Mode::Paused) {
        mode_ = Mode::Playing;
        if (ownsStream())
            forget(pa_stream_cork(stream_.get(), 0, nullptr, nullptr));
        return;
    }
    if (tail_) {
        mode_ = Mode::Playing;
        rewindTo(0);
        appendToTail();
        return;
    }
    dropStream();
    rewindTo(0);
    if (!ensureContext())
        return;
    mode_ = Mode::Playing;
    if (pa_context_get_state(context_.get()) == PA_CONTEXT_READY)
        createStream();
}

void Playback::stop()
{
    Lock lock(loop_.get());
    settleEnd();
    silence();
    rewindTo(0);
}

void Playback::pause()
{
    Lock lock(loop_.get());
    settleEnd();
    if (mode_ != Mode::Playing)
        return;
    mode_ = Mode::Paused;
    if (ownsStream())
        forget(pa_stream_cork(stream_.get(), 1, nullptr, nullptr));
}

void Playback::restart()
{
    Lock lock(loop_.get());
    if (mode_ != Mode::Paused)
        return;
    mode_ = Mode::Playing;
    if (ownsStream())
        forget(pa_stream_cork(stream_.get(), 0, nullptr, nullptr));
}

void Playback::seek(int32_t seconds)
{
    Lock lock(loop_.get());
    settleEnd();
    if (!decoder_ || mode_ == Mode::Idle)
        return;
    const int64_t frame = std::clamp<int64_t>(int64_t{std::max(seconds, 0)} * decoder_->rate(), 0,
                                              decoder_->totalFrames());
    // The decoder moves on the engine thread, before it decodes again; until audio from the
    // target is heard, the position reads the target.
    rewindTo(frame);
    if (!ownsStream())
        return; // the stream still plays the previous track's tail: this one has none yet
    drain_.reset();
    // Drop what is still buffered from before the seek; the server asks for fresh audio next.
    forget(pa_stream_flush(stream_.get(), nullptr, nullptr));
}

int32_t Playback::state(int32_t &seconds) const
{
    Lock lock(loop_.get());
    if (mode_ == Mode::Idle || !decoder_ || (mode_ == Mode::Playing && endIsNear()))
        return 0;
    seconds = static_cast<int32_t>(heardFrame() / decoder_->rate());
    return mode_ == Mode::Paused ? 2 : 1;
}

void Playback::setVolume(int32_t percent)
{
    Lock lock(loop_.get());
    volume_ = std::clamp(percent, 0, 100);
    volumeSet_ = true;
    applyVolume();
}

int32_t Playback::volume()
{
    Lock lock(loop_.get());
    return volume_;
}

void Playback::shutdown()
{
    {
        Lock lock(loop_.get());
        dropStream();
        mode_ = Mode::Idle;
        decoder_.reset();
        context_.reset();
    }
    loop_.reset(); // outside the lock: joining the engine thread needs it free
}

bool Playback::ensureContext()
{
    if (context_ && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_.get())))
        return true;
    // None yet, or the server went away earlier: try again with a fresh connection.
    context_.reset(pa_context_new(pa_threaded_mainloop_get_api(loop_.get()), "kelpa"));
    if (!context_)
        return false;
    pa_context_set_state_callback(context_.get(), &Playback::onContextState, this);
    // On failure the state callback has marked the context failed.
    return pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
}

void Playback::createStream()
{
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16NE;
    spec.rate = static_cast<uint32_t>(decoder_->rate());
    spec.channels = static_cast<uint8_t>(decoder_->channels());
    stream_.reset(pa_stream_new(context_.get(), "kelpa", &spec, nullptr));
    if (!stream_) {
        mode_ = Mode::Idle;
        return;
    }
    pa_stream_set_state_callback(stream_.get(), &Playback::onStreamState, this);
    pa_stream_set_write_callback(stream_.get(), &Playback::onWrite, this);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kBufferUsec, &spec));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kRefillUsec, &spec));
    attr.fragsize = static_cast<uint32_t>(-1);
    auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                       (mode_ == Mode::Paused ? PA_STREAM_START_CORKED : 0));
    // The level goes with the stream, so that not one sample is heard at another level.
    const pa_cvolume volume = streamVolume(spec.channels);
    if (pa_stream_connect_playback(stream_.get(), nullptr, &attr, flags,
                                   volumeSet_ ? &volume : nullptr, nullptr) < 0) {
        dropStream();
        mode_ = Mode::Idle;
    }
}

pa_cvolume Playback::streamVolume(uint8_t channels) const
{
    // Percent of the server's normal level on its own scale, which is what mixers show: even
    // steps sound even, where a share of the amplitude would crowd the audible change at the
    // bottom of the range.
    pa_cvolume volume;
    pa_cvolume_set(
        &volume, channels,
        static_cast<pa_volume_t>(uint64_t{PA_VOLUME_NORM} * static_cast<uint64_t>(volume_) / 100));
    return volume;
}

void Playback::applyVolume()
{
    // The stream as it plays, a finished track's tail included; a stream still connecting gets
    // the level once it is ready (onStreamState), in case it changed meanwhile.
    if (!stream_ || pa_stream_get_state(stream_.get()) != PA_STREAM_READY)
        return;
    const uint32_t index = pa_stream_get_index(stream_.get());
    if (!volumeSet_) {
        forget(
            pa_context_get_sink_input_info(context_.get(), index, &Playback::onStreamInfo, this));
        return;
    }
    const pa_cvolume volume = streamVolume(pa_stream_get_sample_spec(stream_.get())->channels);
    forget(pa_context_set_sink_input_volume(context_.get(), index, &volume, nullptr, nullptr));
}

void Playback::dropStream()
{
    drain_.reset();
    stream_.reset();
    tail_ = false;
}

void Playback::silence()
{
    // Only the tail of a track that has ended plays on; anything else stops at once.
    if (mode_ != Mode::Idle || !tail_)
        dropStream();
    mode_ = Mode::Idle;
}

bool Playback::ownsStream() const
{
    return stream_ && !tail_;
}

void Playback::settleEnd()
{
    if (mode_ == Mode::Playing && endIsNear()) {
        // Ended, while its last moments still sound: the stream keeps them.
        mode_ = Mode::Idle;
        tail_ = true;
    }
}

bool Playback::endIsNear() const
{
    if (!decodedToEnd_ || !stream_ || pa_stream_get_state(stream_.get()) != PA_STREAM_READY)
        return false;
    pa_usec_t left = 0;
    int negative = 0;
    return pa_stream_get_latency(stream_.get(), &left, &negative) == 0 &&
           (negative || left <= kTailUsec);
}

void Playback::appendToTail()
{
    const pa_sample_spec *spec = pa_stream_get_sample_spec(stream_.get());
    if (!spec || spec->rate != static_cast<uint32_t>(decoder_->rate()) ||
        spec->channels != decoder_->channels())
        return; // another format: a new stream follows once the tail has played (onDrained)
    // The same stream goes on: the first sample of this track follows the last of the previous
    // one. Written now, not when the server next asks, so that the tail never runs dry.
    tail_ = false;
    drain_.reset();
    const std::size_t writable = pa_stream_writable_size(stream_.get());
    if (writable != static_cast<std::size_t>(-1))
        fill(writable);
}

void Playback::rewindTo(int64_t frame)
{
    decodedToEnd_ = false;
    seekPending_ = true;
    writeFrame_ = floorFrame_ = lastHeard_ = frame;
}

void Playback::fill(std::size_t bytes)
{
    if (!ownsStream() || !decoder_ || decodedToEnd_)
        return;
    if (seekPending_) {
        seekPending_ = false;
        if (!decoder_->seek(writeFrame_)) {
            decodedToEnd_ = true; // nothing more to play from there
            startDrain();
            return;
        }
    }
    const auto frameBytes = static_cast<std::size_t>(decoder_->frameBytes());
    while (bytes >= frameBytes) {
        void *data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(stream_.get(), &data, &size) < 0 || !data)
            return;
        size -= size % frameBytes;
        std::size_t written = 0;
        const Decoder::ReadResult result =
            size > 0 ? decoder_->read(static_cast<unsigned char *>(data), size, written)
                     : Decoder::ReadResult::Ok;
        if (written > 0) {
            if (pa_stream_write(stream_.get(), data, written, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return;
            writeFrame_ += static_cast<int64_t>(written / frameBytes);
        } else {
            pa_stream_cancel_write(stream_.get());
        }
        if (result == Decoder::ReadResult::Ended) {
            decodedToEnd_ = true;
            startDrain();
            return;
        }
        if (written == 0)
            return;
        bytes -= std::min(bytes, written);
    }
}

void Playback::startDrain()
{
    // The track has ended once the server has played everything written, not before.
    drain_.reset(pa_stream_drain(stream_.get(), &Playback::onDrained, this));
    if (!drain_) {
        dropStream();
        mode_ = Mode::Idle;
    }
}

int64_t Playback::heardFrame() const
{
    int64_t heard = lastHeard_;
    if (stream_ && pa_stream_get_state(stream_.get()) == PA_STREAM_READY) {
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream_.get(), &latency, &negative) == 0) {
            const int64_t buffered =
                negative ? 0
                         : static_cast<int64_t>(latency * static_cast<uint64_t>(decoder_->rate()) /
                                                1000000);
            heard = writeFrame_ - buffered;
        }
    }
    // Playback never runs behind where it started or landed (stale timing right after a seek
    // would say so), nor past the end.
    lastHeard_ = std::clamp(heard, floorFrame_, std::max(floorFrame_, decoder_->totalFrames()));
    return lastHeard_;
}

void Playback::onContextState(pa_context *context, void *self)
{
    auto *playback = static_cast<Playback *>(self);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        if (playback->mode_ != Mode::Idle && !playback->stream_ && playback->decoder_)
            playback->createStream();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        playback->dropStream();
        playback->mode_ = Mode::Idle;
        break;
    default:
        break;
    }
}

void Playback::onStreamState(pa_stream *stream, void *self)
{
    auto *playback = static_cast<Playback *>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY)
        playback->applyVolume();
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        playback->dropStream();
        playback->mode_ = Mode::Idle;
    }
}

void Playback::onStreamInfo(pa_context *, const pa_sink_input_info *info, int last, void *self)
{
    auto *playback = static_cast<Playback *>(self);
    if (last || !info || playback->volumeSet_)
        return;
    // Read back as a mixer shows it; above 100 % (a mixer allows that) is full here.
    const double percent = 100.0 * pa_cvolume_max(&info->volume) / PA_VOLUME_NORM;
    playback->volume_ = std::clamp(static_cast<int32_t>(std::lround(percent)), 0, 100);
}

void Playback::onWrite(pa_stream *, std::size_t bytes, void *self)
{
    static_cast<Playback *>(self)->fill(bytes);
}

void Playback::onDrained(pa_stream *, int success, void *self)
{
    auto *playback = static_cast<Playback *>(self);
    // The operation is finishing: let it go without cancelling it.
    if (playback->drain_)
        pa_operation_unref(playback->drain_.release());
    if (!success)
        return;
    // A track waiting for the tail of one in another format starts on a stream of its own.
    const bool waiting = playback->tail_ && playback->mode_ != Mode::Idle;
    playback->dropStream();
    if (waiting)
        playback->createStream();
    else
        playback->mode_ = Mode::Idle;
}

} // namespace vbmp3
