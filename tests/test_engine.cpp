// The real engine library, loaded through the player's loader, against MP3 files the test
// makes: which files count as tracks, what the tags and the length read, and what is heard
// in the null sink while it plays, pauses, seeks and ends.
#include "engine/enginelibrary.h"
#include "support/fixtures.h"
#include "support/sinkrecorder.h"
#include "support/soundserver.h"
#include "support/toneanalysis.h"
#include "support/waitingwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <future>
#include <optional>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QByteArray sjis(const QString &text)
{
    QStringEncoder encoder("Shift_JIS");
    return encoder.encode(text);
}

QByteArray bigEndian32(quint32 value)
{
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

// A copy of `file` with `bytes` written over it at `offset`; empty when that fails.
QString overwritten(const QString &file, const QString &copy, qint64 offset,
                    const QByteArray &bytes)
{
    QByteArray data = Fixtures::readFile(file);
    if (file.isEmpty() || data.size() < offset + bytes.size() ||
        !Fixtures::writeFile(copy, data.replace(offset, bytes.size(), bytes)))
        return {};
    return copy;
}

// A copy of `file` cut after its first `frames` frames.
QString firstFrames(const QString &file, const QString &copy, int frames)
{
    const QList<qint64> offsets = file.isEmpty() ? QList<qint64>{} : Fixtures::frameOffsets(file);
    if (offsets.size() <= frames ||
        !Fixtures::writeFile(copy, Fixtures::readFile(file).left(offsets[frames])))
        return {};
    return copy;
}

// `file` (headerless VBR) behind a 320 kbit/s frame holding a VBRI header that states its
// true frame and byte counts.
QString withVbriHeader(const QString &file, const QString &copy)
{
    if (file.isEmpty())
        return {};
    QByteArray frame(1044, '\0');
    frame.replace(0, 4, QByteArray("\xFF\xFB\xE0\x64", 4));
    const QByteArray audio = Fixtures::readFile(file);
    const QByteArray vbri = "VBRI" + QByteArray("\0\1\0\0\0\x4B", 6) +
                            bigEndian32(quint32(audio.size() + frame.size())) +
                            bigEndian32(quint32(Fixtures::frameOffsets(file).size()));
    frame.replace(36, vbri.size(), vbri);
    return Fixtures::writeFile(copy, frame + audio) ? copy : QString();
}

// `file` `copies` times over, as one file.
QString repeated(const QString &file, const QString &copy, int copies)
{
    const QByteArray audio = file.isEmpty() ? QByteArray() : Fixtures::readFile(file);
    return !audio.isEmpty() && Fixtures::writeFile(copy, audio.repeated(copies)) ? copy : QString();
}

std::optional<timespec> modified(const QString &file)
{
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return std::nullopt;
    return st.st_mtim;
}

bool setModified(const QString &file, timespec when)
{
    const timespec times[2] = {when, when};
    return ::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0) == 0;
}

} // namespace

class TestEngine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void fileInfoTellsTracksFromOtherFiles_data();
    void fileInfoTellsTracksFromOtherFiles();
    void tagsReadInOrderAndEncoding_data();
    void tagsReadInOrderAndEncoding();
    void longTextIsCutAtACharacterBoundary();
    void pictureOfTheTag_data();
    void pictureOfTheTag();
    void openGivesTheRealLength_data();
    void openGivesTheRealLength();
    void openEstimatesALengthNotCounted_data();
    void openEstimatesALengthNotCounted();
    void changedFileIsNotGivenItsOldLength_data();
    void changedFileIsNotGivenItsOldLength();
    void idleCallsAreHarmless();
    void playIsHeardAndPositionAdvances();
    void pauseAndRestartLoseAndRepeatNothing();
    void seekLandsWithoutOldAudio();
    void seekIntoJunkReturnsAtOnceAndEnds();
    void fileSwappedForAFifoNeverHangs();
    void fifoIsNeverOpened_data();
    void fifoIsNeverOpened();
    void trackEndIsReportedInItsLastHalfSecond();
    void stopKeepsTheFileAndPlayStartsFromTheTop();
    void freeEndsTheThreadAndTheConnection();

private:
    QString path(const QString &name) const { return dir_.filePath(name); }
    QString tagged(const QString &name, const QByteArray &front, const QByteArray &back);
    bool waitForState(int32_t wanted, int timeoutMs);
    // Waits until the position reads at least `seconds`: as much has been heard.
    bool waitForPosition(int32_t seconds, int timeoutMs);
    // TotalSeconds as vbmp3_open gives it; -1 when the file does not open.
    int openedSeconds(const QString &file);
    bool readInfo(const QString &file);
    // Waits for the reported end and then for the last moments that still sound after it.
    bool waitForEndHeard(SinkRecorder &recorder, int timeoutMs);

    QTemporaryDir dir_;
    EngineLibrary engine_{QCoreApplication::applicationDirPath()};
    QString tone_;
};

void TestEngine::initTestCase()
{
    QVERIFY(dir_.isValid());
    QVERIFY2(engine_.init(), "the engine library beside the test must load and initialise");
    tone_ = Fixtures::makeTone(dir_.path(), u"tone.mp3"_s, 3.0, 440);
    KELPA_VERIFY_FIXTURE(tone_);
}

void TestEngine::cleanupTestCase()
{
    engine_.free();
    engine_.free(); // a second free is harmless
}

