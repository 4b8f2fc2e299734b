// The program's start-up and shutdown, run in-process: the player window loads with the fake
// engine (or none) and a lock folder of the test's own.
#include "net/winsock.h"
#include "playerharness.h"
#include "webremote/frmsver.h"
#include "windowwatch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QLockFile>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Leaves a lock file as another copy would: Qt's own format, naming the given process as the
// holder, last written at the given time, and without a file lock on it.
bool writeLockNaming(const QString &path, qint64 pid, const QByteArray &processName, const QDateTime &written)
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
    return file.open(QIODevice::WriteOnly) && file.write(rewritten) == rewritten.size() && file.flush()
        && file.setFileTime(written, QFileDevice::FileModificationTime);
}

// Closing the player ends its process, so a close is watched from outside: this program runs
// itself once more as the player, with this variable naming the case.
constexpr char kClosingPlayer[] = "KELPA_TEST_CLOSING_PLAYER";

// The player with the web remote listening and a playlist whose control page is far larger
// than the kernel's socket buffers. Prints "port N" once listening; closes its window once an
// answer has been on its way for half a second (printing "closing" first), and with "loop"
// does so with loop play on, at the end of the playing track.
int RunClosingPlayer(const QByteArray &variant)
{
    QTemporaryDir music;
    const QString track = music.filePath(u"ampersands.mp3"_s);
    FakeEngine fake;
    fake.addTrack(QFile::encodeName(track), QByteArray(127, '&'), "R", 180); // "&amp;" each
    PlayerHarness player;
    if (!writeBytes(track, "x") || !player.started || !player.dropFiles(QStringList(20000, track)))
        return 1;
    Form1 &form = *player.form;
    player.timer()->start();
    if (variant == "loop")
        player.menuItem(u"mnuLoop"_s)->trigger();
    form.SetListIndex(0);
    form.List1_DblClick();

    FrmSver *panel = form.SettingsWindow();
    panel->findChild<QLineEdit *>(u"Text1"_s)->setText(u"0"_s);
    panel->findChild<QLineEdit *>(u"Text4"_s)->setText(u"wuzel"_s);
    panel->findChild<QRadioButton *>(u"Option1"_s)->click(); // the whole list on the page
    panel->findChild<QPushButton *>(u"Check1"_s)->click();
    std::printf("port %d\n", panel->findChild<Winsock *>(u"Winsock1"_s)->LocalPort());
    std::fflush(stdout);

    QElapsedTimer answering;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (panel->windowTitle() != u"kelpa (処理中)"_s) {
            answering.invalidate();
        } else if (!answering.isValid()) {
            answering.start();
        } else if (answering.elapsed() >= 500) {
            watch.stop();
            fake.setState(0, 180); // the track has just ended
            std::printf("closing\n");
            std::fflush(stdout);
            form.close();
        }
    });
    watch.start(50);
    return QCoreApplication::exec();
}

// Reads one line from the process; empty when none comes in time.
QByteArray readLine(QProcess &process, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!process.canReadLine() && !deadline.hasExpired() && process.state() == QProcess::Running)
        process.waitForReadyRead(50);
    return process.readLine().trimmed();
}

QByteArray getFrom(quint16 port, const QByteArray &path)
{
    QTcpSocket client;
    client.connectToHost(u"127.0.0.1"_s, port);
    if (!client.waitForConnected(5000))
        return {};
    client.write("GET " + path + " HTTP/1.0\r\n\r\n");
    QByteArray answer;
    while (client.waitForReadyRead(5000))
        answer += client.readAll();
    return answer + client.readAll();
}

} // namespace

class StartupTest : public QObject
{
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
    void closingEndsTheProgramAtOnceEvenInsideAnAnswer_data();
    void closingEndsTheProgramAtOnceEvenInsideAnAnswer();

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
    Form1 form(FakeEngine::completeDir(), lockDir_->path());
    QVERIFY(form.Start());

    QVERIFY(answerer.seen.isEmpty());
    QCOMPARE(fake_.log(), QStringList{u"vbmp3_init"_s});
    QCOMPARE(form.CurrentIndex, -1);
    QCOMPARE(form.IsPlaying, int16_t{0});
    QCOMPARE(form.TrackLength, 0);
    QCOMPARE(form.PlayPosition, 0);
    QVERIFY(form.TrackTitle.isEmpty() && form.TrackArtist.isEmpty() && form.DispTitle.isEmpty());
    QCOMPARE(form.ShowType, uint8_t{0});
    QCOMPARE(form.windowTitle(), u"kelpa"_s);
    QVERIFY(form.isVisible());
    QVERIFY(isCentred(form));

    FrmSver *settings = form.SettingsWindow();
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
    std::unique_ptr<Form1> running;
    QProcess otherCopy;
    if (inThisProcess) {
        running = std::make_unique<Form1>(FakeEngine::completeDir(), lockDir_->path());
        QVERIFY(running->Start());
    } else {
        otherCopy.start(u"sleep"_s, {u"60"_s});
        QVERIFY(otherCopy.waitForStarted());
        QVERIFY(writeLockNaming(lockPath(), otherCopy.processId(), "sleep",
                                QDateTime::currentDateTime().addDays(-1)));
    }
    fake_.reset();

