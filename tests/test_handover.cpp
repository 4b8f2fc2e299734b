// Files handed from a second start to the running copy: the names arrive exactly, in order,
// whatever bytes they hold, however the stream is cut; a broken sender adds nothing; a start
// with nobody listening, or nobody answering, is told so in bounded time.
#include "fakeplayercontrol.h"
#include "handover/filelist.h"
#include "handover/handover.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

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
        const QString socketPath = kelpa::HandoverSocketPath(runtime.path());
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
        const QString socketPath = kelpa::HandoverSocketPath(runtime.path());
        QVERIFY(!kelpa::HandOverFiles(socketPath, {"/a.mp3"}));

        // A socket nobody answers on (a copy hung in its window) is given up on.
        QLocalServer silent;
        QVERIFY(silent.listen(socketPath));
        QElapsedTimer clock;
        clock.start();
        bool taken = true;
        std::thread secondStart([&] { taken = kelpa::HandOverFiles(socketPath, {"/a.mp3"}, 500); });
        QTRY_VERIFY(clock.elapsed() > 600);
        secondStart.join();
        QVERIFY(!taken);
    }
};

QTEST_GUILESS_MAIN(TestHandover)
#include "test_handover.moc"