QString TestEngine::tagged(const QString &name, const QByteArray &front, const QByteArray &back)
{
    const QString file = Fixtures::makeTone(dir_.path(), name, 1.0, 440);
    if (file.isEmpty() || !Fixtures::prependToFile(file, front) ||
        !Fixtures::appendToFile(file, back))
        return {};
    return file;
}

bool TestEngine::waitForState(int32_t wanted, int timeoutMs)
{
    int32_t seconds = 0;
    return QTest::qWaitFor([&] { return engine_.getState(seconds) == wanted; }, timeoutMs);
}

bool TestEngine::waitForPosition(int32_t wanted, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            int32_t seconds = -1;
            return engine_.getState(seconds) != 0 && seconds >= wanted;
        },
        timeoutMs);
}

void TestEngine::fileInfoTellsTracksFromOtherFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("track");
    const QString d = dir_.path();
    auto fixture = [](const QString &file) {
        return file.isEmpty() ? u"<fixture failed>"_s : file;
    };

    QTest::newRow("CBR") << fixture(Fixtures::makeTone(d, u"cbr.mp3"_s, 1.0, 440)) << true;
    Fixtures::ToneOptions vbr;
    vbr.vbr = true;
    QTest::newRow("VBR") << fixture(Fixtures::makeTone(d, u"vbr.mp3"_s, 1.0, 440, vbr)) << true;
    Fixtures::ToneOptions mono;
    mono.sampleRate = 22050;
    mono.channels = 1;
    QTest::newRow("mono 22.05 kHz")
        << fixture(Fixtures::makeTone(d, u"mono.mp3"_s, 1.0, 440, mono)) << true;

    Fixtures::writeFile(path(u"list.txt"_s), (tone_ + u"\r\n"_s + tone_ + u"\r\n"_s).toUtf8());
    QTest::newRow("list file") << path(u"list.txt"_s) << false;
    // Lines that begin with frame-sync bytes: a decoder that resyncs would play this.
    QByteArray syncLines;
    for (int i = 0; i < 300; ++i)
        syncLines += "\xFF\xFB\x90\x64 line " + QByteArray::number(i) + "\r\n";
    Fixtures::writeFile(path(u"sync.txt"_s), syncLines);
    QTest::newRow("text with frame-sync bytes") << path(u"sync.txt"_s) << false;
    Fixtures::writeFile(path(u"empty.mp3"_s), {});
    QTest::newRow("empty file") << path(u"empty.mp3"_s) << false;
    QDir(d).mkdir(u"folder.mp3"_s);
    QTest::newRow("folder") << path(u"folder.mp3"_s) << false;
    QByteArray noise(200000, '\0');
    quint32 seed = 12345;
    for (char &c : noise) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    Fixtures::writeFile(path(u"noise.mp3"_s), noise);
    QTest::newRow("random bytes") << path(u"noise.mp3"_s) << false;
    QTest::newRow("WAV audio") << fixture(Fixtures::makeToneWav(d, u"tone.wav"_s, 1.0, 440))
                               << false;
    QTest::newRow("missing file") << path(u"missing.mp3"_s) << false;
    QTest::newRow("device") << u"/dev/zero"_s << false;
    // An ID3v2 tag with nothing after it is no track either.
    Fixtures::writeFile(
        path(u"tagonly.mp3"_s),
        Fixtures::id3v2({Fixtures::id3TextFrame("TIT2", u"x"_s, Fixtures::Latin1)}));
    QTest::newRow("tag without audio") << path(u"tagonly.mp3"_s) << false;
}

void TestEngine::fileInfoTellsTracksFromOtherFiles()
{
    QFETCH(QString, file);
    QFETCH(bool, track);
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    QCOMPARE(engine_.getFileInfo(QFile::encodeName(file), tag, stream) != 0, track);
    EngineLibrary::OpenRecord record{};
    QCOMPARE(engine_.open(QFile::encodeName(file), record) != 0, track);
    engine_.close();
}

