// The playback monitor and seek bar against the fake engine: what a tick shows at given
// positions (text and pixels), the end of a track with and without loop play, and where a
// click on the bar seeks.
#include "playerharness.h"
#include "windowwatch.h"

#include <QtTest>

namespace {

const QColor kBlue(0, 0, 255);

// Columns of the bar's inner area, counted from its left, that are blue in the middle row.
int blueColumns(PictureBox *bar)
{
    const QImage image = bar->grab().toImage();
    const QRect inner = bar->contentsRect();
    const int y = inner.center().y();
    int columns = 0;
    for (int x = inner.left(); x <= inner.right(); ++x) {
        if (image.pixelColor(x, y) == kBlue) {
            if (columns != x - inner.left())
                return -1; // a gap: no box from the left edge
            ++columns;
        }
    }
    return columns;
}

// Whether anything but the background shows inside the border.
bool showsSomething(PictureBox *box)
{
    const QImage image = box->grab().toImage();
    const QRect inner = box->contentsRect();
    const QColor background = box->palette().color(QPalette::Window);
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x)
            if (image.pixelColor(x, y) != background)
                return true;
    return false;
}

} // namespace

class MonitorTest : public QObject, private FakeTracks {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void tickShowsTimeTitleAndProgress_data();
    void tickShowsTimeTitleAndProgress();
    void stopBlanksTheStripOnTheNextTick();
    void endOfTrackWithoutLoopStopsAndCloses();
    void playWithNothingOpenCountsAsAnEndedTrack_data();
    void playWithNothingOpenCountsAsAnEndedTrack();
    void loopPlayGoesOnAndWrapsToTheFirstEntry();
    void loopWaitsWhileOpenErrorIsShownThenMovesOn();
    void loopEndsAfterALapOfFailedOpens_data();
    void loopEndsAfterALapOfFailedOpens();
    void loopOnAnEmptiedListKeepsTheLastPicture();
    void clickOnTheBarSeeks_data();
    void clickOnTheBarSeeks();
    void clickOnABarWithoutWidthDoesNothing();

private:
    void play(int index)
    {
        QVERIFY(player_->core->SetListIndex(index));
        player_->core->OpenSelected();
    }
    kelpa::PlayerControl &control() const { return player_->control(); }
    QByteArray pathOf(int index) const { return QFile::encodeName(paths_[index]); }
    void clickBar(float x, Qt::MouseButton button = Qt::LeftButton)
    {
        PictureBox *bar = player_->pictBar();
        QTest::mouseClick(bar, button, {},
                          QPoint(PictureBox::kBorder + qRound(x), PictureBox::kBorder + 2));
    }

    std::unique_ptr<PlayerHarness> player_;
    QStringList paths_;
};

void MonitorTest::initTestCase()
{
    QVERIFY(dir_.isValid());
}

void MonitorTest::init()
{
    player_.reset();
    fake_.reset();
    paths_ = {track(u"0.mp3"_s, "T0", "R0", 180), track(u"1.mp3"_s, "T1", "R1", 181),
              track(u"2.mp3"_s, "T2", "R2", 6000)};
    player_ = std::make_unique<PlayerHarness>();
    QVERIFY(player_->started);
    QVERIFY(player_->dropFiles(paths_));
    // The design width: 89 pixels, 84 of them usable.
    QCOMPARE(player_->pictBar()->width(), 89);
}

void MonitorTest::tickShowsTimeTitleAndProgress_data()
{
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<int32_t>("length");
    QTest::addColumn<int32_t>("state");
    QTest::addColumn<int32_t>("position");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("boxRight"); // -1: no box
    QTest::newRow("start") << QByteArray("T") << 180 << 1 << 0 << u"00:00 T - R"_s << 0;
    QTest::newRow("half way") << QByteArray("T") << 374 << 1 << 187 << u"03:07 T - R"_s << 42;
    QTest::newRow("at the length: the end of the usable width")
        << QByteArray("T") << 180 << 1 << 180 << u"03:00 T - R"_s << 84;
    QTest::newRow("a hundred minutes")
        << QByteArray("T") << 6000 << 1 << 6000 << u"100:00 T - R"_s << 84;
    QTest::newRow("paused") << QByteArray("T") << 180 << 2 << 90 << u"01:30 T - R"_s << 42;
    QTest::newRow("length 0: no box") << QByteArray("T") << 0 << 1 << 5 << u"00:05 T - R"_s << -1;
    QTest::newRow("Japanese title")
        << QByteArray("夏の終わり") << 180 << 1 << 60 << u"01:00 夏の終わり - R"_s << 28;
}

