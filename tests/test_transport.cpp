// Transport control against the fake engine: the five buttons with their wrap-arounds, open
// and play by double-click and from the menu, pause and resume, stop with the file kept open,
// a failed open, and the loop item.
#include "playerharness.h"
#include "windowwatch.h"

#include <QtTest>

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
        QVERIFY(player_->form->SetListIndex(index));
        player_->form->List1_DblClick();
    }
    // Entry `index` plays from `seconds` on: its file open in the engine, and the window says so.
    void verifyPlaying(int index, int32_t seconds = 0)
    {
        Form1 &form = *player_->form;
        const QString path = paths_[index % paths_.size()];
        QCOMPARE(fake_.state(), 1);
        QCOMPARE(fake_.openPath(), QFile::encodeName(path));
        QCOMPARE(QFile::decodeName(form.Control().track().path), path);
        QCOMPARE(form.Control().position(), seconds);
        QCOMPARE(form.PlayState.CurrentIndex, index);
        QCOMPARE(form.PlayState.IsPlaying, int16_t{-1});
        QCOMPARE(form.Caption(), u"kelpa - T%1"_s.arg(index % paths_.size()));
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
    QCOMPARE(player_->form->ListCount(), 3);
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
    Form1 &form = *player_->form;
    QCOMPARE(form.PlayState.CurrentIndex, -1);
    for (const int button : clicks) {
        if (button >= 10)
            QVERIFY(form.SetListIndex(button - 10));
        else
            click(button);
    }

    QCOMPARE(form.ListIndex(), opened);
    verifyPlaying(opened);
}

void TransportTest::previousAndNextOnAnEmptyListDoNothing()
{
    open(1);
    player_->menuItem(u"mnuDelateAll"_s)->trigger();
    fake_.setState(1, 42);
    click(0);
    click(4);
    verifyPlaying(1, 42); // the track goes on, where it was
}

void TransportTest::previousAfterDeletionsStepsToTheLastEntry()
{
    Form1 &form = *player_->form;
    QVERIFY(player_->dropFiles(paths_)); // six entries: 0 1 2 0 1 2
    open(5);
    verifyPlaying(5);
    for (int i = 5; i >= 2; --i) { // leaves 0 1
        QVERIFY(form.SetListIndex(i));
        QTest::keyClick(player_->list1(), Qt::Key_Delete);
    }
    QCOMPARE(form.ListCount(), 2);

    // CurrentIndex - 1 = 4 names no entry any more: the step goes to the last one.
    click(0);
    verifyPlaying(1);
    QCOMPARE(form.ListIndex(), 1);
}

void TransportTest::doubleClickOpensAndPlaysTheEntry()
{
    Form1 &form = *player_->form;
    PlaylistBox *list = player_->list1();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualItemRect(list->item(1)).center());
    verifyPlaying(1);
    QCOMPARE(form.TrackLength, 200);
    QCOMPARE(form.PlayPosition, 0);
    QCOMPARE(form.TrackTitle, u"T1"_s);
    QCOMPARE(form.TrackArtist, u"R1"_s);
    // Always title first, whatever the list's display format.
    QCOMPARE(form.DispTitle, u"T1 - R1"_s);
}

void TransportTest::menuPlayAndDoubleClickNeedASelection()
{
    Form1 &form = *player_->form;
    QAction *play = player_->menuItem(u"mnuPlay"_s);
    play->trigger();
    form.List1_DblClick();
    QCOMPARE(fake_.openPath(), QByteArray());
    QCOMPARE(fake_.state(), 0);
    QCOMPARE(form.PlayState.CurrentIndex, -1);

    QVERIFY(form.SetListIndex(2));
    play->trigger();
    verifyPlaying(2);

    // The web remote's way: select, then open.
    QVERIFY(!form.SetListIndex(3));
    QVERIFY(!form.SetListIndex(-2));
    QCOMPARE(form.ListIndex(), 2);
    open(0);
    verifyPlaying(0);
    fake_.setState(1, 42);
    open(-1);
    QCOMPARE(form.ListIndex(), -1);
    verifyPlaying(0, 42);
}

void TransportTest::pauseTogglesAndPlayResumes()
{
    Form1 &form = *player_->form;
    open(0);
    fake_.setState(1, 42);

    click(2);
    QCOMPARE(fake_.state(), 2);
    QCOMPARE(form.PlayState.IsPlaying, int16_t{-1}); // pause leaves it
    click(2);
    QCOMPARE(fake_.state(), 1);
    click(2);

    // Play while paused resumes, and marks the track as meant to run.
    form.PlayState.IsPlaying = 0;
    newCalls();
    click(1);
    QCOMPARE(newCalls().filter(u"vbmp3_play"_s), QStringList()); // resumed, not started over
    verifyPlaying(0, 42); // neither reopened nor stopped on the way
    // Play while playing is passed on as play.
    click(1);
    QCOMPARE(newCalls().filter(u"vbmp3_play"_s), QStringList{u"vbmp3_play"_s});
    verifyPlaying(0, 42);
}