void TestEngine::tagsReadInOrderAndEncoding_data()
{
    using namespace Fixtures;
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");
    auto row = [this](const char *name, const QByteArray &front, const QByteArray &back,
                      const QString &title, const QString &artist) {
        const QString file =
            tagged(QString::fromLatin1(name).replace(u' ', u'_') + u".mp3"_s, front, back);
        QTest::newRow(name) << file << title << artist;
    };
    const QString song = u"夜明けの歌"_s;
    const QString singer = u"山田ｶｽﾞｵ"_s;
    row("untagged", {}, {}, {}, {});
    row("ID3v1 Shift_JIS", {}, id3v1(sjis(song), sjis(singer)), song, singer);
    row("ID3v1 Latin-1", {},
        id3v1("Caf\xE9", "\xDC"
                         "ber"),
        u"Café"_s, u"Über"_s);
    row("ID3v1 half-width kana", {}, id3v1(sjis(u"ｱｲｳｴｵ"_s), "A"), u"ｱｲｳｴｵ"_s, u"A"_s);
    row("ID3v2 Shift_JIS in Latin-1 frame",
        id3v2({id3RawTextFrame("TIT2", Latin1, sjis(song)),
               id3RawTextFrame("TPE1", Latin1, sjis(singer))}),
        {}, song, singer);
    row("ID3v2 UTF-16",
        id3v2({id3TextFrame("TIT2", song, Utf16Bom), id3TextFrame("TPE1", singer, Utf16Bom)}), {},
        song, singer);
    row("ID3v2.4 UTF-8",
        id3v2({id3TextFrame("TIT2", song, Utf8), id3TextFrame("TPE1", singer, Utf8)}, 4), {}, song,
        singer);
    row("APE", {}, apeTag(song, singer), song, singer);
    row("ID3v2 before ID3v1", id3v2({id3TextFrame("TIT2", u"v2 title"_s, Latin1)}),
        id3v1("v1 title", "v1 artist"), u"v2 title"_s, u"v1 artist"_s);
    row("APE before ID3v1", {}, apeTag(u"ape title"_s, {}) + id3v1("v1 title", "v1 artist"),
        u"ape title"_s, u"v1 artist"_s);
    row("ID3v2 before APE", id3v2({id3TextFrame("TPE1", u"v2 artist"_s, Utf16Bom)}),
        apeTag(u"ape title"_s, u"ape artist"_s), u"ape title"_s, u"v2 artist"_s);

    // UTF-16 in either byte order, several values, and bytes that are no text.
    const QString clef = u"\U0001D11E clef"_s; // outside the BMP: a surrogate pair
    const QByteArray bigEndian = id3TextFrame("TIT2", song, Utf16BE).body.mid(1);
    row("ID3v2 UTF-16BE",
        id3v2({id3TextFrame("TIT2", clef, Utf16BE), id3TextFrame("TPE1", singer, Utf16BE)}), {},
        clef, singer);
    row("ID3v2 UTF-16 with a big-endian mark",
        id3v2({id3RawTextFrame("TIT2", Utf16Bom, "\xFE\xFF" + bigEndian)}), {}, song, {});
    row("ID3v2 UTF-16 values with a mark each",
        id3v2({id3RawTextFrame("TPE1", Utf16Bom,
                               QByteArray("\xFF\xFE"
                                          "A\0\0\0\xFE\xFF\0B",
                                          10))}),
        {}, {}, u"A B"_s);
    row("ID3v2 UTF-16 lone surrogate",
        id3v2({id3RawTextFrame("TIT2", Utf16Bom,
                               QByteArray("\xFF\xFE"
                                          "A\0\0\xD8"
                                          "B\0",
                                          8))}),
        {}, u"A\uFFFDB"_s, {});
    row("ID3v2.4 UTF-8 with a stray byte and a cut end",
        id3v2({id3RawTextFrame("TIT2", Utf8, "A\xFF" + song.toUtf8() + "\xE6\x9B")}, 4), {},
        u"A\uFFFD"_s + song, {});
    // Fixed-size fields and frames cut in the middle of a double-byte character.
    const QString kana = QString(15, QChar(0x3042)); // 30 bytes of Shift_JIS
    row("ID3v1 Shift_JIS cut in a character", {}, id3v1(sjis(u"A"_s + kana), sjis(singer)),
        u"A"_s + kana.left(14), singer);
    row("ID3v2 Shift_JIS cut in a character",
        id3v2({id3RawTextFrame("TIT2", Latin1, sjis(song) + sjis(u"歌"_s).left(1))}), {}, song, {});
}

void TestEngine::tagsReadInOrderAndEncoding()
{
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(QString, artist);
    KELPA_VERIFY_FIXTURE(file);
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    QVERIFY(engine_.getFileInfo(QFile::encodeName(file), tag, stream) != 0);
    QCOMPARE(CutAtNull(tag.Title), title);
    QCOMPARE(CutAtNull(tag.Artist), artist);
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(QFile::encodeName(file), record) != 0);
    QCOMPARE(CutAtNull(record.Title), title);
    QCOMPARE(CutAtNull(record.Artist), artist);
    engine_.close();
}

void TestEngine::longTextIsCutAtACharacterBoundary()
{
    const QString longTitle = QString(60, QChar(0x97F3)); // 60 x "音", 180 bytes of UTF-8
    const QString file =
        tagged(u"long.mp3"_s,
               Fixtures::id3v2({Fixtures::id3TextFrame("TIT2", longTitle, Fixtures::Utf8)}, 4), {});
    KELPA_VERIFY_FIXTURE(file);
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    std::memset(&tag, 'x', sizeof tag);
    QVERIFY(engine_.getFileInfo(QFile::encodeName(file), tag, stream) != 0);
    QCOMPARE(std::strlen(tag.Title), size_t{126}); // 42 whole characters; a 43rd would not fit
    QCOMPARE(CutAtNull(tag.Title), longTitle.left(42));
}

