// The player as the remotes drive it, through kelpa::PlayerControl on a real player window
// against the fake engine: what each command leaves on screen and in the interface's answers,
// and which changes it announces. The rules' table runs against the fake player of the
// remotes' tests as well, so that the fake keeps to the real player's rules.
#include "fakeplayercontrol.h"
#include "playerharness.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QtTest>

#include <cstdio>

using kelpa::PlaybackStatus;

Q_DECLARE_METATYPE(PlaybackStatus)

class PlayerControlTest : public QObject, private FakeTracks {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void commandsShowOnThePlayer_data();
    void commandsShowOnThePlayer();
    void volumeSteps_data();
    void volumeSteps();
    void addedFilesPlayWhenNothingElseDoes_data();
    void addedFilesPlayWhenNothingElseDoes();
    void loopFollowsTheMenuItem();
    void volumeWhereTheEngineHasIt_data();
    void volumeWhereTheEngineHasIt();
    void raiseBringsBackAMinimizedWindow();

private:
    kelpa::PlayerControl &control() const { return player_->control(); }
    // Runs one step on a player: "entry N", "seek N", "loop on", "PlayPause", "gone N" (the
    // file of entry N no longer opens), a transport command by name, and, on the real player
    // only, "end" (the engine finishes the track and the monitor ticks) and "delete N".
    void step(kelpa::PlayerControl &player, const QString &action);
    void check(kelpa::PlayerControl &player, const QStringList &steps, PlaybackStatus status,
               const QString &caption, int trackIndex, int position, const QStringList &announced,
               int entry);
    // The fake player with the same three tracks.
    void loadFake(FakePlayerControl &fake) const;

    std::unique_ptr<PlayerHarness> player_;
    QStringList paths_;
};

void PlayerControlTest::initTestCase()
{
    QVERIFY(dir_.isValid());
}

void PlayerControlTest::init()
{
    player_.reset();
    fake_.reset();
    paths_ = {track(u"0.mp3"_s, "T0", "R0", 100), track(u"1.mp3"_s, "T1", "R1", 200),
              track(u"2.mp3"_s, "T2", "R2", 300)};
    player_ = std::make_unique<PlayerHarness>();
    QVERIFY(player_->started);
}

void PlayerControlTest::loadFake(FakePlayerControl &fake) const
{
    for (int i = 0; i < paths_.size(); ++i) {
        const QByteArray path = QFile::encodeName(paths_[i]);
        fake.paths.append(path);
        fake.tags.insert(path, {path, u"T%1"_s.arg(i), u"R%1"_s.arg(i), 100 * (i + 1)});
    }
}

void PlayerControlTest::step(kelpa::PlayerControl &player, const QString &action)
{
    const QStringList words = action.split(u' ');
    const int number = words.value(1).toInt();
    static const QMap<QString, kelpa::Transport> transport{
        {u"Previous"_s, kelpa::Transport::Previous},
        {u"Play"_s, kelpa::Transport::Play},
        {u"Pause"_s, kelpa::Transport::Pause},
        {u"Stop"_s, kelpa::Transport::Stop},
        {u"Next"_s, kelpa::Transport::Next}};
    if (words[0] == u"entry"_s) {
        player.playEntry(number);
    } else if (words[0] == u"seek"_s) {
        player.seek(number);
    } else if (words[0] == u"loop"_s) {
        player.setLoop(words[1] == u"on"_s);
    } else if (words[0] == u"PlayPause"_s) {
        player.playPause();
    } else if (words[0] == u"end"_s) {
        fake_.setState(0, 0);
        player_->tick();
    } else if (words[0] == u"gone"_s) {
        const QByteArray path = QFile::encodeName(paths_[number]);
        if (auto *fake = dynamic_cast<FakePlayerControl *>(&player))
            fake->gone.insert(path);
        else
            fake_.refuseOpen(path);
    } else if (words[0] == u"delete"_s) {
        player_->core->DeleteEntry(number);
    } else {
        QVERIFY2(transport.contains(words[0]), qPrintable(action));
        player.run(transport[words[0]]);
    }
}