void MonitorTest::tickShowsTimeTitleAndProgress()
{
    QFETCH(QByteArray, title);
    QFETCH(int32_t, length);
    QFETCH(int32_t, state);
    QFETCH(int32_t, position);
    QFETCH(QString, text);
    QFETCH(int, boxRight);
    PlayerHarness &p = *player_;
    QVERIFY(p.dropFiles({track(u"x.mp3"_s, title, "R", length)}));
    play(3);
    QVERIFY(!showsSomething(p.pictDisp()));
    fake_.setState(state, position);

    // A tick only looks, and shows the same on every tick while nothing moves.
    for (int tick = 0; tick < 2; ++tick) {
        p.tick();
        QCOMPARE(fake_.state(), state);
        QCOMPARE(control().position(), position);
        QCOMPARE(p.pictDisp()->Text(), text);
        QVERIFY(showsSomething(p.pictDisp()));
        if (boxRight < 0) {
            QVERIFY(!p.pictBar()->BoxRight());
            QCOMPARE(blueColumns(p.pictBar()), 0);
        } else {
            QCOMPARE(p.pictBar()->BoxRight(), std::optional<float>(float(boxRight)));
            QCOMPARE(blueColumns(p.pictBar()), boxRight + 1); // both corners filled
        }
        QCOMPARE(p.core->caption(), u"kelpa - "_s + QString::fromUtf8(title));
    }
}

void MonitorTest::stopBlanksTheStripOnTheNextTick()
{
    PlayerHarness &p = *player_;
    play(0);
    fake_.setState(1, 90);
    p.tick();
    QVERIFY(showsSomething(p.pictBar()));
    QTest::mouseClick(p.button(3), Qt::LeftButton);

    p.tick();
    QCOMPARE(fake_.openPath(), pathOf(0)); // no close, and no next entry
    QCOMPARE(p.core->ListIndex(), 0);
    QCOMPARE(p.pictDisp()->Text(), QString());
    QVERIFY(!showsSomething(p.pictDisp()));
    QVERIFY(!showsSomething(p.pictBar()));
    QCOMPARE(p.core->caption(), u"kelpa"_s);
}

void MonitorTest::endOfTrackWithoutLoopStopsAndCloses()
{
    PlayerHarness &p = *player_;
    play(1);
    fake_.setState(1, 180);
    p.tick();

    fake_.setState(0, 0);
    p.tick();
    QCOMPARE(fake_.openPath(), QByteArray());
    QCOMPARE(p.control().track().path, QByteArray());
    QCOMPARE(p.control().status(), kelpa::PlaybackStatus::Stopped);
    QCOMPARE(p.core->caption(), u"kelpa"_s);
    QCOMPARE(p.form->windowTitle(), u"kelpa"_s);
    QVERIFY(!showsSomething(p.pictDisp()));
    QVERIFY(!showsSomething(p.pictBar()));

    // Idle from now on: nothing opens, nothing plays.
    p.tick();
    QCOMPARE(fake_.openPath(), QByteArray());
    QCOMPARE(fake_.state(), 0);
    QCOMPARE(p.core->ListIndex(), 1);

    // Next goes on from the entry that ended.
    QTest::mouseClick(p.button(4), Qt::LeftButton);
    QCOMPARE(fake_.openPath(), pathOf(2));
    QCOMPARE(p.core->caption(), u"kelpa - T2"_s);
}

void MonitorTest::playWithNothingOpenCountsAsAnEndedTrack_data()
{
    QTest::addColumn<bool>("loop");
    QTest::addColumn<QByteArray>("opened"); // by the tick after play; "0": the first entry
    QTest::newRow("loop play: on to the next entry, the first") << true << QByteArray("0");
    QTest::newRow("no loop: tidied up, nothing opens") << false << QByteArray();
}

void MonitorTest::playWithNothingOpenCountsAsAnEndedTrack()
{
    QFETCH(bool, loop);
    QFETCH(QByteArray, opened);
    PlayerHarness &p = *player_;
    p.control().setLoop(loop);
    QTest::mouseClick(p.button(1), Qt::LeftButton);
    QCOMPARE(fake_.state(), 0);
    p.tick();
    QCOMPARE(fake_.openPath(), opened.isEmpty() ? QByteArray() : pathOf(0));
    QCOMPARE(fake_.state(), opened.isEmpty() ? 0 : 1);
    if (!loop) {
        // The ended track is done with: loop play switched on later has nothing to go on from.
        p.control().setLoop(true);
        p.tick();
        QCOMPARE(fake_.openPath(), QByteArray());
        QCOMPARE(p.core->caption(), u"kelpa"_s);
    }
}

