// The desktop's media controls, as real clients see them on a private session bus: playerctl
// for what it offers, gdbus for the rest. The player behind is a double whose playlist steps
// and wraps as the window's buttons do.
#include "fakeplayercontrol.h"
#include "mpris/mprisservice.h"

#include <QDBusConnection>
#include <QProcess>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestMpris : public QObject {
    Q_OBJECT

    QProcess bus_;
    QString address_;
    std::unique_ptr<FakePlayerControl> player_;
    std::unique_ptr<kelpa::MprisService> service_;

    // Runs a client against the private bus, serving the bus meanwhile; its output, trimmed.
    QString client(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address_);
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        if (!process.waitForStarted())
            return u"<no %1>"_s.arg(program);
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000))
            return u"<%1 hangs>"_s.arg(program);
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    QString playerctl(const QStringList &arguments)
    {
        return client(u"playerctl"_s, QStringList{u"--player=kelpa"_s} + arguments);
    }
    QString rootCall(const QString &method)
    {
        return client(u"gdbus"_s,
                      {u"call"_s, u"--session"_s, u"--dest"_s, u"org.mpris.MediaPlayer2.kelpa"_s,
                       u"--object-path"_s, u"/org/mpris/MediaPlayer2"_s, u"--method"_s,
                       u"org.mpris.MediaPlayer2."_s + method});
    }