void PlayerControlTest::commandsShowOnThePlayer_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<PlaybackStatus>("status");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("trackIndex"); // -1: no track open
    QTest::addColumn<int>("position");
    QTest::addColumn<QStringList>("announced"); // by the last step
    QTest::addColumn<int>("entry");             // currentEntry()

    const QStringList opened{u"statusChanged"_s, u"trackChanged"_s};
    const QStringList status{u"statusChanged"_s};
    QTest::newRow("entry opens and plays") << QStringList{u"entry 1"_s} << PlaybackStatus::Playing
                                           << u"kelpa - T1"_s << 1 << 0 << opened << 1;
    QTest::newRow("next from the start") << QStringList{u"Next"_s} << PlaybackStatus::Playing
                                         << u"kelpa - T0"_s << 0 << 0 << opened << 0;
    QTest::newRow("previous wraps to the last")
        << QStringList{u"entry 0"_s, u"Previous"_s} << PlaybackStatus::Playing << u"kelpa - T2"_s
        << 2 << 0 << opened << 2;
    QTest::newRow("pause") << QStringList{u"entry 0"_s, u"Pause"_s} << PlaybackStatus::Paused
                           << u"kelpa - T0"_s << 0 << 0 << status << 0;
    QTest::newRow("play resumes") << QStringList{u"entry 0"_s, u"Pause"_s, u"Play"_s}
                                  << PlaybackStatus::Playing << u"kelpa - T0"_s << 0 << 0 << status
                                  << 0;
    QTest::newRow("stop keeps the track open")
        << QStringList{u"entry 0"_s, u"Stop"_s} << PlaybackStatus::Stopped << u"kelpa"_s << 0 << 0
        << status << 0;
    QTest::newRow("seek") << QStringList{u"entry 2"_s, u"seek 42"_s} << PlaybackStatus::Playing
                          << u"kelpa - T2"_s << 2 << 42 << QStringList{u"seeked 42"_s} << 2;
    QTest::newRow("seek paused") << QStringList{u"entry 2"_s, u"Pause"_s, u"seek 7"_s}
                                 << PlaybackStatus::Paused << u"kelpa - T2"_s << 2 << 7
                                 << QStringList{u"seeked 7"_s} << 2;
    QTest::newRow("seek past the end stops at the length")
        << QStringList{u"entry 0"_s, u"seek 500"_s} << PlaybackStatus::Playing << u"kelpa - T0"_s
        << 0 << 100 << QStringList{u"seeked 100"_s} << 0;
    QTest::newRow("seek while stopped is ignored")
        << QStringList{u"entry 0"_s, u"Stop"_s, u"seek 30"_s} << PlaybackStatus::Stopped
        << u"kelpa"_s << 0 << 0 << QStringList{} << 0;
    QTest::newRow("track end closes it")
        << QStringList{u"entry 1"_s, u"end"_s} << PlaybackStatus::Stopped << u"kelpa"_s << -1 << 0
        << opened << -1;
    QTest::newRow("track end with loop plays the next")
        << QStringList{u"loop on"_s, u"entry 2"_s, u"end"_s} << PlaybackStatus::Playing
        << u"kelpa - T0"_s << 0 << 0 << opened << 0;
    QTest::newRow("entry -1 plays nothing") << QStringList{u"entry -1"_s} << PlaybackStatus::Stopped
                                            << u"kelpa"_s << -1 << 0 << QStringList{} << -1;
    QTest::newRow("entry past the end plays nothing")
        << QStringList{u"entry 1"_s, u"entry 3"_s} << PlaybackStatus::Playing << u"kelpa - T1"_s
        << 1 << 0 << QStringList{} << 1;
    // The remotes' play/pause button.
    QTest::newRow("play/pause with nothing opened plays the first entry")
        << QStringList{u"PlayPause"_s} << PlaybackStatus::Playing << u"kelpa - T0"_s << 0 << 0
        << opened << 0;
    QTest::newRow("play/pause pauses")
        << QStringList{u"entry 1"_s, u"PlayPause"_s} << PlaybackStatus::Paused << u"kelpa - T1"_s
        << 1 << 0 << status << 1;
    QTest::newRow("play/pause resumes")
        << QStringList{u"entry 1"_s, u"Pause"_s, u"PlayPause"_s} << PlaybackStatus::Playing
        << u"kelpa - T1"_s << 1 << 0 << status << 1;
    QTest::newRow("play/pause after a stop plays the open track")
        << QStringList{u"entry 1"_s, u"Stop"_s, u"PlayPause"_s} << PlaybackStatus::Playing
        << u"kelpa - T1"_s << 1 << 0 << status << 1;
    QTest::newRow("pause with nothing open changes nothing")
        << QStringList{u"Pause"_s} << PlaybackStatus::Stopped << u"kelpa"_s << -1 << 0 << status
        << -1;
    QTest::newRow("play with nothing open plays nothing")
        << QStringList{u"Play"_s} << PlaybackStatus::Stopped << u"kelpa"_s << -1 << 0 << status
        << -1;
    // The open track's entry follows deletions; its track plays on.
    QTest::newRow("an entry before the open one goes")
        << QStringList{u"entry 2"_s, u"delete 0"_s} << PlaybackStatus::Playing << u"kelpa - T2"_s
        << 2 << 0 << QStringList{} << 1;
    QTest::newRow("the open entry goes")
        << QStringList{u"entry 1"_s, u"delete 1"_s} << PlaybackStatus::Playing << u"kelpa - T1"_s
        << 1 << 0 << QStringList{} << -1;
    // A file that no longer opens is announced with its path.
    QTest::newRow("an entry whose file is gone")
        << QStringList{u"gone 1"_s, u"entry 1"_s} << PlaybackStatus::Stopped << u"kelpa"_s << -1
        << 0 << QStringList{u"openFailed 1.mp3"_s} << -1;
}

