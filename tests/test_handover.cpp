// Files handed from a second start to the running copy: the names arrive exactly, in order,
// whatever bytes they hold, however the stream is cut; a broken sender adds nothing; a start
// with nobody listening, or nobody answering, is told so in bounded time, and the program
// then says so and fails. The running copy stays in bounds against senders that say nothing,
// say too much or come in crowds, keeps listening when it runs out of descriptors, and takes
// what its playlist has room for. The socket's folder is one no other user can enter.
#include "app/privatefolder.h"
#include "app/singleinstance.h"
#include "fakeplayercontrol.h"
#include "handover/filelist.h"
#include "handover/handover.h"
#include "support/procstatus.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using kelpa::FileListReader;

namespace {

QList<QByteArray> AwkwardNames(int count)
{
    QList<QByteArray> names;
    for (int i = 0; i < count; ++i) {
        names.append("/music/" + QByteArray::number(i) + " a b\nline two/曲 " + "\xff\xfe" +
                     QByteArray(1, char(i % 256)) + ".mp3");
    }
    return names;
}

QByteArray Number(uint32_t n)
{
    const char bytes[] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return QByteArray(bytes, 4);
}

// What a start prints on its report stream, read back from a temporary file.
class Report {
public:
    Report() : file_(std::tmpfile()) {}
    ~Report() { std::fclose(file_); }
    FILE *stream() const { return file_; }
    QByteArray text() const
    {
        std::rewind(file_);
        QByteArray all;
        char piece[256];
        while (const size_t read = std::fread(piece, 1, sizeof piece, file_))
            all.append(piece, qsizetype(read));
        return all;
    }

private:
    FILE *file_;
};

sockaddr_un SocketAddress(const QString &socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(socketPath);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    return address;
}

// A second start as a raw blocking socket, for senders that misbehave from a thread while
// the running copy reads on the test's own thread. -1 when it cannot connect.
int ConnectRaw(const QString &socketPath)
{
    const sockaddr_un address = SocketAddress(socketPath);
    const int raw = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(raw, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(raw);
        return -1;
    }
    return raw;
}

// Where the program hands its files over when folder is its private folder.
QString SocketIn(const QString &folder)
{
    return folder + u"/kelpa.files"_s;
}

int OpenDescriptors()
{
    return int(QDir(u"/proc/self/fd"_s).entryList(QDir::Files | QDir::System).size());
}

// A running copy, listening in a folder of its own.
struct RunningCopy {
    explicit RunningCopy(const kelpa::HandoverLimits &limits = {})
        : socketPath(SocketIn(folder.path())), server(player, socketPath, limits)
    {}
    QTemporaryDir folder;
    FakePlayerControl player;
    QString socketPath;
    kelpa::HandoverServer server;
};

kelpa::HandoverLimits ShortDeadline(int deadlineMs)
{
    kelpa::HandoverLimits limits;
    limits.deadlineMs = deadlineMs;
    return limits;
}

QString AnotherUserRefused()
{
    if (::geteuid() != 0)
        return u"needs root to act as another user with setpriv"_s;
    if (QStandardPaths::findExecutable(u"setpriv"_s).isEmpty())
        return u"needs setpriv to act as another user"_s;
    return {};
}

// Runs a command as the unprivileged user nobody, as another user of the machine would.
bool RunAsAnotherUser(const QStringList &command)
{
    return QProcess::execute(u"setpriv"_s, QStringList{u"--reuid=65534"_s, u"--regid=65534"_s,
                                                       u"--clear-groups"_s} +
                                               command) == 0;
}

} // namespace

