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
    QStringList openAndPlay(const QString &path) const
    {
        return {u"vbmp3_stop"_s, u"vbmp3_close"_s, u"vbmp3_open "_s + path, u"vbmp3_getState"_s,
                u"vbmp3_play"_s};
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
    seen_ = fake_.log().size();
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

    QCOMPARE(form.PlayState.CurrentIndex, opened);
    QCOMPARE(form.ListIndex(), opened);
    QCOMPARE(form.Caption(), u"kelpa - T%1"_s.arg(opened));
    QCOMPARE(QFile::decodeName(form.Control().track().path), paths_[opened]);
    QCOMPARE(fake_.state(), 1); // playing
    QCOMPARE(form.PlayState.IsPlaying, int16_t{-1});
}

void TransportTest::previousAndNextOnAnEmptyListDoNothing()
{
    Form1 &form = *player_->form;
    player_->menuItem(u"mnuDelateAll"_s)->trigger();
    click(0);
    click(4);
    QCOMPARE(newCalls(), (QStringList{u"vbmp3_getState"_s, u"vbmp3_getState"_s}));
    QCOMPARE(form.PlayState.CurrentIndex, -1);
    QCOMPARE(form.Caption(), u"kelpa"_s);
}

void TransportTest::previousAfterDeletionsStepsToTheLastEntry()
{
    Form1 &form = *player_->form;
    QVERIFY(player_->dropFiles(paths_)); // six entries: 0 1 2 0 1 2
    QVERIFY(form.SetListIndex(5));
    form.List1_DblClick();
    QCOMPARE(form.PlayState.CurrentIndex, 5);
    for (int i = 5; i >= 2; --i) { // leaves 0 1
        QVERIFY(form.SetListIndex(i));
        QTest::keyClick(player_->list1(), Qt::Key_Delete);
    }
    QCOMPARE(form.ListCount(), 2);
    newCalls();

    // CurrentIndex - 1 = 4 names no entry any more: the step goes to the last one.
    click(0);
    QCOMPARE(newCalls(), QStringList{u"vbmp3_getState"_s} + openAndPlay(paths_[1]));
    QCOMPARE(form.PlayState.CurrentIndex, 1);
    QCOMPARE(form.ListIndex(), 1);
}

void TransportTest::doubleClickOpensAndPlaysTheEntry()
{
    Form1 &form = *player_->form;
    PlaylistBox *list = player_->list1();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                       list->visualItemRect(list->item(1)).center());
    QCOMPARE(newCalls(), openAndPlay(paths_[1]));
    QCOMPARE(form.PlayState.CurrentIndex, 1);
    QCOMPARE(form.TrackLength, 200);
    QCOMPARE(form.PlayPosition, 0);
    QCOMPARE(form.TrackTitle, u"T1"_s);
    QCOMPARE(form.TrackArtist, u"R1"_s);
    // Always title first, whatever the list's display format.
    QCOMPARE(form.DispTitle, u"T1 - R1"_s);
    QCOMPARE(form.Caption(), u"kelpa - T1"_s);
    QCOMPARE(form.PlayState.IsPlaying, int16_t{-1});
    QCOMPARE(fake_.state(), 1);
}

void TransportTest::menuPlayAndDoubleClickNeedASelection()
{
    Form1 &form = *player_->form;
    QAction *play = player_->menuItem(u"mnuPlay"_s);
    play->trigger();
    form.List1_DblClick();
    QCOMPARE(newCalls(), QStringList());
    QCOMPARE(form.PlayState.CurrentIndex, -1);

    QVERIFY(form.SetListIndex(2));
    play->trigger();
    QCOMPARE(newCalls(), openAndPlay(paths_[2]));
    QCOMPARE(form.PlayState.CurrentIndex, 2);

    // The web remote's way: select, then open.
    QVERIFY(!form.SetListIndex(3));
    QVERIFY(!form.SetListIndex(-2));
    QCOMPARE(form.ListIndex(), 2);
    QVERIFY(form.SetListIndex(0));
    form.List1_DblClick();
    QCOMPARE(newCalls(), openAndPlay(paths_[0]));
    QVERIFY(form.SetListIndex(-1));
    QCOMPARE(form.ListIndex(), -1);
    form.List1_DblClick();
    QCOMPARE(newCalls(), QStringList());
}