void TestEngine::pictureOfTheTag_data()
{
    using namespace Fixtures;
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<QByteArray>("picture");
    const QByteArray jpeg("\xFF\xD8\xFF\xE0\0\x10JFIF\xFF\0\xFF\xD9", 14);
    const QByteArray png("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
    // An APIC frame; the description carries its terminator.
    const auto apic = [](const char *mime, char type, const QByteArray &data,
                         const QByteArray &description = QByteArray(1, '\0'), char encoding = 0) {
        return Id3Frame{"APIC", encoding + QByteArray(mime) + '\0' + type + description + data};
    };
    const QByteArray large = jpeg + QByteArray(1 << 20, 'x');
    QTest::newRow("JPEG") << id3v2({id3TextFrame("TIT2", u"t"_s, Latin1),
                                    apic("image/jpeg", 3, jpeg)})
                          << jpeg;
    QTest::newRow("PNG, UTF-16 description")
        << id3v2({apic("image/png", 3, png, QByteArray("\xFF\xFE\0\x30\0\0", 6), 1)}, 4) << png;
    QTest::newRow("the front cover first")
        << id3v2({apic("image/png", 0, png), apic("image/jpeg", 3, jpeg)}) << jpeg;
    QTest::newRow("no JPEG or PNG")
        << id3v2({apic("image/gif", 3, "GIF89a<html>")}) << QByteArray();
    QTest::newRow("too large") << id3v2({apic("image/jpeg", 3, large), apic("image/png", 0, png)})
                               << png;
    QTest::newRow("ID3v2.2") << QByteArray("ID3\x02\0\0", 6) + syncsafe(png.size() + 12) +
                                    QByteArray("PIC\0\0", 5) + char(png.size() + 6) +
                                    QByteArray("\0PNG\x03\0", 6) + png
                             << png;
    // Unsynchronised as a whole: every FF of the tag is followed by a 00.
    QByteArray unsynced =
        id3v2({apic("image/jpeg", 3, jpeg)}).mid(10).replace("\xFF", QByteArray("\xFF\0", 2));
    QTest::newRow("unsynchronised")
        << QByteArray("ID3\x03\0\x80", 6) + syncsafe(quint32(unsynced.size())) + unsynced << jpeg;
    QTest::newRow("no tag") << QByteArray("\xFF\xFB\x90\x00") << QByteArray();
}

void TestEngine::pictureOfTheTag()
{
    QFETCH(QByteArray, tag);
    QFETCH(QByteArray, picture);
    const QString file = dir_.filePath(QString::fromLatin1(QTest::currentDataTag()) + u".mp3"_s);
    QVERIFY(Fixtures::writeFile(file, tag + QByteArray(4096, '\0')));
    QCOMPARE(engine_.getPicture(QFile::encodeName(file), 1 << 20), picture);
}

void TestEngine::openGivesTheRealLength_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    const QString d = dir_.path();
    Fixtures::ToneOptions vbr;
    vbr.vbr = true;
    Fixtures::ToneOptions bare = vbr;
    bare.noXingHeader = true; // a first-frame estimate would be far off for VBR
    Fixtures::ToneOptions mono;
    mono.sampleRate = 22050;
    mono.channels = 1;
    QTest::newRow("CBR") << Fixtures::makeTone(d, u"len-cbr.mp3"_s, 7.0, 440) << 7 << 44100 << 2;
    QTest::newRow("VBR with header")
        << Fixtures::makeTone(d, u"len-vbr.mp3"_s, 7.0, 440, vbr) << 7 << 44100 << 2;
    QTest::newRow("VBR without header")
        << Fixtures::makeTwoTones(d, u"len-bare.mp3"_s, 1.0, 440, 9.0, 3000, bare) << 10 << 44100
        << 2;
    QTest::newRow("mono 22.05 kHz")
        << Fixtures::makeTone(d, u"len-mono.mp3"_s, 4.0, 440, mono) << 4 << 22050 << 1;

    // Without a header: a plainly CBR file is measured by its size, tags at its end left out;
    // a file whose rate changes after its first frames is counted.
    Fixtures::ToneOptions bareCbr;
    bareCbr.noXingHeader = true;
    QTest::newRow("CBR without header")
        << Fixtures::makeTone(d, u"len-cbr-bare.mp3"_s, 7.0, 440, bareCbr) << 7 << 44100 << 2;
    // The tag is 2 s at the file's rate, and small enough for the audio to reach three quarters
    // of the file.
    const QString withTags = Fixtures::makeTone(d, u"len-cbr-tags.mp3"_s, 10.0, 440, bareCbr);
    const QByteArray bigApe = Fixtures::apeTag(QString(36000, u'x'), u"a"_s);
    QTest::newRow("CBR without header, 36 KB APE and ID3v1 at the end")
        << (!withTags.isEmpty() &&
                    Fixtures::appendToFile(withTags, bigApe + Fixtures::id3v1("t", "a"))
                ? withTags
                : QString())
        << 10 << 44100 << 2;
    Fixtures::ToneOptions slow = bareCbr;
    slow.bitrateKbps = 64;
    Fixtures::ToneOptions fast = bareCbr;
    fast.bitrateKbps = 320;
    const QString slowPart = Fixtures::makeTone(d, u"len-64.mp3"_s, 3.0, 440, slow);
    const QString fastPart = Fixtures::makeTone(d, u"len-320.mp3"_s, 3.0, 440, fast);
    QTest::newRow("64 then 320 kbit/s without header")
        << (!slowPart.isEmpty() && !fastPart.isEmpty() &&
                    Fixtures::appendToFile(slowPart, Fixtures::readFile(fastPart))
                ? slowPart
                : QString())
        << 6 << 44100 << 2;

    // Headers that are missing, false or outdated: the file's own frames decide.
    QTest::newRow("VBR with VBRI header")
        << withVbriHeader(Fixtures::makeTwoTones(d, u"vbri.src.mp3"_s, 1.0, 440, 9.0, 3000, bare),
                          path(u"vbri.mp3"_s))
        << 10 << 44100 << 2;
    QTest::newRow("Xing frame count 0xFFFFFFFF")
        << overwritten(Fixtures::makeTone(d, u"huge.src.mp3"_s, 7.0, 440, vbr), path(u"huge.mp3"_s),
                       44, "\xFF\xFF\xFF\xFF")
        << 7 << 44100 << 2;
    // A header is believed only when the file agrees with it: a VBR file whose Xing header
    // states its bytes, cut to 45 %; a CBR file whose Info header states half its frames.
    const QString vbr7 = Fixtures::makeTone(d, u"cut45.src.mp3"_s, 7.0, 440, vbr);
    const QList<qint64> vbrFrames = vbr7.isEmpty() ? QList<qint64>{} : Fixtures::frameOffsets(vbr7);
    QTest::newRow("VBR cut to 45 % after its Xing header")
        << firstFrames(vbr7, path(u"cut45.mp3"_s), int(vbrFrames.size() * 45 / 100)) << 3 << 44100
        << 2;
    const QString cbr7 = Fixtures::makeTone(d, u"half.src.mp3"_s, 7.0, 440);
    const auto cbrFrames = quint32(cbr7.isEmpty() ? 0 : Fixtures::frameOffsets(cbr7).size() - 1);
    QTest::newRow("Info header stating half its frames")
        << overwritten(cbr7, path(u"half.mp3"_s), 44, bigEndian32(cbrFrames / 2)) << 7 << 44100
        << 2;
    QTest::newRow("cut short after its Info header")
        << firstFrames(Fixtures::makeTone(d, u"cut7.src.mp3"_s, 7.0, 440), path(u"cut7.mp3"_s), 118)
        << 3 << 44100 << 2;
}