void TransportTest::stopKeepsTheFileOpenForTheNextPlay()
{
    Form1 &form = *player_->form;
    open(1);
    fake_.setState(1, 42);

    click(3);
    QCOMPARE(fake_.state(), 0);
    QCOMPARE(form.Control().position(), 0);
    QCOMPARE(fake_.openPath(), QFile::encodeName(paths_[1]));
    QCOMPARE(form.Caption(), u"kelpa"_s);
    QCOMPARE(form.PlayState.IsPlaying, int16_t{0});

    newCalls();
    click(1);
    QVERIFY(newCalls().filter(u"vbmp3_open"_s).isEmpty()); // the file was still open
    QCOMPARE(fake_.state(), 1);
    QCOMPARE(form.PlayState.IsPlaying, int16_t{-1});
    // The caption comes back with the next open, not with play.
    QCOMPARE(form.Caption(), u"kelpa"_s);
}

void TransportTest::failedOpenShowsOpenErrorAndKeepsThePlayerState()
{
    Form1 &form = *player_->form;
    open(0);
    fake_.refuseOpen(QFile::encodeName(paths_[1]));

    MessageBoxAnswerer answerer;
    click(4);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, u"kelpa"_s);
    QCOMPARE(answerer.seen[0].text, u"Open Error"_s);
    QCOMPARE(answerer.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // The track before is stopped and closed; the player holds none.
    QCOMPARE(fake_.state(), 0);
    QCOMPARE(fake_.openPath(), QByteArray());
    QCOMPARE(form.Control().track().path, QByteArray());
    QCOMPARE(form.PlayState.CurrentIndex, 1); // counts as opened: next goes on from here
    QCOMPARE(form.Caption(), u"kelpa - T0"_s);
    QCOMPARE(form.TrackTitle, u"T0"_s);
    QCOMPARE(form.TrackLength, 100);
    QCOMPARE(form.PlayState.IsPlaying, int16_t{-1});

    click(4);
    QCOMPARE(answerer.seen.size(), 1);
    verifyPlaying(2);
}

void TransportTest::blanksAroundAPathAndEmptyTags()
{
    Form1 &form = *player_->form;
    // A relative name with blanks around it, from a list file; the engine knows it trimmed.
    QVERIFY(writeBytes(dir_.filePath(u" blank.mp3 "_s), "x"));
    fake_.addTrack("blank.mp3", "", "", 0);
    QVERIFY(writeBytes(dir_.filePath(u"list.txt"_s), " blank.mp3 \r\n"));
    QVERIFY(player_->dropFiles({dir_.filePath(u"list.txt"_s)}));
    QCOMPARE(form.ListPath(3), QByteArray(" blank.mp3 "));

    open(3);
    QCOMPARE(fake_.openPath(), QByteArray("blank.mp3"));
    QCOMPARE(fake_.state(), 1);
    QCOMPARE(form.Control().track().path, QByteArray(" blank.mp3 ")); // the entry's own path
    QCOMPARE(form.Caption(), u"kelpa - "_s);
    QCOMPARE(form.DispTitle, u" - "_s);
    QCOMPARE(form.TrackLength, 0);
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
    Form1 &form = *player_->form;
    const QString path = track(u"odd.mp3"_s, title.toUtf8());
    QVERIFY(player_->dropFiles({path}));
    open(3);
    QCOMPARE(form.Caption(), u"kelpa - "_s + title); // also the web remote's page title
    QCOMPARE(form.windowHandle()->title(), u"kelpa - "_s + title); // what the desktop shows
}

void TransportTest::deletingThePlayingEntryKeepsItPlaying()
{
    open(1);
    fake_.setState(1, 42);
    QTest::keyClick(player_->list1(), Qt::Key_Delete);
    QCOMPARE(player_->form->ListCount(), 2);
    verifyPlaying(1, 42);
}

void TransportTest::unknownCommandsAndTheLoopItem()
{
    open(1);
    fake_.setState(1, 42);
    player_->form->Command1_Click(5);
    player_->form->Command1_Click(-1);
    verifyPlaying(1, 42);

    QAction *loop = player_->menuItem(u"mnuLoop"_s);
    QVERIFY(!loop->isChecked());
    loop->trigger();
    QVERIFY(loop->isChecked());
    loop->trigger();
    QVERIFY(!loop->isChecked());
    verifyPlaying(1, 42);
}

QTEST_MAIN(TransportTest)
#include "test_transport.moc"
