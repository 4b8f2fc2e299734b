// Transport control against the fake engine: the five buttons with their wrap-arounds, open
// and play by double-click and from the menu, pause and resume, stop with the file kept open,
// a failed open, and the loop item.
#include "playerharness.h"

#include <QtTest>

// verifyPlaying, ending the test at its first failure.
#define VERIFY_PLAYING(...)                                                                        \
    do {                                                                                           \
        verifyPlaying(__VA_ARGS__);                                                                \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class TransportTest : public QObject, private FakeTracks {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void buttonsStepThroughTheListAndWrap_data();
    void buttonsStepThroughTheListAndWrap();
    void previousAfterDeletionsStepsToTheLastEntry();
    void previousAndNextOnAnEmptyListDoNothing();
    void doubleClickOpensAndPlaysTheEntry();
    void menuPlayAndDoubleClickNeedASelection();
    void enterPlaysTheSelectedEntry_data();
    void enterPlaysTheSelectedEntry();
    void pauseTogglesAndPlayResumes();
    void stopKeepsTheFileOpenForTheNextPlay();
    void failedOpenShowsOpenErrorAndKeepsThePlayerState();
    void blanksAroundAPathAndEmptyTags();
    void captionShowsTheTitleExactly_data();
    void captionShowsTheTitleExactly();
    void deletingThePlayingEntryKeepsItPlaying();
    void unknownCommandsAndTheLoopItem();

private:
    void click(int button) { QTest::mouseClick(player_->button(button), Qt::LeftButton); }
    void open(int index)
    {
        QVERIFY(player_->core->SetListIndex(index));
        player_->core->OpenSelected();
    }
    kelpa::PlayerControl &control() const { return player_->control(); }
    // Entry `index` plays from `seconds` on: its file open in the engine, and the window and
    // the remotes say so. Use through VERIFY_PLAYING, which ends the test at a failure.
    void verifyPlaying(int index, int32_t seconds = 0)
    {
        const QString path = paths_[index % paths_.size()];
        const QString caption = u"kelpa - T%1"_s.arg(index % paths_.size());
        QCOMPARE(fake_.state(), 1);
        QCOMPARE(fake_.openPath(), QFile::encodeName(path));
        QCOMPARE(control().status(), kelpa::PlaybackStatus::Playing);
        QCOMPARE(QFile::decodeName(control().track().path), path);
        QCOMPARE(control().position(), seconds);
        QCOMPARE(control().caption(), caption);
        QCOMPARE(player_->form->windowTitle(), caption);
    }
    // Whether the track is meant to run, told as the player tells it: when the engine falls
    // idle, the next tick takes the track for ended and closes it; a stopped one stays open.
    bool endsAtTheNextTick()
    {
        fake_.setState(0, 0);
        player_->tick();
        return control().track().path.isEmpty();
    }

    std::unique_ptr<PlayerHarness> player_;
    QStringList paths_;
};

void TransportTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    QVERIFY(QDir::setCurrent(dir_.path()));
}

void TransportTest::init()
{
    player_.reset();
    fake_.reset();
    paths_ = {track(u"0.mp3"_s, "T0", "R0", 100), track(u"1.mp3"_s, "T1", "R1", 200),
              track(u"2.mp3"_s, "T2", "R2", 300)};
    player_ = std::make_unique<PlayerHarness>();
    QVERIFY(player_->started);
    QVERIFY(player_->dropFiles(paths_));
    QCOMPARE(player_->count(), 3);
}

void TransportTest::buttonsStepThroughTheListAndWrap_data()
{
    QTest::addColumn<QList<int>>("clicks"); // buttons; 10 + N selects entry N first
    QTest::addColumn<int>("opened");        // the entry playing afterwards
    QTest::newRow("next from the start opens the first") << QList<int>{4} << 0;
    QTest::newRow("previous from the start opens the last") << QList<int>{0} << 2;
    QTest::newRow("previous from the first wraps to the last") << QList<int>{4, 0} << 2;
    QTest::newRow("next from the last wraps to the first") << QList<int>{0, 4} << 0;
    QTest::newRow("next steps on") << QList<int>{0, 4, 4} << 1;
    // They step from the entry last opened, not from the selection.
    QTest::newRow("next ignores the selection") << QList<int>{4, 4, 10, 4} << 2;
    QTest::newRow("previous ignores the selection") << QList<int>{4, 12, 0} << 2;
}

void TransportTest::buttonsStepThroughTheListAndWrap()
{
    QFETCH(QList<int>, clicks);
    QFETCH(int, opened);
    Player &core = *player_->core;
    for (const int button : clicks) {
        if (button >= 10)
            QVERIFY(core.SetListIndex(button - 10));
        else
            click(button);
    }

    QCOMPARE(core.ListIndex(), opened);
    VERIFY_PLAYING(opened);
}

void TransportTest::previousAndNextOnAnEmptyListDoNothing()
{
    open(1);
    player_->menuItem(u"mnuDelateAll"_s)->trigger();
    fake_.setState(1, 42);
    click(0);
    click(4);
    VERIFY_PLAYING(1, 42); // the track goes on, where it was
}