void TestEngine::openGivesTheRealLength()
{
    QFETCH(QString, file);
    QFETCH(int, seconds);
    QFETCH(int, rate);
    QFETCH(int, channels);
    KELPA_VERIFY_FIXTURE(file);
    // As in the player, the file's tags are read before it is opened.
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    QVERIFY(engine_.getFileInfo(QFile::encodeName(file), tag, stream) != 0);
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(QFile::encodeName(file), record) != 0);
    QCOMPARE(record.TotalSeconds, seconds);
    QCOMPARE(record.SampleRate, rate);
    QCOMPARE(record.Channels, channels);
    engine_.close();
}

int TestEngine::openedSeconds(const QString &file)
{
    EngineLibrary::OpenRecord record{};
    const bool opened = engine_.open(QFile::encodeName(file), record) != 0;
    engine_.close();
    return opened ? record.TotalSeconds : -1;
}

bool TestEngine::readInfo(const QString &file)
{
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    return engine_.getFileInfo(QFile::encodeName(file), tag, stream) != 0;
}

void TestEngine::openEstimatesALengthNotCounted_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("seconds");  // counted, once its tags were read
    QTest::addColumn<int>("estimate"); // when opened before that
    QTest::addColumn<int>("slack");    // seconds the estimate may be off from run to run
    const QString d = dir_.path();
    Fixtures::ToneOptions vbr;
    vbr.vbr = true;
    Fixtures::ToneOptions bare = vbr;
    bare.noXingHeader = true;
    // The tones are dithered afresh on every run: a VBR file's frames, and so the estimate,
    // vary a little, within 10 % or a second of the true length.
    const QString two = Fixtures::makeTwoTones(d, u"est-two.mp3"_s, 1.0, 440, 9.0, 3000, bare);
    QTest::newRow("VBR without header") << two << 10 << 10 << 1;
    QTest::newRow("VBR without header, 11 copies of 10 s")
        << repeated(two, path(u"est-copies.mp3"_s), 11) << 110 << 110 << 11;
    QTest::newRow("Xing frame count 0xFFFFFFFF")
        << overwritten(Fixtures::makeTone(d, u"est-huge.src.mp3"_s, 7.0, 440, vbr),
                       path(u"est-huge.mp3"_s), 44, "\xFF\xFF\xFF\xFF")
        << 7 << 7 << 1;
    // What sampling misjudges most, an abrupt change of rate: 3 s at 64 kbit/s, then 3 s at 320
    // (of fixed sizes, the same on every run), sampled once at 64 and three times at 320.
    Fixtures::ToneOptions slow;
    slow.noXingHeader = true;
    slow.bitrateKbps = 64;
    Fixtures::ToneOptions fast = slow;
    fast.bitrateKbps = 320;
    const QString slowPart = Fixtures::makeTone(d, u"est-64.mp3"_s, 3.0, 440, slow);
    const QString fastPart = Fixtures::makeTone(d, u"est-320.mp3"_s, 3.0, 440, fast);
    QTest::newRow("64 then 320 kbit/s without header")
        << (!slowPart.isEmpty() && !fastPart.isEmpty() &&
                    Fixtures::appendToFile(slowPart, Fixtures::readFile(fastPart))
                ? slowPart
                : QString())
        << 6 << 7 << 0;
}

// A track opened without its tags read first (not added to the list) is not counted: its
// length is estimated from its size; once the tags are read it is exact.
void TestEngine::openEstimatesALengthNotCounted()
{
    QFETCH(QString, file);
    QFETCH(int, seconds);
    QFETCH(int, estimate);
    QFETCH(int, slack);
    KELPA_VERIFY_FIXTURE(file);
    const int estimated = openedSeconds(file);
    QVERIFY2(std::abs(estimated - estimate) <= slack,
             qPrintable(u"%1 s estimated for %2 s"_s.arg(estimated).arg(seconds)));
    QVERIFY(readInfo(file));
    QCOMPARE(openedSeconds(file), seconds);
}