void TransportTest::pauseTogglesAndPlayResumes()
{
    Form1 &form = *player_->form;
    QVERIFY(form.SetListIndex(0));
    form.List1_DblClick();
    newCalls();

    click(2);
    QCOMPARE(newCalls(), (QStringList{u"vbmp3_getState"_s, u"vbmp3_pause"_s}));
    QCOMPARE(form.PlayState.IsPlaying, int16_t{-1}); // pause leaves it
    click(2);
    QCOMPARE(newCalls(), (QStringList{u"vbmp3_getState"_s, u"vbmp3_restart"_s}));
    click(2);
    newCalls();

    // Play while paused resumes, and marks the track as meant to run.
    form.PlayState.IsPlaying = 0;
    click(1);
    QCOMPARE(newCalls(), (QStringList{u"vbmp3_getState"_s, u"vbmp3_restart"_s}));
    QCOMPARE(form.PlayState.IsPlaying, int16_t{-1});
    // Play while playing is passed on as play.
    click(1);
    QCOMPARE(newCalls(), (QStringList{u"vbmp3_getState"_s, u"vbmp3_play"_s}));
}

void TransportTest::stopKeepsTheFileOpenForTheNextPlay()
{
    Form1 &form = *player_->form;
    QVERIFY(form.SetListIndex(1));
    form.List1_DblClick();
    newCalls();

    click(3);
    QCOMPARE(newCalls(), (QStringList{u"vbmp3_getState"_s, u"vbmp3_stop"_s}));
    QCOMPARE(form.Caption(), u"kelpa"_s);
    QCOMPARE(form.PlayState.IsPlaying, int16_t{0});

    click(1);
    QCOMPARE(newCalls(), (QStringList{u"vbmp3_getState"_s, u"vbmp3_play"_s}));
    QCOMPARE(form.PlayState.IsPlaying, int16_t{-1});
    QCOMPARE(fake_.state(), 1); // the file was still open
    // The caption comes back with the next open, not with play.
    QCOMPARE(form.Caption(), u"kelpa"_s);
}

void TransportTest::failedOpenShowsOpenErrorAndKeepsThePlayerState()
{
    Form1 &form = *player_->form;
    QVERIFY(form.SetListIndex(0));
    form.List1_DblClick();
    fake_.refuseOpen(QFile::encodeName(paths_[1]));
    newCalls();

    MessageBoxAnswerer answerer;
    click(4);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].title, u"kelpa"_s);
    QCOMPARE(answerer.seen[0].text, u"Open Error"_s);
    QCOMPARE(answerer.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(newCalls(), (QStringList{u"vbmp3_getState"_s, u"vbmp3_stop"_s, u"vbmp3_close"_s,
                                      u"vbmp3_open "_s + paths_[1]}));
    QCOMPARE(form.PlayState.CurrentIndex, 1); // counts as opened: next goes on from here
    QCOMPARE(form.Caption(), u"kelpa - T0"_s);
    QCOMPARE(form.TrackTitle, u"T0"_s);
    QCOMPARE(form.TrackLength, 100);
    QCOMPARE(form.PlayState.IsPlaying, int16_t{-1});

    click(4);
    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(form.Caption(), u"kelpa - T2"_s);
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
    newCalls();

    QVERIFY(form.SetListIndex(3));
    form.List1_DblClick();
    QCOMPARE(newCalls(), openAndPlay(u"blank.mp3"_s));
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
    QVERIFY(form.SetListIndex(3));
    form.List1_DblClick();
    QCOMPARE(form.Caption(), u"kelpa - "_s + title); // also the web remote's page title
    QCOMPARE(form.windowHandle()->title(), u"kelpa - "_s + title); // what the desktop shows
}

void TransportTest::deletingThePlayingEntryKeepsItPlaying()
{
    Form1 &form = *player_->form;
    QVERIFY(form.SetListIndex(1));
    form.List1_DblClick();
    newCalls();
    QTest::keyClick(player_->list1(), Qt::Key_Delete);
    QCOMPARE(form.ListCount(), 2);
    QCOMPARE(newCalls(), QStringList());
    QCOMPARE(form.PlayState.CurrentIndex, 1);
    QCOMPARE(fake_.state(), 1);
}

void TransportTest::unknownCommandsAndTheLoopItem()
{
    Form1 &form = *player_->form;
    form.Command1_Click(5);
    form.Command1_Click(-1);
    QCOMPARE(newCalls(), QStringList());

    QAction *loop = player_->menuItem(u"mnuLoop"_s);
    QVERIFY(!loop->isChecked());
    loop->trigger();
    QVERIFY(loop->isChecked());
    loop->trigger();
    QVERIFY(!loop->isChecked());
    QCOMPARE(newCalls(), QStringList());
}

QTEST_MAIN(TransportTest)
#include "test_transport.moc"