void PlayerControlTest::commandsShowOnThePlayer()
{
    QFETCH(QStringList, steps);
    QFETCH(PlaybackStatus, status);
    QFETCH(QString, caption);
    QFETCH(int, trackIndex);
    QFETCH(int, position);
    QFETCH(QStringList, announced);
    QFETCH(int, entry);
    QVERIFY(player_->dropFiles(paths_));
    FakePlayerControl fake;
    loadFake(fake);
    const QString all = steps.join(u' ');
    const bool realOnly = all.contains(u"end"_s) || all.contains(u"delete"_s);
    for (kelpa::PlayerControl *player : {&control(), static_cast<kelpa::PlayerControl *>(&fake)}) {
        if (player == &fake && realOnly)
            break;
        check(*player, steps, status, caption, trackIndex, position, announced, entry);
        if (QTest::currentTestFailed()) {
            qWarning("on the %s player", player == &fake ? "fake" : "real");
            return;
        }
    }
    QCOMPARE(player_->form->windowTitle(), caption);
}

void PlayerControlTest::check(kelpa::PlayerControl &player, const QStringList &steps,
                              PlaybackStatus status, const QString &caption, int trackIndex,
                              int position, const QStringList &announced, int entry)
{
    const quint64 revision = player.playlistRevision();
    for (const QString &action : steps.first(steps.size() - 1))
        step(player, action);
    QStringList heard;
    const auto listen = [&](auto signal, const QString &name) {
        connect(&player, signal, this, [&heard, name] { heard.append(name); });
    };
    listen(&kelpa::PlayerControl::statusChanged, u"statusChanged"_s);
    listen(&kelpa::PlayerControl::trackChanged, u"trackChanged"_s);
    listen(&kelpa::PlayerControl::loopChanged, u"loopChanged"_s);
    connect(&player, &kelpa::PlayerControl::seeked, this,
            [&heard](int32_t seconds) { heard.append(u"seeked %1"_s.arg(seconds)); });
    connect(&player, &kelpa::PlayerControl::openFailed, this, [&heard](const QByteArray &path) {
        heard.append(u"openFailed "_s + QFileInfo(QFile::decodeName(path)).fileName());
    });
    step(player, steps.last());
    disconnect(&player, nullptr, this, nullptr);

    QCOMPARE(player.status(), status);
    QCOMPARE(player.caption(), caption);
    QCOMPARE(player.position(), position);
    QCOMPARE(player.currentEntry(), entry);
    // An entry's length is known once its track has been opened.
    QCOMPARE(player.entryLength(entry), entry < 0 ? -1 : 100 * (trackIndex + 1));
    QCOMPARE(player.playlistRevision() != revision, steps.join(u' ').contains(u"delete"_s));
    const kelpa::TrackInfo track = player.track();
    if (trackIndex < 0) {
        QVERIFY(track.path.isEmpty() && track.title.isEmpty());
    } else {
        QCOMPARE(QFile::decodeName(track.path), paths_[trackIndex]);
        QCOMPARE(track.title, u"T%1"_s.arg(trackIndex));
        QCOMPARE(track.artist, u"R%1"_s.arg(trackIndex));
        QCOMPARE(track.lengthSeconds, 100 * (trackIndex + 1));
    }
    heard.removeDuplicates();
    heard.sort();
    QCOMPARE(heard, announced);
}