void TestEngine::changedFileIsNotGivenItsOldLength_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("audio"); // what it holds after the change
    QTest::addColumn<bool>("sameSize");
    QTest::addColumn<bool>("laterTime"); // else it keeps its modification time
    QTest::addColumn<bool>("replaced");  // a new file renamed over it, else rewritten in place
    Fixtures::ToneOptions bare;
    bare.vbr = true;
    bare.noXingHeader = true;
    const QString d = dir_.path();
    const QString first = Fixtures::makeTwoTones(d, u"chg-10.mp3"_s, 1.0, 440, 9.0, 3000, bare);
    // Other audio, of another rate than the first file's whatever part of it is kept: 1 s at
    // 64 kbit/s, then 10 s at 320.
    Fixtures::ToneOptions slow;
    slow.noXingHeader = true;
    slow.bitrateKbps = 64;
    Fixtures::ToneOptions fast = slow;
    fast.bitrateKbps = 320;
    const QString slowPart = Fixtures::makeTone(d, u"chg-64.mp3"_s, 1.0, 440, slow);
    const QString fastPart = Fixtures::makeTone(d, u"chg-320.mp3"_s, 10.0, 440, fast);
    const QByteArray audio = slowPart.isEmpty() || fastPart.isEmpty()
                                 ? QByteArray()
                                 : Fixtures::readFile(slowPart) + Fixtures::readFile(fastPart);
    const QString rows[] = {u"chg-a.mp3"_s, u"chg-b.mp3"_s, u"chg-c.mp3"_s};
    for (const QString &row : rows) {
        if (!first.isEmpty())
            QFile::copy(first, path(row));
    }
    QTest::newRow("rewritten in place, other size, same time")
        << path(rows[0]) << audio << false << false << false;
    QTest::newRow("rewritten in place, same size, later time")
        << path(rows[1]) << audio << true << true << false;
    QTest::newRow("replaced by a file of the same size and time")
        << path(rows[2]) << audio << true << false << true;
}

// A file counted when its tags were read and changed before it is opened is given the length
// of what it holds now: what opening a copy of it gives, not the old count.
void TestEngine::changedFileIsNotGivenItsOldLength()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, audio);
    QFETCH(bool, sameSize);
    QFETCH(bool, laterTime);
    QFETCH(bool, replaced);
    KELPA_VERIFY_FIXTURE(file);
    QVERIFY(!audio.isEmpty());
    QVERIFY(readInfo(file));
    const int counted = openedSeconds(file);
    QCOMPARE(counted, 10);

    const std::optional<timespec> before = modified(file);
    QVERIFY(before);
    const QByteArray now = sameSize ? audio.left(QFileInfo(file).size()) : audio;
    QVERIFY(now.size() > 0 && (!sameSize || now.size() == QFileInfo(file).size()));
    const QString fresh = file + u".fresh"_s; // the same bytes, never read
    QVERIFY(Fixtures::writeFile(fresh, now));
    if (replaced) {
        const QString next = file + u".new"_s;
        QVERIFY(Fixtures::writeFile(next, now));
        QVERIFY(::rename(QFile::encodeName(next).constData(),
                         QFile::encodeName(file).constData()) == 0);
    } else {
        QVERIFY(Fixtures::writeFile(file, now));
    }
    QVERIFY(setModified(file, {before->tv_sec + (laterTime ? 1 : 0), before->tv_nsec}));
    const int expected = openedSeconds(fresh);
    QVERIFY2(expected > 0 && expected != counted, "the new audio must differ in length");
    QCOMPARE(openedSeconds(file), expected);
}

bool TestEngine::waitForEndHeard(SinkRecorder &recorder, int timeoutMs)
{
    if (!waitForState(0, timeoutMs))
        return false;
    // The end is reported up to half a second early: the rest is heard after it.
    return recorder.waitForQuiet(recorder.sampleIndexAt(SinkRecorder::Clock::now()));
}

void TestEngine::idleCallsAreHarmless()
{
    int32_t seconds = -7;
    engine_.stop();
    engine_.close();
    engine_.pause();
    engine_.restart();
    engine_.seek(5);
    engine_.play(); // nothing open: the player reads the 0 as an ended track
    QCOMPARE(engine_.getState(seconds), 0);
    QCOMPARE(seconds, -7); // not touched while idle

    // A truncated file answers either way but never crashes, and open after open works.
    const QString cut = Fixtures::makeTone(dir_.path(), u"cut.mp3"_s, 2.0, 440);
    KELPA_VERIFY_FIXTURE(cut);
    KELPA_VERIFY_FIXTURE(Fixtures::truncate(cut, 9000));
    EngineLibrary::OpenRecord record{};
    engine_.open(QFile::encodeName(cut), record);
    QVERIFY(engine_.open(QFile::encodeName(tone_), record) != 0);
    QCOMPARE(record.TotalSeconds, 3);
    engine_.close();
    QCOMPARE(engine_.getState(seconds), 0);
}

void TestEngine::playIsHeardAndPositionAdvances()
{
    KELPA_REQUIRE_SOUND_SERVER();
    SinkRecorder recorder;
    QVERIFY2(recorder.start(), qPrintable(recorder.error()));
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(QFile::encodeName(tone_), record) != 0);
    QElapsedTimer playing;
    playing.start();
    engine_.play();
    int32_t seconds = -1;
    QCOMPARE(engine_.getState(seconds), 1);
    // The position counts what was heard, never what was only decoded ahead: two seconds of it
    // take two seconds, less the sink's block.
    QVERIFY(waitForPosition(2, 10000));
    QVERIFY2(playing.elapsed() >= 1800,
             qPrintable(u"position 2 after %1 ms"_s.arg(playing.elapsed())));
    QCOMPARE(engine_.getState(seconds), 1);
    engine_.stop();
    const QList<qint16> heard = recorder.stop();
    QVERIFY2(ToneAnalysis::secondsOfTone(heard, 440) >= 1.0, "the tone must be heard in the sink");
    engine_.close();
}

