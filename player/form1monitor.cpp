// The playback monitor's window side: every tick of Timer1 shows the time and title in
// PictDisp and the progress in PictBar, as the player's tick leaves them. A click on PictBar
// seeks.
#include "form1.h"

#include "player.h"
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
    const std::optional<Player::Shown> shown = player_.Tick();
    if (!shown)
        return; // moved on to the next entry: nothing drawn this time

    PictureBox *disp = ui_->PictDisp;
    PictureBox *bar = ui_->PictBar;
    if (!shown->active) {
        disp->Cls();
        bar->Cls();
        return;
    }
    const int32_t PlayPosition = shown->position;
    const int32_t TrackLength = player_.TrackLength();
    disp->Print(TimeText(PlayPosition) + u' ' + player_.DispTitle());
    if (TrackLength > 0) {
        const double x = double(UsableWidth(*bar)) * PlayPosition / TrackLength;
        bar->FillBox(static_cast<float>(x), kBoxBottom);
    } else {
        bar->Cls(); // no length, no progress to show
    }
}

void Form1::PictBar_MouseDown(Qt::MouseButton, float x, float)
{
    const float usable = UsableWidth(*ui_->PictBar);
    if (x < 0 || x > usable || usable <= 0)
        return; // outside the bar, or a bar with no width to point into
    // Halves go to the even neighbour.
    const double target = std::nearbyint(double(x) * player_.TrackLength() / usable);
    if (player_.status() == kelpa::PlaybackStatus::Stopped)
        return; // nothing plays
    player_.seek(static_cast<int32_t>(target));
    // The box jumps to the click at once; the next tick draws it from the engine's position.
    ui_->PictBar->FillBox(x, kBoxBottom);
}