void PlayerControlTest::addedFilesPlayWhenNothingElseDoes_data()
{
    QTest::addColumn<bool>("playingBefore");
    QTest::addColumn<QStringList>("files"); // names in the test folder; "list" is a list file
    QTest::addColumn<int>("added");
    QTest::addColumn<QString>("caption");

    QTest::newRow("tracks, nothing playing")
        << false << QStringList{u"1.mp3"_s, u"2.mp3"_s} << 2 << u"kelpa - T1"_s;
    QTest::newRow("tracks, one already playing")
        << true << QStringList{u"1.mp3"_s, u"2.mp3"_s} << 2 << u"kelpa - T0"_s;
    QTest::newRow("a list file") << false << QStringList{u"list"_s} << 2 << u"kelpa - T2"_s;
    QTest::newRow("nothing playable") << false << QStringList{u"missing.mp3"_s} << 0 << u"kelpa"_s;
    QTest::newRow("a name that is not UTF-8")
        << false << QStringList{u"latin1"_s} << 1 << u"kelpa - Caf\u00e9"_s;
}

void PlayerControlTest::addedFilesPlayWhenNothingElseDoes()
{
    QFETCH(bool, playingBefore);
    QFETCH(QStringList, files);
    QFETCH(int, added);
    QFETCH(QString, caption);
    QVERIFY(writeBytes(dir_.filePath(u"list"_s),
                       QFile::encodeName(paths_[2]) + "\n" + QFile::encodeName(paths_[1]) + "\n"));
    const QByteArray latin1 = QFile::encodeName(dir_.path()) + "/caf\xe9.mp3";
    std::FILE *named = std::fopen(latin1.constData(), "w"); // QString cannot hold the name
    QVERIFY(named);
    std::fclose(named);
    // The temporary folder cannot remove a name that is not UTF-8 itself.
    const auto removeLatin1 = qScopeGuard([&latin1] { std::remove(latin1.constData()); });
    fake_.addTrack(latin1, "Caf\xc3\xa9", "R", 60);
    if (playingBefore) {
        QVERIFY(player_->addFiles({QFile::encodeName(paths_[0])}));
        QCOMPARE(control().entryCount(), 1);
        QCOMPARE(control().status(), PlaybackStatus::Playing);
    }
    const int before = control().entryCount();

    QList<QByteArray> names;
    for (const QString &name : files)
        names.append(name == u"latin1"_s ? latin1 : QFile::encodeName(dir_.filePath(name)));
    QVERIFY(player_->addFiles(names));

    QCOMPARE(control().entryCount(), before + added);
    QCOMPARE(control().caption(), caption);
    if (files == QStringList{u"latin1"_s})
        QCOMPARE(control().track().path, latin1);
}

void PlayerControlTest::loopFollowsTheMenuItem()
{
    QAction *item = player_->menuItem(u"mnuLoop"_s);
    QSignalSpy changed(&control(), &kelpa::PlayerControl::loopChanged);
    const struct {
        std::function<void()> act;
        bool on;
        qsizetype announced;
    } steps[] = {
        {[&] { control().setLoop(true); }, true, 1},
        {[&] { control().setLoop(true); }, true, 1}, // no change, nothing to tell
        {[&] { item->trigger(); }, false, 2},        // the user's click on the item
        {[&] { item->trigger(); }, true, 3},
        {[&] { control().setLoop(false); }, false, 4},
    };
    for (const auto &s : steps) {
        s.act();
        QCOMPARE(control().loop(), s.on);
        QCOMPARE(item->isChecked(), s.on);
        QCOMPARE(changed.size(), s.announced);
    }
}

