// The program's start-up and shutdown: the player window loads with the fake engine (or none)
// and a lock folder of the test's own, in-process; closing, which ends the program, is watched
// from outside.
#include "app/singleinstance.h"
#include "brokenengine.h"
#include "player/player.h"
#include "remotefixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// Leaves a lock file as another copy would: Qt's own format, naming the given process as the
// holder, last written at the given time, and without a file lock on it.
bool writeLockNaming(const QString &path, qint64 pid, const QByteArray &processName,
                     const QDateTime &written)
{
    QByteArray contents;
    {
        QLockFile model(path);
        QFile file(path);
        if (!model.tryLock(0) || !file.open(QIODevice::ReadOnly))
            return false;
        contents = file.readAll();
    }
    QList<QByteArray> lines = contents.split('\n');
    if (lines.size() < 3)
        return false;
    lines[0] = QByteArray::number(pid);
    lines[1] = processName;
    const QByteArray rewritten = lines.join('\n');
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(rewritten) == rewritten.size() &&
           file.flush() && file.setFileTime(written, QFileDevice::FileModificationTime);
}

// The program's windows, wired as main() wires them.
struct Program {
    Program(const QString &engineDir, const QString &lockDir)
        : instance(lockDir), player(engineDir), form(player)
    {
        OpenSettingsOnLoad(form, settings);
    }
    ~Program() { settings.reset(); }
    // As main() starts without files: false when the program ends before its event loop.
    bool start() { return !instance.start({}) && form.Start(); }

    kelpa::SingleInstance instance;
    Player player;
    Form1 form;
    std::unique_ptr<FrmSver> settings;
};

// Closing the player ends its program, so a close is watched from outside: this program runs
// itself once more as the player, with this variable naming the case.
constexpr char kClosingPlayer[] = "KELPA_TEST_CLOSING_PLAYER";

// The player, playing, with the monitor ticking and the settings panel beside it. Half a
// second in it prints "closing" and
// closes its window; with "loop", with loop play on and the track just ended, so that a tick
// would open the next one; with "box", with an "Open Error" box up as well; with "reading",
// while a long list is being read.
int RunClosingPlayer(const QByteArray &variant)
{
    FakeEngine engine;
    engine.reset();
    const QList<QByteArray> tracks{"/music/closing-a.mp3", "/music/closing-b.mp3"};
    for (const QByteArray &track : tracks)
        engine.addTrack(track, "T", "R", 180);
    // With the settings panel, as in the program: it refuses to close, so the last window
    // closed does not end the program by itself.
    std::unique_ptr<FrmSver> settings;
    PlayerHarness player(FakeEngine::completeDir(),
                         [&settings](Form1 &form) { OpenSettingsOnLoad(form, settings); });
    if (!player.started || !player.addFiles(tracks) || player.count() != 2)
        return 1;
    player.timer()->start();
    if (variant == "loop")
        player.control().setLoop(true);
    if (variant == "box") {
        engine.refuseOpen(tracks[1]);
        player.control().playEntry(1);
    }
    QTemporaryDir dir;
    if (variant == "reading") {
        // A long list, being read as the window closes: every hundredth line names a track.
        const QString track = dir.filePath(u"t.mp3"_s);
        QFile(track).open(QIODevice::WriteOnly);
        engine.addTrack(QFile::encodeName(track), "T", "R", 180);
        QByteArray lines;
        for (int line = 0; line < 2000000; ++line)
            lines += line % 100 ? QByteArray("x\n") : QFile::encodeName(track) + '\n';
        QFile list(dir.filePath(u"long.txt"_s));
        if (!list.open(QIODevice::WriteOnly) || list.write(lines) != lines.size())
            return 1;
        list.close();
        player.core->dropFiles({QFile::encodeName(list.fileName())});
    }

    // In the middle of the list's reading, or half a second in.
    QTimer::singleShot(variant == "reading" ? 50 : 500, [&] {
        engine.setState(0, 180); // the track has just ended
        std::printf("closing\n");
        std::fflush(stdout);
        // The engine's log says what the player still asked after this.
        QFile log(qEnvironmentVariable("FAKE_ENGINE_LOG_FILE"));
        if (log.open(QIODevice::Append))
            log.write("closing\n");
        log.close();
        player.form->close();
    });
    return QCoreApplication::exec();
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void normalStartShowsTheIdlePlayerAfterTheSettingsWindow_data();
    void normalStartShowsTheIdlePlayerAfterTheSettingsWindow();
    void secondCopyIsRefusedWithoutTouchingTheEngine_data();
    void secondCopyIsRefusedWithoutTouchingTheEngine();
    void crashedCopyDoesNotBlock();
    void missingEngineEndsBeforeAnyWindow_data();
    void missingEngineEndsBeforeAnyWindow();
    void closingEndsTheProgramWithinASecond_data();
    void closingEndsTheProgramWithinASecond();

private:
    QString lockPath() const { return lockDir_->filePath(u"kelpa.lock"_s); }

    FakeEngine fake_;
    std::unique_ptr<QTemporaryDir> lockDir_;
};