void MonitorTest::loopPlayGoesOnAndWrapsToTheFirstEntry()
{
    PlayerHarness &p = *player_;
    p.menuItem(u"mnuLoop"_s)->trigger();
    play(1);
    fake_.setState(1, 181);
    p.tick();
    const QString lastText = p.pictDisp()->Text();
    QCOMPARE(lastText, u"03:01 T1 - R1"_s);

    // The end of entry 1 opens entry 2; that tick draws nothing.
    fake_.setState(0, 0);
    p.tick();
    QCOMPARE(fake_.openPath(), pathOf(2));
    QCOMPARE(fake_.state(), 1);
    QCOMPARE(p.core->ListIndex(), 2);
    QCOMPARE(p.pictDisp()->Text(), lastText);
    QCOMPARE(p.core->caption(), u"kelpa - T2"_s);
    p.tick();
    QCOMPARE(p.pictDisp()->Text(), u"00:00 T2 - R2"_s);

    // The end of the last entry starts the first.
    fake_.setState(0, 0);
    p.tick();
    QCOMPARE(p.core->ListIndex(), 0);
    QCOMPARE(fake_.openPath(), pathOf(0));
    QCOMPARE(fake_.state(), 1);
    QCOMPARE(p.control().status(), kelpa::PlaybackStatus::Playing);
}

void MonitorTest::loopWaitsWhileOpenErrorIsShownThenMovesOn()
{
    PlayerHarness &p = *player_;
    p.menuItem(u"mnuLoop"_s)->trigger();
    fake_.refuseOpen(QFile::encodeName(paths_[1]));
    play(0);

    fake_.setState(0, 0);
    p.tick();
    QCOMPARE(p.boxes(), QStringList{u"Open Error"_s});
    // While the box is up, the timer goes on ticking: no other entry opens, no second box.
    for (int tick = 0; tick < 3; ++tick) {
        p.tick();
        QCOMPARE(fake_.openPath(), QByteArray());
        QCOMPARE(p.core->ListIndex(), 1);
        QCOMPARE(p.boxes(), QStringList{u"Open Error"_s});
        QCOMPARE(p.form->windowTitle(), u"kelpa"_s); // nothing is open
    }
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    QVERIFY(box);
    box->button(QMessageBox::Ok)->click();

    // The next tick moves on past the entry that failed.
    p.tick();
    QCOMPARE(fake_.openPath(), pathOf(2));
    QCOMPARE(p.core->ListIndex(), 2);
    QCOMPARE(fake_.state(), 1);
    QCOMPARE(p.boxes(), QStringList());
}

void MonitorTest::loopEndsAfterALapOfFailedOpens_data()
{
    QTest::addColumn<QList<int>>("refused"); // entries of 0, 1, 2 that no longer open
    QTest::addColumn<int>("boxes");          // "Open Error" boxes the user answers
    QTest::addColumn<QByteArray>("playing"); // in the end; "-": nothing, loop play has ended
    QTest::newRow("one bad entry is skipped") << QList<int>{1} << 1 << QByteArray("2");
    QTest::newRow("two bad entries are skipped") << QList<int>{1, 2} << 2 << QByteArray("0");
    QTest::newRow("all gone: one lap, then the player stops")
        << QList<int>{0, 1, 2} << 3 << QByteArray("-");
}

void MonitorTest::loopEndsAfterALapOfFailedOpens()
{
    QFETCH(QList<int>, refused);
    QFETCH(int, boxes);
    QFETCH(QByteArray, playing);
    PlayerHarness &p = *player_;
    p.control().setLoop(true);
    play(0);
    for (const int entry : refused)
        fake_.refuseOpen(pathOf(entry));

    fake_.setState(0, 0); // the end of entry 0
    int answered = 0;
    for (int tick = 0; tick < 20; ++tick) {
        p.tick();
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            QCOMPARE(box->text(), u"Open Error"_s);
            box->button(QMessageBox::Ok)->click();
            ++answered;
        }
    }
    QCOMPARE(answered, boxes);
    if (playing == "-") {
        QCOMPARE(fake_.openPath(), QByteArray());
        QCOMPARE(p.control().status(), kelpa::PlaybackStatus::Stopped);
        QCOMPARE(p.control().caption(), u"kelpa"_s);
        QCOMPARE(p.form->windowTitle(), u"kelpa"_s);
        // The user's own play of an entry that opens starts the next lap afresh.
        fake_.addTrack(pathOf(1), "T1", "R1", 181);
        play(1);
        QCOMPARE(fake_.state(), 1);
        QCOMPARE(p.control().caption(), u"kelpa - T1"_s);
        return;
    }
    QCOMPARE(fake_.openPath(), pathOf(playing.toInt()));
    QCOMPARE(fake_.state(), 1);
    QCOMPARE(p.control().caption(), u"kelpa - T"_s + QString::fromLatin1(playing));
}