class TestHandover : public QObject {
    Q_OBJECT

private slots:
    void readerTakesTheListInAnyPieces()
    {
        const QList<QByteArray> names = AwkwardNames(40) << QByteArray() << "/x";
        const QByteArray wire = kelpa::EncodeFileList(names);
        for (const qsizetype piece : {qsizetype(1), qsizetype(3), qsizetype(7), wire.size()}) {
            FileListReader reader;
            for (qsizetype at = 0; at < wire.size(); at += piece) {
                QCOMPARE(reader.state(), FileListReader::State::Incomplete);
                reader.feed(QByteArrayView(wire).sliced(at, std::min(piece, wire.size() - at)));
            }
            QCOMPARE(reader.state(), FileListReader::State::Complete);
            QCOMPARE(reader.files(), names);
        }
    }

    void readerRefusesBrokenLists_data()
    {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<FileListReader::State>("state");
        using S = FileListReader::State;
        QTest::newRow("empty list") << Number(0) << S::Complete;
        QTest::newRow("count cut short") << QByteArray("\0\0\0", 3) << S::Incomplete;
        QTest::newRow("name cut short") << Number(1) + Number(5) + "/abc" << S::Incomplete;
        QTest::newRow("bytes past the end") << Number(1) + Number(2) + "/ab" << S::Broken;
        QTest::newRow("more names than a playlist holds") << Number(32768) << S::Broken;
        QTest::newRow("as many names as a playlist holds")
            << kelpa::EncodeFileList(QList<QByteArray>(32767, "/a.mp3")) << S::Complete;
        QTest::newRow("a name longer than a path")
            << Number(1) + Number(4097) + QByteArray(4097, 'a') << S::Broken;
        QTest::newRow("longest name")
            << Number(1) + Number(4096) + QByteArray(4096, 'a') << S::Complete;
    }
    void readerRefusesBrokenLists()
    {
        QFETCH(QByteArray, wire);
        FileListReader reader;
        QTEST(reader.feed(wire), "state");
    }

    // The names reach the player whole: a thousand of them, with spaces, newlines, Japanese
    // and bytes that are no UTF-8; the first is played since nothing played.
    void thousandNamesReachThePlayer()
    {
        QTemporaryDir runtime;
        FakePlayerControl player;
        const QString socketPath = SocketIn(runtime.path());
        kelpa::HandoverServer server(player, socketPath);
        QVERIFY(server.listen());

        const QList<QByteArray> names = AwkwardNames(1000);
        bool taken = false;
        std::thread secondStart([&] { taken = kelpa::HandOverFiles(socketPath, names); });
        QTRY_COMPARE_WITH_TIMEOUT(player.paths.size(), names.size(), 10000);
        secondStart.join();
        QVERIFY(taken);
        QCOMPARE(player.paths, names);
        QCOMPARE(player.current, 0);
        QCOMPARE(player.state, kelpa::PlaybackStatus::Playing);
    }

    void startWithoutARunningCopyIsToldSo()
    {
        QTemporaryDir runtime;
        const QString socketPath = SocketIn(runtime.path());
        QVERIFY(!kelpa::HandOverFiles(socketPath, {"/a.mp3"}));

        // A socket nobody answers on (a copy hung in its window) is given up on.
        QLocalServer silent;
        QVERIFY(silent.listen(socketPath));
        std::atomic<qint64> tookMs = -1;
        bool taken = true;
        std::thread secondStart([&] {
            QElapsedTimer clock;
            clock.start();
            taken = kelpa::HandOverFiles(socketPath, {"/a.mp3"}, 500);
            tookMs = clock.elapsed();
        });
        QTRY_VERIFY_WITH_TIMEOUT(tookMs >= 0, 5000);
        secondStart.join();
        QVERIFY(!taken);
        // Given up at its own time limit, not at the default one; slack for a loaded machine.
        QVERIFY2(tookMs >= 450 && tookMs < 2000, qPrintable(QString::number(tookMs)));
    }

