// The playback monitor: every tick of Timer1 asks the engine once where it is, shows the time
// and title in PictDisp and the progress in PictBar, and notices the end of a track. A click
// on PictBar seeks.
#include "form1.h"

#include "form1control.h"
#include "ui_form1.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// "03:07" for 187 seconds; minutes grow past two digits ("100:00").
QString TimeText(int32_t seconds)
{
    return u"%1:%2"_s.arg(seconds / 60, 2, 10, QChar(u'0')).arg(seconds % 60, 2, 10, QChar(u'0'));
}

// The inner width of the bar minus one: the last column a box or a click can reach.
float UsableWidth(const QWidget &bar)
{
    return static_cast<float>(bar.width() - 5);
}

constexpr int kBoxBottom = 10; // below the bar's inner height: the box fills it top to bottom

} // namespace

void Form1::Timer1_Timer()
{
    int32_t position = 0;
    const int32_t state = engine_.getState(position);

    if (state == VBMP3_STATE_IDLE && IsPlaying) { // the track has ended, or never started
        if (mnuLoop->isChecked()) {
            // While the user has an "Open Error" box before them, the next entry waits: each
            // tick would otherwise stack another box on it for every entry that fails.
            if (openErrorBoxes_ == 0)
                Command1_Click(int16_t(kelpa::Transport::Next));
            return;
        }
        engine_.stop();
        engine_.close();
        SetCaption(u"kelpa"_s);
        IsPlaying = 0;
        CloseTrack();
    }

    PictureBox *disp = ui_->PictDisp;
    PictureBox *bar = ui_->PictBar;
    if (state != VBMP3_STATE_IDLE) {
        PlayPosition = position;
        disp->Print(TimeText(PlayPosition) + u' ' + DispTitle);
        if (TrackLength > 0) {
            const double x = double(UsableWidth(*bar)) * PlayPosition / TrackLength;
            bar->FillBox(static_cast<float>(x), kBoxBottom);
        } else {
            bar->Cls(); // no length, no progress to show
        }
        return;
    }
    disp->Cls();
    bar->Cls();
    if (Caption() != u"kelpa"_s)
        SetCaption(u"kelpa"_s);
}

void Form1::PictBar_MouseDown(Qt::MouseButton, float x, float)
{
    int32_t position = 0;
    if (engine_.getState(position) == VBMP3_STATE_IDLE)
        return;
    const float usable = UsableWidth(*ui_->PictBar);
    if (x < 0 || x > usable || usable <= 0)
        return; // outside the bar, or a bar with no width to point into
    // Halves go to the even neighbour.
    const double target = std::nearbyint(double(x) * TrackLength / usable);
    engine_.seek(static_cast<int32_t>(target));
    emit control_->seeked(static_cast<int32_t>(target));
    // The box jumps to the click at once; the next tick draws it from the engine's position.
    ui_->PictBar->FillBox(x, kBoxBottom);
}