void StartupTest::init()
{
    fake_.reset();
    lockDir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(lockDir_->isValid());
}

void StartupTest::normalStartShowsTheIdlePlayerAfterTheSettingsWindow_data()
{
    QTest::addColumn<int32_t>("initAnswer");
    QTest::newRow("engine answers success") << int32_t{1};
    QTest::newRow("engine answers failure") << int32_t{0};
}

void StartupTest::normalStartShowsTheIdlePlayerAfterTheSettingsWindow()
{
    QFETCH(int32_t, initAnswer);
    fake_.setInitResult(initAnswer); // only whether vbmp3_init could be called counts
    MessageBoxAnswerer answerer;
    ShownWindows shown;
    Program program(FakeEngine::completeDir(), lockDir_->path());
    Form1 &form = program.form;
    QVERIFY(program.start());

    QVERIFY(answerer.seen.isEmpty());
    QCOMPARE(fake_.log(), QStringList{u"vbmp3_init"_s});
    kelpa::PlayerControl &control = program.player;
    QCOMPARE(control.status(), kelpa::PlaybackStatus::Stopped);
    QCOMPARE(control.position(), 0);
    QVERIFY(control.track().path.isEmpty() && control.track().title.isEmpty());
    QCOMPARE(control.track().lengthSeconds, 0);
    QCOMPARE(control.entryCount(), 0);
    QVERIFY(!control.loop());
    QCOMPARE(control.caption(), u"kelpa"_s);
    QCOMPARE(form.windowTitle(), u"kelpa"_s);
    QVERIFY(form.isVisible());
    QVERIFY(isCentred(form));

    FrmSver *settings = program.settings.get();
    QVERIFY(settings);
    QVERIFY(settings->isVisible());
    QVERIFY(settings->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!settings->parentWidget()); // no owner window
    QVERIFY(isCentred(*settings));
    QCOMPARE(shown.names, (QStringList{u"FrmSver"_s, u"Form1"_s}));

    auto *timer = form.findChild<QTimer *>(u"Timer1"_s);
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 300);

    // Entries are shown by their title alone.
    fake_.addTrack("/music/first.mp3", "T1", "R1", 60);
    control.addFiles({"/music/first.mp3"});
    QTRY_COMPARE(control.entryCount(), 1);
    QCOMPARE(control.entryText(0), u"T1"_s);
}

void StartupTest::secondCopyIsRefusedWithoutTouchingTheEngine_data()
{
    QTest::addColumn<bool>("inThisProcess");
    QTest::newRow("copy started just now in this process") << true;
    // Without file locking between processes (a network home), only the named process and
    // the lock's age are left to go by; a day-old lock of a live copy still holds.
    QTest::newRow("copy in another process, running for a day") << false;
}

void StartupTest::secondCopyIsRefusedWithoutTouchingTheEngine()
{
    QFETCH(bool, inThisProcess);
    std::unique_ptr<Program> running;
    QProcess otherCopy;
    if (inThisProcess) {
        running = std::make_unique<Program>(FakeEngine::completeDir(), lockDir_->path());
        QVERIFY(running->start());
    } else {
        otherCopy.start(u"sleep"_s, {u"60"_s});
        QVERIFY(otherCopy.waitForStarted());
        QVERIFY(writeLockNaming(lockPath(), otherCopy.processId(), "sleep",
                                QDateTime::currentDateTime().addDays(-1)));
    }
    fake_.reset();

    MessageBoxAnswerer answerer;
    ShownWindows shown;
    Program second(FakeEngine::completeDir(), lockDir_->path());
    QVERIFY(!second.start());

    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, u"すでにkelpaは起動しています。"_s);
    QCOMPARE(answerer.seen[0].title, u"kelpa"_s);
    QCOMPARE(answerer.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(fake_.log().isEmpty());
    QVERIFY(!shown.names.contains(u"Form1"_s) && !shown.names.contains(u"FrmSver"_s));
    QVERIFY(!second.settings);

    // The running copy goes on undisturbed, its lock in place.
    QVERIFY(QFile::exists(lockPath()));
    if (running) {
        QVERIFY(running->form.isVisible());
        QVERIFY(running->settings->isVisible());
    }
    otherCopy.kill();
    otherCopy.waitForFinished();
}