void TestEngine::pauseAndRestartLoseAndRepeatNothing()
{
    KELPA_REQUIRE_SOUND_SERVER();
    const QString file = Fixtures::makeTwoTones(dir_.path(), u"pause.mp3"_s, 2.0, 440, 2.0, 880);
    KELPA_VERIFY_FIXTURE(file);
    SinkRecorder recorder;
    QVERIFY2(recorder.start(), qPrintable(recorder.error()));
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(QFile::encodeName(file), record) != 0);
    engine_.play();
    QVERIFY(waitForPosition(1, 10000));
    engine_.pause();
    int32_t held = -1;
    QCOMPARE(engine_.getState(held), 2);
    // A second of the sink's time in which nothing of the file may be heard.
    QVERIFY(recorder.waitForMore(1000ms));
    int32_t later = -1;
    QCOMPARE(engine_.getState(later), 2);
    QCOMPARE(later, held);
    engine_.restart();
    QVERIFY(waitForEndHeard(recorder, 10000));
    const QList<qint16> heard = recorder.stop();
    // Every second of the file was heard once: nothing dropped at the pause, nothing repeated.
    QVERIFY2(qAbs(ToneAnalysis::secondsOfTone(heard, 440) - 2.0) <= 0.25,
             qPrintable(QString::number(ToneAnalysis::secondsOfTone(heard, 440))));
    QVERIFY2(qAbs(ToneAnalysis::secondsOfTone(heard, 880) - 2.0) <= 0.25,
             qPrintable(QString::number(ToneAnalysis::secondsOfTone(heard, 880))));
}

void TestEngine::seekLandsWithoutOldAudio()
{
    KELPA_REQUIRE_SOUND_SERVER();
    const QString file = Fixtures::makeTwoTones(dir_.path(), u"seek.mp3"_s, 5.0, 440, 3.0, 880);
    KELPA_VERIFY_FIXTURE(file);
    SinkRecorder recorder;
    QVERIFY2(recorder.start(), qPrintable(recorder.error()));
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(QFile::encodeName(file), record) != 0);
    engine_.play();
    QVERIFY(waitForPosition(1, 10000));
    engine_.seek(6);
    int32_t seconds = -1;
    QCOMPARE(engine_.getState(seconds), 1);
    QCOMPARE(seconds, 6);
    QVERIFY(waitForEndHeard(recorder, 10000));
    const QList<qint16> heard = recorder.stop();
    const qsizetype landed = ToneAnalysis::findTone(heard, 880);
    QVERIFY2(landed >= 0, "the second tone must be heard after the seek");
    // Nothing of the first tone after the landing: the buffered audio was dropped.
    QVERIFY(ToneAnalysis::secondsOfTone(heard.mid(landed), 440) == 0.0);
    QVERIFY2(ToneAnalysis::secondsOfTone(heard, 440) <= 1.3,
             "no more of the first tone than played before the seek");
    QVERIFY2(qAbs(ToneAnalysis::secondsOfTone(heard, 880) - 2.0) <= 0.25,
             "the seek lands on second 6 of 8");

    // Seeking while paused lands too and keeps the pause.
    QVERIFY(engine_.open(QFile::encodeName(file), record) != 0);
    engine_.play();
    engine_.pause();
    engine_.seek(2);
    QCOMPARE(engine_.getState(seconds), 2);
    QCOMPARE(seconds, 2);
    engine_.close();
}

void TestEngine::seekIntoJunkReturnsAtOnceAndEnds()
{
    KELPA_REQUIRE_SOUND_SERVER();
    // An Info frame stating 3 s, four audio frames, then 64 MiB of nothing.
    const QString file = firstFrames(tone_, path(u"junk.mp3"_s), 5);
    KELPA_VERIFY_FIXTURE(file);
    KELPA_VERIFY_FIXTURE(Fixtures::truncate(file, qint64{64} << 20));
    QVERIFY(readInfo(file)); // counted there, as the player reads every entry before it opens it
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(QFile::encodeName(file), record) != 0);
    QCOMPARE(record.TotalSeconds, 0);
    engine_.play();
    QElapsedTimer timer;
    timer.start();
    engine_.seek(2);
    int32_t seconds = -1;
    engine_.getState(seconds);
    QVERIFY2(timer.elapsed() < 1000,
             qPrintable(u"the seek held the caller for %1 ms"_s.arg(timer.elapsed())));
    QVERIFY(waitForState(0, 5000));
    engine_.close();
}

void TestEngine::fileSwappedForAFifoNeverHangs()
{
    const QByteArray fifo = QFile::encodeName(path(u"fifo"_s));
    const QByteArray real = QFile::encodeName(tone_);
    const QByteArray link = QFile::encodeName(path(u"x"_s));
    const QByteArray track = QFile::encodeName(path(u"swapped.mp3"_s));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    QCOMPARE(::link(real.constData(), track.constData()), 0);
    EngineLibrary::OpenRecord first{};
    QVERIFY(engine_.open(track, first) != 0);
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        for (int i = 0; !done; ++i) {
            ::unlink(link.constData());
            if (::link((i % 2 ? fifo : real).constData(), link.constData()) == 0)
                ::rename(link.constData(), track.constData());
        }
    });
    auto opens = std::async(std::launch::async, [&] {
        for (int i = 0; i < 300; ++i) {
            EngineLibrary::OpenRecord record{};
            EngineLibrary::TagRecord tag{};
            EngineLibrary::StreamRecord stream{};
            engine_.open(track, record);
            engine_.getFileInfo(track, tag, stream);
        }
    });
    const bool finished = opens.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    done = true;
    swapper.join();
    ::unlink(link.constData());
    if (::link(real.constData(), link.constData()) == 0)
        ::rename(link.constData(), track.constData());
    // Release any open blocked on the FIFO, so that the test can end.
    while (opens.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            ::close(writer);
    }
    QVERIFY2(finished, "opening a file that became a FIFO must not block");
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(track, record) != 0); // the track itself again
    engine_.close();
}