void MonitorTest::loopOnAnEmptiedListKeepsTheLastPicture()
{
    PlayerHarness &p = *player_;
    p.menuItem(u"mnuLoop"_s)->trigger();
    play(0);
    fake_.setState(1, 179);
    p.tick();
    p.menuItem(u"mnuDelateAll"_s)->trigger();
    fake_.setState(0, 0);
    for (int tick = 0; tick < 3; ++tick) {
        p.tick();
        QCOMPARE(p.pictDisp()->Text(), u"02:59 T0 - R0"_s);
    }
    // Still meant to run: entries added now are where it goes on.
    QVERIFY(p.dropFiles({paths_[1]}));
    p.tick();
    QCOMPARE(fake_.openPath(), pathOf(1));
    QTest::mouseClick(p.button(3), Qt::LeftButton);
    p.tick();
    QVERIFY(!showsSomething(p.pictDisp()));
    QCOMPARE(fake_.openPath(), pathOf(1));
}

void MonitorTest::clickOnTheBarSeeks_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int32_t>("state");
    QTest::addColumn<float>("x");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("seconds"); // -1: no seek
    const Qt::MouseButton left = Qt::LeftButton;
    QTest::newRow("x = 0: the start") << 0 << 1 << 0.0f << left << 0;
    QTest::newRow("x = W - 5: the length") << 0 << 1 << 84.0f << left << 180;
    QTest::newRow("half way, a half rounds down to even") << 1 << 1 << 42.0f << left << 90;
    QTest::newRow("a tenth") << 2 << 1 << 8.0f << left << 571;
    QTest::newRow("right of W - 5: nothing") << 0 << 1 << 85.0f << left << -1;
    QTest::newRow("on the border: nothing") << 0 << 1 << -1.0f << left << -1;
    QTest::newRow("right button seeks too") << 0 << 1 << 42.0f << Qt::RightButton << 90;
    QTest::newRow("paused: passed on") << 0 << 2 << 21.0f << left << 45;
    QTest::newRow("idle: nothing") << 0 << 0 << 42.0f << left << -1;
    QTest::newRow("length 0: to 0") << 3 << 1 << 60.0f << left << 0;
}

void MonitorTest::clickOnTheBarSeeks()
{
    QFETCH(int, entry);
    QFETCH(int32_t, state);
    QFETCH(float, x);
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, seconds);
    PlayerHarness &p = *player_;
    QVERIFY(p.dropFiles({track(u"empty.mp3"_s, "E", "R", 0)}));
    play(entry);
    fake_.setState(state, 10);
    p.tick();
    newCalls();

    clickBar(x, button);
    const QStringList seeks = newCalls().filter(u"vbmp3_seek"_s);
    if (seconds < 0) {
        QCOMPARE(seeks, QStringList());
        return;
    }
    QCOMPARE(seeks, QStringList{u"vbmp3_seek %1"_s.arg(seconds)});
    QCOMPARE(p.control().position(), seconds);
    QCOMPARE(fake_.state(), state);
    // The box jumps to the click at once.
    QCOMPARE(p.pictBar()->BoxRight(), std::optional<float>(x));
    QCOMPARE(blueColumns(p.pictBar()), qRound(x) + 1);
}

void MonitorTest::clickOnABarWithoutWidthDoesNothing()
{
    PlayerHarness &p = *player_;
    play(0);
    fake_.setState(1, 10);
    p.pictBar()->resize(5, p.pictBar()->height()); // one inner column: x = 0 is W - 5
    newCalls();
    clickBar(0);
    QCOMPARE(newCalls().filter(u"vbmp3_seek"_s), QStringList());
    QCOMPARE(p.control().position(), 10);
}

QTEST_MAIN(MonitorTest)
#include "test_monitor.moc"