void TransportTest::previousAfterDeletionsStepsToTheLastEntry()
{
    Player &core = *player_->core;
    QVERIFY(player_->dropFiles(paths_)); // six entries: 0 1 2 0 1 2
    open(5);
    VERIFY_PLAYING(5);
    for (int i = 5; i >= 2; --i) { // leaves 0 1
        QVERIFY(core.SetListIndex(i));
        QTest::keyClick(player_->list1(), Qt::Key_Delete);
    }
    QCOMPARE(player_->count(), 2);

    // CurrentIndex - 1 = 4 names no entry any more: the step goes to the last one.
    click(0);
    VERIFY_PLAYING(1);
    QCOMPARE(core.ListIndex(), 1);
}

void TransportTest::doubleClickOpensAndPlaysTheEntry()
{
    player_->core->setShowType(1);
    PlaylistBox *list = player_->list1();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, player_->rowCentre(1));
    VERIFY_PLAYING(1);
    const kelpa::TrackInfo track = control().track();
    QCOMPARE(track.lengthSeconds, 200);
    QCOMPARE(track.title, u"T1"_s);
    QCOMPARE(track.artist, u"R1"_s);
    // Always title first, whatever the list's display format.
    player_->tick();
    QCOMPARE(player_->pictDisp()->Text(), u"00:00 T1 - R1"_s);
}

void TransportTest::menuPlayAndDoubleClickNeedASelection()
{
    Player &core = *player_->core;
    QAction *play = player_->menuItem(u"mnuPlay"_s);
    play->trigger();
    QTest::mouseDClick(player_->list1()->viewport(), Qt::LeftButton, {}, QPoint(5, 200));
    QCOMPARE(fake_.openPath(), QByteArray());
    QCOMPARE(fake_.state(), 0);
    click(4); // nothing opened yet: next opens the first
    VERIFY_PLAYING(0);

    QVERIFY(core.SetListIndex(2));
    play->trigger();
    VERIFY_PLAYING(2);

    // The web remote's way: select, then open.
    QVERIFY(!core.SetListIndex(3));
    QVERIFY(!core.SetListIndex(-2));
    QCOMPARE(core.ListIndex(), 2);
    open(0);
    VERIFY_PLAYING(0);
    fake_.setState(1, 42);
    open(-1);
    QCOMPARE(core.ListIndex(), -1);
    VERIFY_PLAYING(0, 42);
}

void TransportTest::enterPlaysTheSelectedEntry_data()
{
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("playing"); // -1: nothing opens
    const Qt::KeyboardModifiers none;
    QTest::newRow("Return") << 2 << int(Qt::Key_Return) << none << 2;
    QTest::newRow("Enter of the keypad")
        << 1 << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier) << 1;
    QTest::newRow("nothing selected") << -1 << int(Qt::Key_Return) << none << -1;
    QTest::newRow("Ctrl+Return is no Enter")
        << 2 << int(Qt::Key_Return) << Qt::KeyboardModifiers(Qt::ControlModifier) << -1;
    QTest::newRow("Space is no Enter") << 2 << int(Qt::Key_Space) << none << -1;
}

void TransportTest::enterPlaysTheSelectedEntry()
{
    QFETCH(int, selected);
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, playing);
    QVERIFY(player_->core->SetListIndex(selected));
    QTest::keyClick(player_->list1(), Qt::Key(key), modifiers);
    if (playing < 0) {
        QCOMPARE(fake_.openPath(), QByteArray());
        QCOMPARE(control().caption(), u"kelpa"_s);
        return;
    }
    VERIFY_PLAYING(playing);
    // Held down, it plays once: the repeats reopen nothing.
    newCalls();
    QKeyEvent repeat(QEvent::KeyPress, key, modifiers, QString(), true);
    QCoreApplication::sendEvent(player_->list1(), &repeat);
    QCOMPARE(newCalls().filter(u"vbmp3_open"_s), QStringList());
}

void TransportTest::pauseTogglesAndPlayResumes()
{
    open(0);
    fake_.setState(1, 42);

    click(2);
    QCOMPARE(fake_.state(), 2);
    QCOMPARE(control().status(), kelpa::PlaybackStatus::Paused);
    click(2);
    QCOMPARE(fake_.state(), 1);
    click(2);

    newCalls();
    click(1);
    QCOMPARE(newCalls().filter(u"vbmp3_play"_s), QStringList()); // resumed, not started over
    VERIFY_PLAYING(0, 42); // neither reopened nor stopped on the way
    // Play while playing is passed on as play.
    click(1);
    QCOMPARE(newCalls().filter(u"vbmp3_play"_s), QStringList{u"vbmp3_play"_s});
    VERIFY_PLAYING(0, 42);
    // Pause leaves the track meant to run: its end closes it.
    click(2);
    QVERIFY(endsAtTheNextTick());

    // Play while paused marks a stopped track as meant to run again.
    open(1);
    click(3);
    fake_.setState(2, 42); // the engine stands paused
    click(1);
    QCOMPARE(fake_.state(), 1);
    QVERIFY(endsAtTheNextTick());
}