private slots:
    void initTestCase()
    {
        bus_.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address"_s});
        QVERIFY2(bus_.waitForReadyRead(10000), "dbus-daemon did not start");
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
    }
    void cleanupTestCase()
    {
        bus_.terminate();
        bus_.waitForFinished();
    }

    void init()
    {
        service_.reset();
        QDBusConnection::disconnectFromBus(u"kelpa-test"_s);
        player_ = std::make_unique<FakePlayerControl>();
        player_->paths = {"/m/1.mp3", "/m/2 two.mp3", "/m/3\xff.mp3"};
        player_->tags.insert("/m/2 two.mp3", {{}, u"夜明けの歌"_s, u"山田花子"_s, 245});
        service_ = std::make_unique<kelpa::MprisService>(*player_);
        QVERIFY(service_->start(QDBusConnection::connectToBus(address_, u"kelpa-test"_s)));
    }

    void transportAsTheButtons_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("url");
        const QString first = u"file:///m/1.mp3"_s, last = u"file:///m/3%FF.mp3"_s;
        QTest::newRow("next from the start plays the first")
            << QStringList{u"next"_s} << u"Playing"_s << first;
        QTest::newRow("previous from the start plays the last")
            << QStringList{u"previous"_s} << u"Playing"_s << last;
        QTest::newRow("next from the last wraps to the first")
            << QStringList{u"previous"_s, u"next"_s} << u"Playing"_s << first;
        QTest::newRow("previous from the first wraps to the last")
            << QStringList{u"next"_s, u"previous"_s} << u"Playing"_s << last;
        QTest::newRow("pause") << QStringList{u"next"_s, u"pause"_s} << u"Paused"_s << first;
        QTest::newRow("pause again stays paused")
            << QStringList{u"next"_s, u"pause"_s, u"pause"_s} << u"Paused"_s << first;
        QTest::newRow("play resumes")
            << QStringList{u"next"_s, u"pause"_s, u"play"_s} << u"Playing"_s << first;
        QTest::newRow("play while playing goes on")
            << QStringList{u"next"_s, u"play"_s} << u"Playing"_s << first;
        QTest::newRow("play-pause pauses")
            << QStringList{u"next"_s, u"play-pause"_s} << u"Paused"_s << first;
        QTest::newRow("play-pause resumes")
            << QStringList{u"next"_s, u"play-pause"_s, u"play-pause"_s} << u"Playing"_s << first;
        QTest::newRow("stop") << QStringList{u"next"_s, u"stop"_s} << u"Stopped"_s << first;
    }
    void transportAsTheButtons()
    {
        QFETCH(QStringList, commands);
        for (const QString &command : commands)
            playerctl({command});
        QTEST(playerctl({u"status"_s}), "status");
        QTEST(playerctl({u"metadata"_s, u"xesam:url"_s}), "url");
    }

    void metadataOfAJapaneseTitle()
    {
        QCOMPARE(playerctl({u"metadata"_s, u"mpris:trackid"_s}),
                 u"'/org/mpris/MediaPlayer2/TrackList/NoTrack'"_s);
        player_->playEntry(1);
        QCOMPARE(playerctl({u"metadata"_s, u"--format"_s,
                            u"{{title}}|{{artist}}|{{mpris:length}}|{{xesam:url}}"_s}),
                 u"夜明けの歌|山田花子|245000000|file:///m/2%20two.mp3"_s);
        const QString firstId = playerctl({u"metadata"_s, u"mpris:trackid"_s});
        player_->playEntry(0);
        const QString secondId = playerctl({u"metadata"_s, u"mpris:trackid"_s});
        QVERIFY2(firstId.startsWith(u"'/"_s) && secondId.startsWith(u"'/"_s) && firstId != secondId,
                 qPrintable(firstId + u' ' + secondId));
    }

    void positionAfterASeek()
    {
        player_->playEntry(1);
        playerctl({u"position"_s, u"42"_s});
        // playerctl adds the time gone by since it asked, while the track plays.
        QCOMPARE(qRound(playerctl({u"position"_s}).toDouble()), 42);
        playerctl({u"position"_s, u"10+"_s});
        QCOMPARE(player_->seconds, 52);
        playerctl({u"position"_s, u"60-"_s});
        QCOMPARE(player_->seconds, 0);
        // Past the end is the next track.
        playerctl({u"position"_s, u"300+"_s});
        QCOMPARE(player_->current, 2);
    }

    void loopStatusBothWays()
    {
        playerctl({u"loop"_s, u"Playlist"_s});
        QVERIFY(player_->loopOn);
        QCOMPARE(playerctl({u"loop"_s}), u"Playlist"_s);
        playerctl({u"loop"_s, u"Track"_s});
        QVERIFY(player_->loopOn);
        player_->setLoop(false);
        QCOMPARE(playerctl({u"loop"_s}), u"None"_s);
    }

    // Clients that follow the player hear of changes made in its window.
    void changesAreAnnounced()
    {
        QProcess follow;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address_);
        follow.setProcessEnvironment(env);
        follow.start(u"playerctl"_s, {u"--player=kelpa"_s, u"--follow"_s, u"metadata"_s,
                                      u"--format"_s, u"{{status}} {{title}} {{loop}}"_s});
        QString seen;
        const auto waitFor = [&](const QString &line) {
            return QTest::qWaitFor(
                [&] {
                    seen += QString::fromUtf8(follow.readAllStandardOutput());
                    return seen.contains(line);
                },
                10000);
        };
        QVERIFY2(waitFor(u"Stopped  None"_s), qPrintable(seen));
        player_->playEntry(1);
        QVERIFY2(waitFor(u"Playing 夜明けの歌 None"_s), qPrintable(seen));
        player_->run(kelpa::Transport::Pause);
        QVERIFY2(waitFor(u"Paused 夜明けの歌 None"_s), qPrintable(seen));
        player_->setLoop(true);
        QVERIFY2(waitFor(u"Paused 夜明けの歌 Playlist"_s), qPrintable(seen));
        follow.kill();
        follow.waitForFinished();
    }

    void volumeBothWays_data()
    {
        QTest::addColumn<int>("start"); // the player's level; -1 without volume control
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<int>("level"); // the player's level after the command
        QTest::addColumn<QString>("shown");
        const QStringList set = {u"playerctl"_s, u"volume"_s};
        QTest::newRow("playerctl sets half")
            << 100 << set + QStringList{u"0.5"_s} << 50 << u"0.5"_s;
        QTest::newRow("playerctl steps down")
            << 100 << set + QStringList{u"0.1-"_s} << 90 << u"0.9"_s;
        QTest::newRow("playerctl rounds to a percent")
            << 100 << set + QStringList{u"0.333"_s} << 33 << u"0.33"_s;
        QTest::newRow("above full is full") << 40 << set + QStringList{u"1.7"_s} << 100 << u"1"_s;
        QTest::newRow("below silence is silence")
            << 40 << QStringList{u"gdbus"_s, u"-0.3"_s} << 0 << u"0"_s;
        QTest::newRow("a huge value is full")
            << 40 << QStringList{u"gdbus"_s, u"1e300"_s} << 100 << u"1"_s;
        QTest::newRow("a level set elsewhere reads back") << 25 << QStringList{} << 25 << u"0.25"_s;
        QTest::newRow("no volume control reads full and stays")
            << -1 << set + QStringList{u"0.5"_s} << -1 << u"1"_s;
        QTest::newRow("no volume control ignores gdbus")
            << -1 << QStringList{u"gdbus"_s, u"0.2"_s} << -1 << u"1"_s;
    }
    void volumeBothWays()
    {
        QFETCH(int, start);
        QFETCH(QStringList, command);
        player_->level = start;
        if (command.value(0) == u"playerctl"_s)
            playerctl(command.mid(1));
        else if (command.value(0) == u"gdbus"_s)
            client(u"gdbus"_s,
                   {u"call"_s, u"--session"_s, u"--dest"_s, u"org.mpris.MediaPlayer2.kelpa"_s,
                    u"--object-path"_s, u"/org/mpris/MediaPlayer2"_s, u"--method"_s,
                    u"org.freedesktop.DBus.Properties.Set"_s, u"org.mpris.MediaPlayer2.Player"_s,
                    u"Volume"_s, u"<%1>"_s.arg(command[1])});
        QTEST(player_->level, "level");
        QTEST(QString::number(playerctl({u"volume"_s}).toDouble()), "shown");
    }

    // A follower hears the volume change, whoever changed it; a write that changes nothing is
    // told too, so that a client's slider returns to where the volume stays.
    void volumeChangesAreAnnounced_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("fromPhone"); // else from playerctl
        QTest::addColumn<QString>("heard");
        QTest::newRow("from a remote") << 100 << true << u"0.25>"_s;
        QTest::newRow("from playerctl") << 100 << false << u"0.5>"_s;
        QTest::newRow("refused without volume control") << -1 << false << u"1.0>"_s;
    }
    void volumeChangesAreAnnounced()
    {
        QFETCH(int, start);
        QFETCH(bool, fromPhone);
        QFETCH(QString, heard);
        player_->level = start;
        QProcess monitor;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address_);
        monitor.setProcessEnvironment(env);
        monitor.start(u"gdbus"_s, {u"monitor"_s, u"--session"_s, u"--dest"_s,
                                   u"org.mpris.MediaPlayer2.kelpa"_s});
        QString seen;
        const auto waitFor = [&](const QString &text, const auto &meanwhile) {
            return QTest::qWaitFor(
                [&] {
                    meanwhile();
                    seen += QString::fromUtf8(monitor.readAllStandardOutput());
                    return seen.contains(text);
                },
                10000);
        };
        // gdbus asks for kelpa's signals only after it has printed who owns the name, so a
        // harmless signal is sent until one is heard.
        QVERIFY2(waitFor(u".Seeked"_s, [&] { emit player_->seeked(0); }), qPrintable(seen));
        if (fromPhone)
            player_->setVolume(25);
        else
            playerctl({u"volume"_s, u"0.5"_s});
        QVERIFY2(waitFor(u"{'Volume': <"_s + heard, [] {}), qPrintable(seen));
        monitor.kill();
        monitor.waitForFinished();
    }

    void rootCommands()
    {
        QCOMPARE(rootCall(u"Raise"_s), u"()"_s);
        QCOMPARE(player_->raised, 1);
        QCOMPARE(rootCall(u"Quit"_s), u"()"_s);
        QTRY_COMPARE(player_->quits, 1);
        playerctl({u"open"_s, u"file:///m/new%20one%E2%99%AA.mp3"_s});
        QCOMPARE(player_->paths.last(), "/m/new one♪.mp3");
        QCOMPARE(player_->current, 3);
    }
};

QTEST_GUILESS_MAIN(TestMpris)
#include "test_mpris.moc"