    // A start with more files than the playlist has room for: what fits is added, in order,
    // and the start says how many were left out, in one line; it still ends as handed over.
    void filesBeyondThePlaylistAreLeftOutAndCounted_data()
    {
        QTest::addColumn<int>("listed");
        QTest::addColumn<int>("handed");
        QTest::addColumn<int>("entries"); // in the list afterwards
        QTest::addColumn<QByteArray>("said");
        QTest::newRow("40,000 to an empty list")
            << 0 << 40000 << 32767
            << QByteArray("kelpa: 7233 of 40000 files were left out: the playlist holds at most "
                          "32767 entries\n");
        QTest::newRow("exactly as many as it holds") << 0 << 32767 << 32767 << QByteArray();
        QTest::newRow("one more than it holds")
            << 0 << 32768 << 32767
            << QByteArray("kelpa: 1 of 32768 files were left out: the playlist holds at most "
                          "32767 entries\n");
        QTest::newRow("to a list with 100 entries")
            << 100 << 32767 << 32767
            << QByteArray("kelpa: 100 of 32767 files were left out: the playlist holds at most "
                          "32767 entries\n");
        QTest::newRow("to a full list")
            << 32767 << 3 << 32767
            << QByteArray("kelpa: 3 of 3 files were left out: the playlist holds at most 32767 "
                          "entries\n");
    }
    void filesBeyondThePlaylistAreLeftOutAndCounted()
    {
        QFETCH(int, listed);
        QFETCH(int, handed);
        QFETCH(int, entries);
        RunningCopy copy;
        QVERIFY(copy.server.listen());
        copy.player.paths = QList<QByteArray>(listed, "/already.mp3");
        QList<QByteArray> names;
        for (int i = 0; i < handed; ++i)
            names.append("/music/" + QByteArray::number(i) + ".mp3");

        Report report;
        std::atomic<int> taken = -1;
        std::thread secondStart(
            [&] { taken = kelpa::HandOverFiles(copy.socketPath, names, 10000, report.stream()); });
        QTRY_VERIFY_WITH_TIMEOUT(taken >= 0, 15000);
        secondStart.join();
        QCOMPARE(taken, 1);
        QCOMPARE(copy.player.paths.size(), entries);
        QCOMPARE(copy.player.paths.mid(listed), names.first(entries - listed));
        QTEST(report.text(), "said");
    }