void StartupTest::crashedCopyDoesNotBlock()
{
    QProcess crashed;
    crashed.start(u"sleep"_s, {u"60"_s});
    QVERIFY(crashed.waitForStarted());
    const qint64 deadPid = crashed.processId();
    crashed.kill();
    QVERIFY(crashed.waitForFinished());
    QVERIFY(writeLockNaming(lockPath(), deadPid, "sleep", QDateTime::currentDateTime()));

    MessageBoxAnswerer answerer;
    Program program(FakeEngine::completeDir(), lockDir_->path());
    QVERIFY(program.start());
    QVERIFY(answerer.seen.isEmpty());
    QCOMPARE(fake_.log(), QStringList{u"vbmp3_init"_s});
    QFile lock(lockPath());
    QVERIFY(lock.open(QIODevice::ReadOnly));
    QCOMPARE(lock.readLine().trimmed(), QByteArray::number(QCoreApplication::applicationPid()));
}

void StartupTest::missingEngineEndsBeforeAnyWindow_data()
{
    addBrokenEngineRows();
}

void StartupTest::missingEngineEndsBeforeAnyWindow()
{
    QFETCH(QString, folderKind);
    QTemporaryDir programDir;
    QVERIFY(programDir.isValid());
    const QString folder = brokenEngineFolder(folderKind, programDir);
    QVERIFY(!folder.isEmpty());

    MessageBoxAnswerer answerer;
    ShownWindows shown;
    auto program = std::make_unique<Program>(folder, lockDir_->path());
    QVERIFY(!program->start());

    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, u"\"VBMP3.dll\"が見つかりません。終了します。"_s);
    QCOMPARE(answerer.seen[0].title, u"kelpa"_s);
    QCOMPARE(answerer.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!shown.names.contains(u"Form1"_s) && !shown.names.contains(u"FrmSver"_s));
    QVERIFY(!program->settings);
    QVERIFY(!program->form.findChild<QTimer *>(u"Timer1"_s)->isActive());

    // Nothing is left behind once the program has ended: the next start is not taken for a
    // second copy.
    program.reset();
    Program next(FakeEngine::completeDir(), lockDir_->path());
    QVERIFY(next.start());
    QCOMPARE(answerer.seen.size(), 1);
}

void StartupTest::closingEndsTheProgramWithinASecond_data()
{
    QTest::addColumn<QByteArray>("variant");
    QTest::newRow("playing") << QByteArray("play");
    QTest::newRow("loop play, at the end of a track") << QByteArray("loop");
    QTest::newRow("an Open Error box up") << QByteArray("box");
    QTest::newRow("a long list being read") << QByteArray("reading");
}

void StartupTest::closingEndsTheProgramWithinASecond()
{
    QFETCH(QByteArray, variant);
    const QString log = lockDir_->filePath(u"engine.log"_s);
    QProcess player;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kClosingPlayer), QString::fromLatin1(variant));
    environment.insert(u"FAKE_ENGINE_LOG_FILE"_s, log);
    player.setProcessEnvironment(environment);
    player.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    player.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(player.waitForStarted());
    QDeadlineTimer deadline(120000);
    while (!player.canReadLine() && player.state() == QProcess::Running && !deadline.hasExpired())
        player.waitForReadyRead(50);
    QCOMPARE(player.readLine(), QByteArray("closing\n"));
    QElapsedTimer closing;
    closing.start();
    const bool ended = player.waitForFinished(15000);
    const qint64 took = closing.elapsed();
    QVERIFY(ended);
    QFile calls(log);
    QVERIFY(calls.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = calls.readAll().split('\n');
    const qsizetype freed = lines.indexOf("vbmp3_free");
    QVERIFY(freed > 0);
    QCOMPARE(lines[freed - 1], QByteArray("vbmp3_stop"));
    QCOMPARE(lines.mid(freed + 1), QList<QByteArray>{QByteArray()}); // nothing after the free
    // Whatever was being read stopped at once: at most the one tag read under way went on.
    const qsizetype closed = lines.indexOf("closing");
    QVERIFY(closed >= 0 && closed < freed);
    const qsizetype tagReads =
        std::count_if(lines.cbegin() + closed, lines.cend(),
                      [](const QByteArray &line) { return line.startsWith("vbmp3_getFileInfo"); });
    QVERIFY2(tagReads <= 1, qPrintable(u"%1 tags read after the close"_s.arg(tagReads)));
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), 0);
    // A close that waits on a thread or a timer waits seconds, or for ever; the slack is for a
    // loaded machine, and the sanitizers' own work at exit.
    QVERIFY2(took < 3000, qPrintable(u"the program ended %1 ms after the close"_s.arg(took)));
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QByteArray closingPlayer = qgetenv(kClosingPlayer);
    if (!closingPlayer.isEmpty())
        return RunClosingPlayer(closingPlayer);
    StartupTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_startup.moc"