    MessageBoxAnswerer answerer;
    ShownWindows shown;
    Form1 second(FakeEngine::completeDir(), lockDir_->path());
    QVERIFY(!second.Start());

    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, u"すでにkelpaは起動しています。"_s);
    QCOMPARE(answerer.seen[0].title, u"kelpa"_s);
    QCOMPARE(answerer.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(fake_.log().isEmpty());
    QVERIFY(!shown.names.contains(u"Form1"_s) && !shown.names.contains(u"FrmSver"_s));
    QVERIFY(!second.SettingsWindow());

    // The running copy goes on undisturbed, its lock in place.
    QVERIFY(QFile::exists(lockPath()));
    if (running) {
        QVERIFY(running->isVisible());
        QVERIFY(running->SettingsWindow()->isVisible());
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
    Form1 form(FakeEngine::completeDir(), lockDir_->path());
    QVERIFY(form.Start());
    QVERIFY(answerer.seen.isEmpty());
    QCOMPARE(fake_.log(), QStringList{u"vbmp3_init"_s});
    QFile lock(lockPath());
    QVERIFY(lock.open(QIODevice::ReadOnly));
    QCOMPARE(lock.readLine().trimmed(), QByteArray::number(QCoreApplication::applicationPid()));
}

void StartupTest::missingEngineEndsBeforeAnyWindow_data()
{
    QTest::addColumn<QString>("folderKind");
    QTest::newRow("no library") << u"empty"_s;
    QTest::newRow("broken library") << u"broken"_s;
    QTest::newRow("library lacking an entry point") << u"incomplete"_s;
}

void StartupTest::missingEngineEndsBeforeAnyWindow()
{
    QFETCH(QString, folderKind);
    QTemporaryDir programDir;
    QVERIFY(programDir.isValid());
    QString folder = programDir.path();
    if (folderKind == u"broken"_s) {
        QFile broken(programDir.filePath(u"libvbmp3.so"_s));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("not a library");
    } else if (folderKind == u"incomplete"_s) {
        folder = FakeEngine::incompleteDir();
    }

    MessageBoxAnswerer answerer;
    ShownWindows shown;
    Form1 form(folder, lockDir_->path());
    QVERIFY(!form.Start());

    QCOMPARE(answerer.seen.size(), 1);
    QCOMPARE(answerer.seen[0].text, u"\"VBMP3.dll\"が見つかりません。終了します。"_s);
    QCOMPARE(answerer.seen[0].title, u"kelpa"_s);
    QCOMPARE(answerer.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!shown.names.contains(u"Form1"_s) && !shown.names.contains(u"FrmSver"_s));
    QVERIFY(!form.SettingsWindow());
    QVERIFY(!form.findChild<QTimer *>(u"Timer1"_s)->isActive());

    // Nothing is left behind: the next start is not taken for a second copy.
    Form1 next(FakeEngine::completeDir(), lockDir_->path());
    QVERIFY(next.Start());
    QCOMPARE(answerer.seen.size(), 1);
}

void StartupTest::closingEndsTheProgramAtOnceEvenInsideAnAnswer_data()
{
    QTest::addColumn<QByteArray>("variant");
    QTest::newRow("playing") << QByteArray("play");
    QTest::newRow("loop play, at the end of a track") << QByteArray("loop");
}

void StartupTest::closingEndsTheProgramAtOnceEvenInsideAnAnswer()
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
    const QByteArray portLine = readLine(player, 120000);
    QVERIFY2(portLine.startsWith("port "), portLine.constData());
    const quint16 port = portLine.mid(5).toUShort();

    const QRegularExpressionMatch login =
        QRegularExpression(u"href=\"/(\\d+)/\""_s)
            .match(QString::fromLatin1(getFrom(port, "/l.cgi?id=wuzel")));
    QVERIFY(login.hasMatch());

    // A client with a tiny receive window that asks for the page and reads nothing.
    const int stubborn = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(stubborn >= 0);
    const int window = 4096;
    setsockopt(stubborn, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::connect(stubborn, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const QByteArray request = "GET /" + login.captured(1).toLatin1() + "/ HTTP/1.0\r\n\r\n";
    QCOMPARE(::send(stubborn, request.constData(), request.size(), 0), request.size());

    QCOMPARE(readLine(player, 30000), QByteArray("closing"));
    QElapsedTimer closing;
    closing.start();
    const bool ended = player.waitForFinished(15000);
    const qint64 took = closing.elapsed();
    ::close(stubborn);
    QVERIFY(ended);
    QCOMPARE(player.exitStatus(), QProcess::NormalExit);
    QCOMPARE(player.exitCode(), 0);
    QVERIFY2(took < 1000, qPrintable(u"the program ended %1 ms after the close"_s.arg(took)));

    QFile calls(log);
    QVERIFY(calls.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = calls.readAll().split('\n');
    const qsizetype freed = lines.indexOf("vbmp3_free");
    QVERIFY(freed > 0);
    QCOMPARE(lines[freed - 1], QByteArray("vbmp3_stop"));
    QCOMPARE(lines.mid(freed + 1), QList<QByteArray>{QByteArray()}); // nothing after the free
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