void PlayerControlTest::volumeWhereTheEngineHasIt_data()
{
    QTest::addColumn<QString>("engineDir");
    QTest::addColumn<QList<int>>("levels"); // set one after the other
    QTest::addColumn<int>("shown");
    QTest::addColumn<QList<int>>("announced");
    const QString full = FakeEngine::completeDir();
    QTest::newRow("full at start") << full << QList<int>{} << 100 << QList<int>{};
    QTest::newRow("set") << full << QList<int>{40} << 40 << QList<int>{40};
    QTest::newRow("clamped above") << full << QList<int>{40, 250} << 100 << QList<int>{40, 100};
    QTest::newRow("clamped below") << full << QList<int>{-5} << 0 << QList<int>{0};
    QTest::newRow("the same level again is no change")
        << full << QList<int>{40, 40, 100} << 100 << QList<int>{40, 100};
    QTest::newRow("an engine without volume control")
        << FakeEngine::noVolumeDir() << QList<int>{40} << -1 << QList<int>{};
}

void PlayerControlTest::volumeWhereTheEngineHasIt()
{
    QFETCH(QString, engineDir);
    QFETCH(QList<int>, levels);
    QFETCH(int, shown);
    QFETCH(QList<int>, announced);
    player_.reset();
    FakeEngine engine(engineDir);
    engine.reset();
    for (int i = 0; i < paths_.size(); ++i)
        engine.addTrack(QFile::encodeName(paths_[i]), "T" + QByteArray::number(i), "R", 100);
    player_ = std::make_unique<PlayerHarness>(engineDir);
    QVERIFY(player_->started);
    QList<int> heard;
    connect(&control(), &kelpa::PlayerControl::volumeChanged, this,
            [&heard](int percent) { heard.append(percent); });
    for (const int level : levels)
        control().setVolume(level);
    QCOMPARE(control().volume(), shown);
    QCOMPARE(heard, announced);
    // Volume or not, the player plays as before.
    QVERIFY(player_->dropFiles(paths_));
    control().playEntry(1);
    QCOMPARE(control().status(), PlaybackStatus::Playing);
    QCOMPARE(control().caption(), u"kelpa - T1"_s);
    QCOMPARE(control().volume(), shown);
}

void PlayerControlTest::volumeSteps_data()
{
    QTest::addColumn<QStringList>("steps"); // "up", "down", "mute", "set N", from 100
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("muted");
    QTest::newRow("down a step") << QStringList{u"down"_s} << 90 << false;
    QTest::newRow("up stops at 100") << QStringList{u"up"_s} << 100 << false;
    QTest::newRow("mute") << QStringList{u"down"_s, u"mute"_s} << 0 << true;
    QTest::newRow("mute again gives the level back")
        << QStringList{u"down"_s, u"mute"_s, u"mute"_s} << 90 << false;
    QTest::newRow("up while muted gives the level back")
        << QStringList{u"down"_s, u"mute"_s, u"up"_s} << 90 << false;
    QTest::newRow("down while muted stays muted") << QStringList{u"mute"_s, u"down"_s} << 0 << true;
    QTest::newRow("a level set ends the mute")
        << QStringList{u"mute"_s, u"set 30"_s} << 30 << false;
}

void PlayerControlTest::volumeSteps()
{
    QFETCH(QStringList, steps);
    QFETCH(int, level);
    QFETCH(bool, muted);
    FakePlayerControl fake;
    for (kelpa::PlayerControl *player : {&control(), static_cast<kelpa::PlayerControl *>(&fake)}) {
        player->setVolume(100);
        for (const QString &action : steps) {
            if (action == u"up"_s)
                player->volumeUp();
            else if (action == u"down"_s)
                player->volumeDown();
            else if (action == u"mute"_s)
                player->toggleMute();
            else
                player->setVolume(action.mid(4).toInt());
        }
        QCOMPARE(player->volume(), level);
        QCOMPARE(player->muted(), muted);
    }
}

void PlayerControlTest::raiseBringsBackAMinimizedWindow()
{
    Form1 &form = *player_->form;
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    control().raise();
    QTRY_VERIFY(!form.isMinimized());
    QVERIFY(form.isVisible());
}

QTEST_MAIN(PlayerControlTest)
#include "test_playercontrol.moc"