    // Senders that do not finish are closed at their deadline, not before and not much after,
    // however they behave meanwhile.
    void unfinishedSendersAreClosedAtTheirDeadline_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<int>("trickleMs"); // one more byte every so often; 0: none
        QTest::newRow("silent") << QByteArray() << 0;
        QTest::newRow("stops within a name") << Number(2) + Number(6) + "/a" << 0;
        QTest::newRow("trickles a long name") << Number(1) + Number(4000) + "/music/" << 30;
    }
    void unfinishedSendersAreClosedAtTheirDeadline()
    {
        QFETCH(QByteArray, first);
        QFETCH(int, trickleMs);
        constexpr int deadlineMs = 400;
        RunningCopy copy(ShortDeadline(deadlineMs));
        QVERIFY(copy.server.listen());
        QLocalSocket sender;
        sender.connectToServer(copy.socketPath);
        QVERIFY(sender.waitForConnected(1000));
        QElapsedTimer clock;
        clock.start();
        sender.write(first);
        QTimer trickle;
        QObject::connect(&trickle, &QTimer::timeout, &sender, [&sender] { sender.write("x"); });
        if (trickleMs)
            trickle.start(trickleMs);
        QTRY_COMPARE_WITH_TIMEOUT(sender.state(), QLocalSocket::UnconnectedState, 5000);
        const qint64 closedAfter = clock.elapsed();
        // Not before the deadline, and well before the default one: slack for a loaded machine.
        static_assert(deadlineMs + 1200 < kelpa::HandoverLimits{}.deadlineMs);
        QVERIFY2(closedAfter >= deadlineMs - 50 && closedAfter < deadlineMs + 1200,
                 qPrintable(QString::number(closedAfter)));
        QVERIFY(copy.player.paths.isEmpty());
    }

    // The running copy holds no more than eight connections, however many wait.
    void aCrowdOfSilentSendersHoldsEightPlaces()
    {
        RunningCopy copy;
        QVERIFY(copy.server.listen());
        const int before = OpenDescriptors();
        std::vector<std::unique_ptr<QLocalSocket>> crowd;
        for (int i = 0; i < 40; ++i) {
            crowd.push_back(std::make_unique<QLocalSocket>());
            crowd.back()->connectToServer(copy.socketPath);
            QVERIFY(crowd.back()->waitForConnected(1000));
        }
        // Forty of the test's own ends, and the running copy's once it has taken what it takes;
        // one more round of events would show any it took beyond eight.
        QTRY_COMPARE_GE(OpenDescriptors() - before, 40 + 8);
        QCoreApplication::processEvents();
        QCOMPARE_LE(OpenDescriptors() - before, 40 + 8);
    }

    // A later start of the program while a copy runs: its files get through a crowd of silent
    // connections; when they cannot get through, it says so and fails, with no box that waits.
    void aLaterStartHandsOverOrSaysSo_data()
    {
        QTest::addColumn<int>("crowd"); // silent connections ahead of it; -1: not listening yet
        QTest::addColumn<int>("exitCode");
        QTest::newRow("behind 60 silent connections") << 60 << 0;
        QTest::newRow("to a copy not listening yet") << -1 << 1;
    }
    void aLaterStartHandsOverOrSaysSo()
    {
        QFETCH(int, crowd);
        QFETCH(int, exitCode);
        RunningCopy copy;
        QLockFile lock(copy.folder.filePath(u"kelpa.lock"_s));
        QVERIFY(lock.tryLock(0) && (crowd < 0 || copy.server.listen()));
        std::vector<int> silent;
        for (int i = 0; i < crowd; ++i)
            silent.push_back(ConnectRaw(copy.socketPath));
        QProcess start;
        start.setEnvironment(QProcess::systemEnvironment()
                             << u"XDG_RUNTIME_DIR="_s + copy.folder.path());
        start.start(QCoreApplication::applicationDirPath() + u"/kelpa"_s, {u"/a.mp3"_s});
        QTRY_COMPARE_WITH_TIMEOUT(start.state(), QProcess::NotRunning, 20000);
        for (const int raw : silent)
            ::close(raw);
        QTEST(start.exitCode(), "exitCode");
        QCOMPARE(copy.player.paths.size(), 1 - exitCode);
        QCOMPARE(start.readAllStandardError().contains(
                     "kelpa: 1 files could not be handed to the running kelpa\n"),
                 exitCode != 0);
    }

    // Eight senders of lists far bigger than the budget (134 MB each): the running copy holds
    // no more than the budget for them, lets go of it, and takes the next list as ever, one
    // that needs most of the budget.
    void fatSendersStayWithinTheBudget()
    {
        kelpa::HandoverLimits limits = ShortDeadline(1500);
        limits.bytes = 4 * 1024 * 1024;
        RunningCopy copy(limits);
        QVERIFY(copy.server.listen());
        const long before = ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:");
        std::atomic<int> sending = 8;
        std::vector<std::thread> senders;
        for (int i = 0; i < 8; ++i) {
            senders.emplace_back([&copy, &sending] {
                const int raw = ConnectRaw(copy.socketPath);
                QByteArray name = Number(4096) + QByteArray(4096, 'a');
                QByteArray wire = Number(32767) + name;
                while (raw >= 0 && ::send(raw, wire.constData(), size_t(wire.size()),
                                          MSG_NOSIGNAL) == wire.size())
                    wire = name;
                if (raw >= 0)
                    ::close(raw);
                --sending;
            });
        }
        long peak = before;
        QTRY_VERIFY_WITH_TIMEOUT(
            (peak = std::max(peak, ProcStatus::kib(QCoreApplication::applicationPid(), "VmRSS:")),
             sending == 0),
            10000);
        for (std::thread &sender : senders)
            sender.join();
        // The budget plus Qt's buffers and the senders' threads (bigger under the sanitizers);
        // without a budget it is hundreds of MB.
        QVERIFY2(peak - before < 128 * 1024, qPrintable(u"%1 KiB more"_s.arg(peak - before)));

        QList<QByteArray> names;
        for (int i = 0; i < 1000; ++i)
            names.append("/" + QByteArray::number(i) + QByteArray(3000, 'b'));
        bool taken = false;
        std::thread secondStart([&] { taken = kelpa::HandOverFiles(copy.socketPath, names); });
        QTRY_COMPARE_WITH_TIMEOUT(copy.player.paths, names, 5000);
        secondStart.join();
        QVERIFY(taken);
    }

    // Out of descriptors, the running copy cannot accept; it keeps its socket, and once
    // descriptors are free again the start that waited meanwhile, and later ones, get through.
    void outOfDescriptorsTheCopyKeepsListening()
    {
        RunningCopy copy;
        QVERIFY(copy.server.listen());
        // The listener tries again on a timer of its own: two of its rounds, two failed accepts.
        // Counted by a plain function: out of descriptors, the undefined-behaviour sanitizer
        // cannot check the type of an object, and would take a spy's for a wrong one.
        QTimer *retry = nullptr;
        for (QTimer *timer : copy.server.findChildren<QTimer *>()) {
            if (timer->isSingleShot() && timer->interval() == kelpa::HandoverLimits{}.retryMs)
                retry = timer;
        }
        QVERIFY(retry);
        int retried = 0;
        connect(retry, &QTimer::timeout, this, [&retried] { ++retried; });
        const int waiting = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(waiting >= 0);
        rlimit limit{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
        const rlimit was = limit;
        limit.rlim_cur = rlim_t(OpenDescriptors() + 16);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
        std::vector<int> fillers;
        for (int filler; (filler = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            fillers.push_back(filler);

        const sockaddr_un address = SocketAddress(copy.socketPath);
        QCOMPARE(::connect(waiting, reinterpret_cast<const sockaddr *>(&address), sizeof address),
                 0);
        const QByteArray wire = kelpa::EncodeFileList({"/waited.mp3"});
        QCOMPARE(::send(waiting, wire.constData(), size_t(wire.size()), MSG_NOSIGNAL), wire.size());
        QTRY_VERIFY(retried >= 2);
        QVERIFY(copy.player.paths.isEmpty());

        for (const int filler : fillers)
            ::close(filler);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &was), 0);
        QTRY_COMPARE_WITH_TIMEOUT(copy.player.paths, QList<QByteArray>{"/waited.mp3"}, 3000);
        pollfd answer{waiting, POLLIN, 0};
        QCOMPARE(::poll(&answer, 1, 1000), 1);
        char bytes[kelpa::kAnswerBytes];
        QCOMPARE(::recv(waiting, bytes, sizeof bytes, MSG_WAITALL), qsizetype(sizeof bytes));
        QCOMPARE(kelpa::DecodeAnswer(QByteArrayView(bytes, sizeof bytes)), 0u);
        ::close(waiting);

        bool taken = false;
        std::thread later([&] { taken = kelpa::HandOverFiles(copy.socketPath, {"/later.mp3"}); });
        QTRY_COMPARE_WITH_TIMEOUT(copy.player.paths.size(), 2, 5000);
        later.join();
        QVERIFY(taken);
    }

    // The folder of the socket and the lock: the runtime folder when only this user can enter
    // it, else a folder of our own in the shared temporary folder, else none. Folders that
    // another user made first, under the names we would choose, are never taken.
    void onlyAFolderOfOurOwnIsUsed_data()
    {
        QTest::addColumn<QString>("runtime"); // made by: "me 0700", "other 0777", "link", ...
        QTest::addColumn<QString>("fallback");
        QTest::addColumn<QString>("chosen"); // "runtime", "fallback" or "" for none
        QTest::newRow("private runtime folder") << u"me 0700"_s << u""_s << u"runtime"_s;
        QTest::newRow("no runtime folder") << u""_s << u""_s << u"fallback"_s;
        QTest::newRow("runtime folder the group may read")
            << u"me 0750"_s << u""_s << u"fallback"_s;
        QTest::newRow("runtime folder is a link to a private one")
            << u"link"_s << u""_s << u"fallback"_s;
        QTest::newRow("runtime folder made by another user")
            << u"other 0777"_s << u""_s << u"fallback"_s;
        QTest::newRow("both made by another user, open to all")
            << u"other 0777"_s << u"other 0777"_s << u""_s;
        QTest::newRow("fallback made by another user, closed") << u""_s << u"other 0700"_s << u""_s;
        QTest::newRow("fallback a link made by another user") << u""_s << u"link"_s << u""_s;
        QTest::newRow("fallback our own but open to others") << u""_s << u"me 0755"_s << u""_s;
        QTest::newRow("fallback our own and private") << u""_s << u"me 0700"_s << u"fallback"_s;
    }
    void onlyAFolderOfOurOwnIsUsed()
    {
        QFETCH(QString, runtime);
        QFETCH(QString, fallback);
        QFETCH(QString, chosen);
        if ((runtime + fallback).contains(u"other"_s) && !AnotherUserRefused().isEmpty())
            QSKIP(qPrintable(AnotherUserRefused()));
        // A shared temporary folder as /tmp is: everyone may make names in it.
        QTemporaryDir top;
        QVERIFY(QFile::setPermissions(
            top.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                            QFileDevice::ExeGroup | QFileDevice::ExeOther));
        const QString shared = top.filePath(u"tmp"_s);
        QVERIFY(QDir().mkdir(shared));
        QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
        const QString target = top.filePath(u"mine"_s);
        QVERIFY(QDir().mkdir(target));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0700), 0);

        const auto make = [&](const QString &path, const QString &how) {
            const QStringList words = how.split(u' ');
            if (how.isEmpty())
                return true;
            if (words[0] == u"link"_s) {
                return AnotherUserRefused().isEmpty()
                           ? RunAsAnotherUser({u"ln"_s, u"-s"_s, target, path})
                           : QFile::link(target, path);
            }
            if (words[0] == u"other"_s)
                return RunAsAnotherUser({u"mkdir"_s, u"-m"_s, words[1], path});
            return QDir().mkdir(path) && ::chmod(QFile::encodeName(path).constData(),
                                                 mode_t(words[1].toUInt(nullptr, 8))) == 0;
        };
        const QString runtimePath = shared + u"/runtime-me"_s;
        const QString fallbackPath = shared + u"/kelpa-"_s + QString::number(::geteuid());
        QVERIFY(make(runtimePath, runtime));
        QVERIFY(make(fallbackPath, fallback));

        const QString expected = chosen == u"runtime"_s    ? runtimePath
                                 : chosen == u"fallback"_s ? fallbackPath
                                                           : QString();
        QCOMPARE(kelpa::ChoosePrivateFolder(runtimePath, shared), expected);
        if (!expected.isEmpty()) {
            QFileInfo made(expected);
            QCOMPARE(made.ownerId(), ::geteuid());
            QCOMPARE(made.permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                            QFileDevice::WriteUser | QFileDevice::ExeUser),
                     QFileDevice::Permissions());
        }
        // Without a folder there is no socket to hand files to and no lock, and nothing in the
        // working folder: the start runs as if it were alone.
        QTemporaryDir working;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(working.path()));
        kelpa::SingleInstance alone{QString()};
        FakePlayerControl player;
        const std::optional<int> ended = alone.start({"/a.mp3"});
        const bool served = alone.serve(player);
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(ended, std::nullopt);
        QVERIFY(!served);
        QVERIFY(QDir(working.path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestHandover)
#include "test_handover.moc"