void TestEngine::fifoIsNeverOpened_data()
{
    QTest::addColumn<bool>("throughLink");
    QTest::addColumn<bool>("toPlay");
    QTest::newRow("file info") << false << false;
    QTest::newRow("open") << false << true;
    QTest::newRow("file info through a link") << true << false;
    QTest::newRow("open through a link") << true << true;
}

void TestEngine::fifoIsNeverOpened()
{
    QFETCH(bool, throughLink);
    QFETCH(bool, toPlay);
    const QString fifo = path(u"waiting-%1.mp3"_s.arg(QLatin1StringView(QTest::currentDataTag())));
    const QString link = fifo + u".link.mp3"_s;
    WaitingWriter writer(QFile::encodeName(fifo));
    QVERIFY2(writer.isWaiting(), "the writer must wait on the FIFO first");
    QVERIFY(!throughLink || QFile::link(fifo, link));
    const QByteArray name = QFile::encodeName(throughLink ? link : fifo);
    EngineLibrary::OpenRecord record{};
    EngineLibrary::TagRecord tag{};
    EngineLibrary::StreamRecord stream{};
    QCOMPARE(toPlay ? engine_.open(name, record) : engine_.getFileInfo(name, tag, stream),
             int16_t{0});
    QVERIFY2(!writer.releasedWithin(200), "the FIFO was opened: its waiting writer went on");
}

void TestEngine::trackEndIsReportedInItsLastHalfSecond()
{
    KELPA_REQUIRE_SOUND_SERVER();
    SinkRecorder recorder;
    QVERIFY2(recorder.start(), qPrintable(recorder.error()));
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(QFile::encodeName(tone_), record) != 0);
    QElapsedTimer timer;
    timer.start();
    engine_.play();
    QVERIFY(waitForState(0, 10000));
    // Early enough for the player's tick and the next open to fit before the sound runs out,
    // not so early that the track's last second is cut from the display.
    QVERIFY2(timer.elapsed() >= 2400,
             qPrintable(u"ended after %1 ms of a 3 s track"_s.arg(timer.elapsed())));
    const qsizetype reported = recorder.sampleIndexAt(SinkRecorder::Clock::now());
    QVERIFY(recorder.waitForQuiet(reported));
    const QList<qint16> heard = recorder.stop();
    QVERIFY2(ToneAnalysis::secondsOfTone(heard, 440) >= 2.75,
             "the whole track is heard, its last moments after the reported end too");
    QVERIFY2(ToneAnalysis::secondsOfTone(heard, 440, reported) >= 0.1,
             "the end is reported while the track still sounds");
    engine_.close();
}

void TestEngine::stopKeepsTheFileAndPlayStartsFromTheTop()
{
    KELPA_REQUIRE_SOUND_SERVER();
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(QFile::encodeName(tone_), record) != 0);
    engine_.play();
    QVERIFY(waitForPosition(1, 10000));
    engine_.stop();
    int32_t seconds = -1;
    QCOMPARE(engine_.getState(seconds), 0);
    QElapsedTimer playing;
    playing.start();
    engine_.play();
    QCOMPARE(engine_.getState(seconds), 1);
    QCOMPARE(seconds, 0);
    // From the top, the first second takes a second to be heard.
    QVERIFY(waitForPosition(1, 10000));
    QVERIFY2(playing.elapsed() >= 800,
             qPrintable(u"position 1 after %1 ms"_s.arg(playing.elapsed())));
    engine_.stop();
    engine_.close();
    engine_.play(); // closed: nothing plays
    QCOMPARE(engine_.getState(seconds), 0);
}

namespace {

int threadCount()
{
    return static_cast<int>(
        QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// Whether the sound server lists a client of this process.
bool connectedToSoundServer()
{
    QProcess pactl;
    pactl.start(u"pactl"_s, {u"list"_s, u"clients"_s});
    pactl.waitForFinished(10000);
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    return pactl.readAllStandardOutput().contains("application.process.id = \"" + pid + "\"");
}

} // namespace

void TestEngine::freeEndsTheThreadAndTheConnection()
{
    KELPA_REQUIRE_SOUND_SERVER();
    engine_.free();           // earlier tests left the engine thread running
    connectedToSoundServer(); // threads that running pactl needs exist before counting
    const int before = threadCount();
    EngineLibrary::OpenRecord record{};
    QVERIFY(engine_.open(QFile::encodeName(tone_), record) != 0);
    engine_.play();
    QVERIFY(waitForState(1, 2000));
    QTRY_VERIFY(connectedToSoundServer());
    QVERIFY(threadCount() > before);
    engine_.free();
    QCOMPARE(threadCount(), before);
    QTRY_VERIFY(!connectedToSoundServer());
    int32_t seconds = 0;
    QCOMPARE(engine_.getState(seconds), 0);
}

QTEST_GUILESS_MAIN(TestEngine)
#include "test_engine.moc"