void TransportTest::stopKeepsTheFileOpenForTheNextPlay()
{
    open(1);
    fake_.setState(1, 42);

    click(3);
    QCOMPARE(fake_.state(), 0);
    QCOMPARE(control().status(), kelpa::PlaybackStatus::Stopped);
    QCOMPARE(control().position(), 0);
    QCOMPARE(fake_.openPath(), QFile::encodeName(paths_[1]));
    QCOMPARE(control().caption(), u"kelpa"_s);
    QVERIFY(!endsAtTheNextTick()); // stopped: no end to handle, the file stays open
    QCOMPARE(fake_.openPath(), QFile::encodeName(paths_[1]));

    newCalls();
    click(1);
    QVERIFY(newCalls().filter(u"vbmp3_open"_s).isEmpty()); // the file was still open
    QCOMPARE(fake_.state(), 1);
    // Playing again, and the window, the remote's page and the media controls say so.
    VERIFY_PLAYING(1);
    QVERIFY(endsAtTheNextTick());
}

void TransportTest::failedOpenShowsOpenErrorAndKeepsThePlayerState()
{
    open(0);
    fake_.refuseOpen(QFile::encodeName(paths_[1]));

    click(4);
    // Shown, and the click has returned: the box is modal to the user, not to the caller.
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), u"kelpa"_s);
    QCOMPARE(box->text(), u"Open Error"_s);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    // It stands above the settings panel and the QR code, which stay on top of the others.
    QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
    // The track before is stopped and closed; the player holds none.
    QCOMPARE(fake_.state(), 0);
    QCOMPARE(fake_.openPath(), QByteArray());
    QCOMPARE(control().track().path, QByteArray());
    QCOMPARE(control().status(), kelpa::PlaybackStatus::Stopped);
    QCOMPARE(control().caption(), u"kelpa - T0"_s); // until the next tick

    // A second failure while the box is up adds no second box.
    open(1);
    QCOMPARE(player_->boxes(), QStringList{u"Open Error"_s});
    box->button(QMessageBox::Ok)->click();
    QCOMPARE(player_->boxes(), QStringList());

    click(4); // the failed entry counts as opened: next goes on from there
    QCOMPARE(player_->boxes(), QStringList());
    VERIFY_PLAYING(2);
}

void TransportTest::blanksAroundAPathAndEmptyTags()
{
    // A relative name with blanks around it, from a list file; the engine knows it trimmed.
    QVERIFY(writeBytes(dir_.filePath(u" blank.mp3 "_s), "x"));
    fake_.addTrack("blank.mp3", "", "", 0);
    QVERIFY(writeBytes(dir_.filePath(u"list.txt"_s), " blank.mp3 \r\n"));
    QVERIFY(player_->dropFiles({dir_.filePath(u"list.txt"_s)}));
    QCOMPARE(player_->core->ListPath(3), QByteArray(" blank.mp3 "));

    open(3);
    QCOMPARE(fake_.openPath(), QByteArray("blank.mp3"));
    QCOMPARE(fake_.state(), 1);
    QCOMPARE(control().track().path, QByteArray(" blank.mp3 ")); // the entry's own path
    QCOMPARE(control().caption(), u"kelpa - "_s);
    QCOMPARE(control().track().lengthSeconds, 0);
    player_->tick();
    QCOMPARE(player_->pictDisp()->Text(), u"00:00  - "_s);
}

void TransportTest::captionShowsTheTitleExactly_data()
{
    QTest::addColumn<QString>("title");
    QTest::newRow("modified-mark placeholder") << u"Draft [*]"_s;
    QTest::newRow("two placeholders in a row") << u"[*][*]"_s;
    QTest::newRow("ampersands and a placeholder") << u"Rock & Roll [*] && more"_s;
}

void TransportTest::captionShowsTheTitleExactly()
{
    QFETCH(QString, title);
    const QString path = track(u"odd.mp3"_s, title.toUtf8());
    QVERIFY(player_->dropFiles({path}));
    open(3);
    QCOMPARE(control().caption(), u"kelpa - "_s + title); // also the web remote's page title
    // What the desktop shows.
    QCOMPARE(player_->form->windowHandle()->title(), u"kelpa - "_s + title);
}

void TransportTest::deletingThePlayingEntryKeepsItPlaying()
{
    open(1);
    fake_.setState(1, 42);
    QTest::keyClick(player_->list1(), Qt::Key_Delete);
    QCOMPARE(player_->count(), 2);
    VERIFY_PLAYING(1, 42);
}

void TransportTest::unknownCommandsAndTheLoopItem()
{
    open(1);
    fake_.setState(1, 42);
    control().run(static_cast<kelpa::Transport>(5));
    control().run(static_cast<kelpa::Transport>(-1));
    VERIFY_PLAYING(1, 42);

    QAction *loop = player_->menuItem(u"mnuLoop"_s);
    QVERIFY(!loop->isChecked());
    loop->trigger();
    QVERIFY(loop->isChecked());
    loop->trigger();
    QVERIFY(!loop->isChecked());
    VERIFY_PLAYING(1, 42);
}

QTEST_MAIN(TransportTest)
#include "test_transport.moc"
