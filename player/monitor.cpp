// The playback monitor's core: every tick asks the engine once where it is and notices the end
// of a track, where loop play moves on and otherwise the track is closed. What there is to
// show goes back to the window.
#include "player.h"

using namespace Qt::Literals::StringLiterals;

std::optional<Player::Shown> Player::Tick()
{
    int32_t position = 0;
    const int32_t state = EngineState(position);

    if (state == VBMP3_STATE_IDLE && PlayState.IsPlaying) { // the track has ended, or never started
        if (loop_ && (failedOpens_ == 0 || failedOpens_ < entryCount())) {
            // While the user has an "Open Error" box before them, the next entry waits: each
            // tick would otherwise run into the next failure for every entry that fails.
            if (!openErrorUnanswered_) {
                run(kelpa::Transport::Next);
                return std::nullopt;
            }
            // Meanwhile the failed open has left nothing open, and the caption says so (the
            // remotes show it too), not the title of the track before.
            SetCaption(u"kelpa"_s);
            return std::nullopt;
        }
        // The end of the track, or with loop play a whole lap of entries that failed to open
        // since the last one that opened (the music's drive or share has gone): a box for
        // each of them for ever would keep the user from everything else.
        engine_.stop();
        engine_.close();
        SetCaption(u"kelpa"_s);
        PlayState.IsPlaying = false;
        CloseTrack();
    }

    if (state != VBMP3_STATE_IDLE)
        return Shown{true, position};
    SetCaption(u"kelpa"_s);
    return Shown{false, 0};
}
