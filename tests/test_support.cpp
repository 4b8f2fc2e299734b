// Checks the test fixtures and helpers themselves: other tests trust them to make the files
// and to judge the sound they claim to, so each is checked against an independent reader
// (libmpg123, TagLib) or known synthetic data.

#include "support/fixtures.h"
#include "support/sinkrecorder.h"
#include "support/soundserver.h"
#include "support/toneanalysis.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include <apetag.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <mpg123.h>

#include <chrono>
#include <memory>

using namespace ToneAnalysis;
using namespace std::chrono_literals;

namespace {

struct Decoded {
    long rate = 0;
    int channels = 0;
    QList<qint16> mono; // channels averaged
    QString error;
    double seconds() const { return rate ? double(mono.size()) / double(rate) : 0.0; }
};

Decoded decodeMp3(const QString &path)
{
    Decoded d;
    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, void (*)(mpg123_handle *)> h(mpg123_new(nullptr, &err),
                                                                mpg123_delete);
    if (!h) {
        d.error = QStringLiteral("mpg123_new failed");
        return d;
    }
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(h.get());
    const long *rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h.get(), QFile::encodeName(path).constData()) != MPG123_OK) {
        d.error = QStringLiteral("mpg123 cannot open %1").arg(path);
        return d;
    }
    int encoding = 0;
    if (mpg123_getformat(h.get(), &d.rate, &d.channels, &encoding) != MPG123_OK) {
        d.error = QStringLiteral("mpg123 finds no format in %1").arg(path);
        return d;
    }
    QByteArray buf(65536, '\0');
    for (;;) {
        size_t done = 0;
        const int r = mpg123_read(h.get(), reinterpret_cast<unsigned char *>(buf.data()),
                                  size_t(buf.size()), &done);
        const auto *s = reinterpret_cast<const qint16 *>(buf.constData());
        const size_t frames = done / 2 / size_t(d.channels);
        for (size_t i = 0; i < frames; ++i) {
            int sum = 0;
            for (int c = 0; c < d.channels; ++c)
                sum += s[i * size_t(d.channels) + size_t(c)];
            d.mono.append(qint16(sum / d.channels));
        }
        if (r == MPG123_DONE)
            break;
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            d.error = QStringLiteral("mpg123 decode error: %1")
                          .arg(QString::fromUtf8(mpg123_plain_strerror(r)));
            break;
        }
    }
    return d;
}

QList<qint16> mix(const QList<qint16> &a, const QList<qint16> &b)
{
    QList<qint16> out(qMin(a.size(), b.size()));
    for (qsizetype i = 0; i < out.size(); ++i)
        out[i] = qint16(qBound(-32768, int(a[i]) + int(b[i]), 32767));
    return out;
}

QString utf8(const TagLib::String &s)
{
    return QString::fromUtf8(s.toCString(true));
}

} // namespace

class TestSupport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        mpg123_init(); // needed by libmpg123 before 1.27, harmless after
    }

    // ---- tone analysis on synthetic data ----

    void pureSineLevels_data()
    {
        QTest::addColumn<double>("freq");
        QTest::addColumn<double>("amplitude");
        QTest::newRow("440 Hz half scale") << 440.0 << 0.5;
        QTest::newRow("1000 Hz quarter scale") << 1000.0 << 0.25;
        QTest::newRow("437.3 Hz, between DFT bins") << 437.3 << 0.5;
    }
    void pureSineLevels()
    {
        QFETCH(double, freq);
        QFETCH(double, amplitude);
        const QList<qint16> s = sine(freq, 0.5, amplitude, 44100, 0.7);
        const double expectedPower = amplitude * amplitude / 2;
        QVERIFY(qAbs(rms(s, 0, s.size()) - amplitude / std::sqrt(2.0)) < 0.002);
        const double p = goertzelPower(s, 1000, 1000 + 4410, freq);
        QVERIFY2(qAbs(p - expectedPower) < 0.03 * expectedPower,
                 qPrintable(QStringLiteral("power %1, expected %2").arg(p).arg(expectedPower)));
        QVERIFY(toneShare(s, 0, 4410, freq) > 0.95);
        // Another test frequency and a near one, 60 Hz off, show (almost) nothing.
        QVERIFY(goertzelPower(s, 0, 4410, freq == 1000.0 ? 440.0 : 1000.0) < 0.001 * expectedPower);
        QVERIFY(toneShare(s, 0, 4410, freq + 60) < 0.05);
        QVERIFY(hasTone(s, 0, 4410, freq));
        QVERIFY(!hasTone(s, 0, 4410, freq + 60));
        QVERIFY(!isSilent(s, 0, s.size()));
    }

    void mixesSilenceAndNoise()
    {
        const QList<qint16> a = sine(440, 0.2, 0.4);
        const QList<qint16> b = sine(1000, 0.2, 0.4);
        const QList<qint16> even = mix(a, b);
        QVERIFY(qAbs(toneShare(even, 0, even.size(), 440) - 0.5) < 0.05);
        QVERIFY(!hasTone(even, 0, even.size(), 440));
        QVERIFY(!hasTone(even, 0, even.size(), 1000));

        const QList<qint16> mostlyA = mix(a, sine(1000, 0.2, 0.05));
        QVERIFY(hasTone(mostlyA, 0, mostlyA.size(), 440));
        QVERIFY(!hasTone(mostlyA, 0, mostlyA.size(), 1000));

        const QList<qint16> silence(8820, 0);
        QCOMPARE(rms(silence, 0, silence.size()), 0.0);
        QCOMPARE(toneShare(silence, 0, silence.size(), 440), 0.0);
        QVERIFY(isSilent(silence, 0, silence.size()));
        QVERIFY(!hasTone(silence, 0, silence.size(), 440));

        // Loud enough in shape but too quiet to count as heard.
        const QList<qint16> faint = sine(440, 0.2, 0.005);
        QVERIFY(toneShare(faint, 0, faint.size(), 440) > 0.9);
        QVERIFY(!hasTone(faint, 0, faint.size(), 440));

        QRandomGenerator rng(1234);
        QList<qint16> noise(8820);
        for (qint16 &x : noise)
            x = qint16(rng.bounded(-10000, 10000));
        QVERIFY(!hasTone(noise, 0, noise.size(), 440));
        QVERIFY(!hasTone(noise, 0, noise.size(), 1000));
        QVERIFY(!isSilent(noise, 0, noise.size()));
    }

    void rangesAreClamped()
    {
        const QList<qint16> s = sine(440, 0.1, 0.5);
        QCOMPARE(rms(s, -100, s.size() + 100), rms(s, 0, s.size()));
        QCOMPARE(goertzelPower(s, -5, s.size() + 5, 440), goertzelPower(s, 0, s.size(), 440));
        QCOMPARE(rms(s, 50, 10), 0.0);
        QCOMPARE(goertzelPower(s, s.size(), s.size() + 10, 440), 0.0);
    }

    void findsOnsets()
    {
        QList<qint16> s(22050, 0); // 0.5 s of silence
        s += sine(1000, 0.5, 0.5);
        const qsizetype tone = findTone(s, 1000);
        QVERIFY2(tone > 22050 - 2205 && tone <= 22050, qPrintable(QString::number(tone)));
        QCOMPARE(findTone(s, 440), qsizetype(-1));
        const qsizetype sound = findSound(s);
        QVERIFY2(sound > 22050 - 441 && sound <= 22050, qPrintable(QString::number(sound)));
        QCOMPARE(findSound(s, 0, 441, 0.9), qsizetype(-1));
    }

    // Holes in the sound, as a join between two tracks leaves them.
    void longestSilenceFindsHoles_data()
    {
        QTest::addColumn<double>("freq");
        QTest::addColumn<int>("holeSamples");
        QTest::addColumn<int>("faintLevel"); // what fills the hole, in 16-bit steps
        QTest::newRow("no hole, 440 Hz") << 440.0 << 0 << 0;
        QTest::newRow("no hole, 1320 Hz") << 1320.0 << 0 << 0;
        QTest::newRow("one millisecond") << 440.0 << 44 << 0;
        QTest::newRow("a tick's worth") << 1320.0 << 13230 << 0;
        QTest::newRow("faint hiss counts as silence") << 440.0 << 882 << 60;
    }
    void longestSilenceFindsHoles()
    {
        QFETCH(double, freq);
        QFETCH(int, holeSamples);
        QFETCH(int, faintLevel);
        QList<qint16> s = sine(freq, 0.3, 0.5);
        for (int i = 0; i < holeSamples; ++i)
            s.append(qint16(i % 2 ? faintLevel : -faintLevel));
        s += sine(freq == 440.0 ? 1320.0 : 440.0, 0.3, 0.5, 44100, 1.0);
        const qsizetype longest = longestSilence(s, 0, s.size());
        // A zero crossing of the tone may lengthen the hole by a sample at each side.
        QVERIFY2(longest >= holeSamples && longest <= holeSamples + 2,
                 qPrintable(QString::number(longest)));
        QCOMPARE(longestSilence(s, -10, 1000), longestSilence(s, 0, 1000)); // range clamped
        QCOMPARE(longestSilence(QList<qint16>(500, 0), 100, 300), qsizetype(200));
    }

    // ---- byte-exact tag blocks ----

    void id3v1Layout()
    {
        const QByteArray sjisTitle("\x83\x65\x83\x58\x83\x67"); // "テスト" in Shift_JIS
        const QByteArray tag = Fixtures::id3v1(sjisTitle, QByteArray(40, 'a'));
        QCOMPARE(tag.size(), 128);
        QCOMPARE(tag.left(3), QByteArray("TAG"));
        QCOMPARE(tag.mid(3, 30), sjisTitle + QByteArray(24, '\0'));
        QCOMPARE(tag.mid(33, 30), QByteArray(30, 'a')); // cut to the field
        QCOMPARE(tag.mid(63, 64), QByteArray(64, '\0'));
        QCOMPARE(quint8(tag.at(127)), quint8(255));
    }

    void id3v2Layout()
    {
        using namespace Fixtures;
        QCOMPARE(syncsafe(0x7F), QByteArray("\x00\x00\x00\x7F", 4));
        QCOMPARE(syncsafe(214), QByteArray("\x00\x00\x01\x56", 4));
        QCOMPARE(syncsafe(0x0FFFFFFF), QByteArray("\x7F\x7F\x7F\x7F", 4));

        const QByteArray v23 = id3v2({id3TextFrame("TIT2", QStringLiteral("abc"), Latin1)}, 3, 200);
        const QByteArray frame("TIT2\x00\x00\x00\x04\x00\x00\x00"
                               "abc",
                               14);
        QCOMPARE(v23,
                 QByteArray("ID3\x03\x00\x00\x00\x00\x01\x56", 10) + frame + QByteArray(200, '\0'));

        // A 200-byte body: plain big-endian size in 2.3, syncsafe in 2.4.
        const Id3Frame big = id3RawTextFrame("TPE1", 0, QByteArray(199, 'x'));
        QCOMPARE(id3v2({big}, 3).mid(14, 4), QByteArray("\x00\x00\x00\xC8", 4));
        QCOMPARE(id3v2({big}, 4).mid(14, 4), QByteArray("\x00\x00\x01\x48", 4));
        QCOMPARE(id3v2({big}, 4).at(3), '\x04');

        QCOMPARE(id3TextFrame("TIT2", QStringLiteral("A\u3042"), Utf16Bom).body,
                 QByteArray("\x01\xFF\xFE\x41\x00\x42\x30", 7));
        QCOMPARE(id3TextFrame("TIT2", QStringLiteral("A\u3042"), Utf16BE).body,
                 QByteArray("\x02\x00\x41\x30\x42", 5));
        QCOMPARE(id3TextFrame("TIT2", QStringLiteral("\u3042"), Utf8).body,
                 QByteArray("\x03\xE3\x81\x82", 4));
        QCOMPARE(id3RawTextFrame("TIT2", 0, "\x83\x65").body, QByteArray("\x00\x83\x65", 3));
    }

    void apeLayout()
    {
        const QByteArray tag = Fixtures::apeTag(QStringLiteral("T"), QStringLiteral("\u3042"));
        // items: 4 size + 4 flags + "Title\0" + "T" = 15; 4 + 4 + "Artist\0" + 3 bytes = 18
        QCOMPARE(tag.size(), 32 + 15 + 18 + 32);
        const QByteArray header = tag.left(32), footer = tag.right(32);
        QCOMPARE(header.left(8), QByteArray("APETAGEX"));
        QCOMPARE(footer.left(8), QByteArray("APETAGEX"));
        QCOMPARE(footer.mid(8, 4), QByteArray("\xD0\x07\x00\x00", 4));  // version 2000
        QCOMPARE(footer.mid(12, 4), QByteArray("\x41\x00\x00\x00", 4)); // 33 + 32 bytes
        QCOMPARE(footer.mid(16, 4), QByteArray("\x02\x00\x00\x00", 4)); // two items
        QCOMPARE(footer.mid(20, 4), QByteArray("\x00\x00\x00\x80", 4)); // has a header
        QCOMPARE(header.mid(20, 4), QByteArray("\x00\x00\x00\xA0", 4)); // ... and is it
        QCOMPARE(tag.mid(32, 15), QByteArray("\x01\x00\x00\x00\x00\x00\x00\x00Title\x00T", 15));
        const QByteArray noHeader = Fixtures::apeTag(QStringLiteral("T"), QString(), false);
        QCOMPARE(noHeader.size(), 15 + 32);
        QCOMPARE(noHeader.right(32).mid(16, 8), QByteArray("\x01\x00\x00\x00\x00\x00\x00\x00", 8));
    }

    // ---- MP3 files, read back by independent readers ----

    void makeToneDecodes_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("vbr");
        QTest::addColumn<bool>("noXing");
        QTest::addColumn<QByteArray>("header"); // what the first frame carries
        QTest::newRow("CBR stereo 44.1k") << 44100 << 2 << false << false << QByteArray("Info");
        QTest::newRow("VBR stereo 44.1k") << 44100 << 2 << true << false << QByteArray("Xing");
        QTest::newRow("CBR no header") << 44100 << 2 << false << true << QByteArray();
        QTest::newRow("VBR no header") << 44100 << 2 << true << true << QByteArray();
        QTest::newRow("CBR mono 22.05k") << 22050 << 1 << false << false << QByteArray("Info");
        QTest::newRow("VBR mono 22.05k") << 22050 << 1 << true << false << QByteArray("Xing");
    }
    void makeToneDecodes()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(bool, vbr);
        QFETCH(bool, noXing);
        QFETCH(QByteArray, header);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Fixtures::ToneOptions o;
        o.sampleRate = rate;
        o.channels = channels;
        o.vbr = vbr;
        o.noXingHeader = noXing;
        const QString f = Fixtures::makeTone(dir.path(), QStringLiteral("tone.mp3"), 2.0, 1000, o);
        KELPA_VERIFY_FIXTURE(f);
        QVERIFY(!QFile::exists(f + QStringLiteral(".src.wav"))); // no leftovers

        const QByteArray bytes = Fixtures::readFile(f);
        QCOMPARE(quint8(bytes.at(0)), quint8(0xFF)); // a frame first: no ID3v2 tag
        QVERIFY(!bytes.right(128).startsWith("TAG"));
        QVERIFY(!bytes.contains("APETAGEX"));
        const QByteArray firstFrame = bytes.left(200);
        if (header.isEmpty())
            QVERIFY(!firstFrame.contains("Xing") && !firstFrame.contains("Info"));
        else
            QVERIFY(firstFrame.contains(header));

        const Decoded d = decodeMp3(f);
        QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
        QCOMPARE(d.rate, long(rate));
        QCOMPARE(d.channels, channels);
        // Without the header the decoder cannot drop the encoder's delay and padding.
        QVERIFY2(d.seconds() >= 1.99 && d.seconds() <= (noXing ? 2.1 : 2.01),
                 qPrintable(QString::number(d.seconds())));
        QVERIFY(hasTone(d.mono, rate / 4, rate * 7 / 4, 1000, rate));
        QVERIFY(toneShare(d.mono, rate / 4, rate * 7 / 4, 1000, rate) > 0.95);
        QVERIFY(qAbs(rms(d.mono, rate / 4, rate * 7 / 4) - 0.5 / std::sqrt(2.0)) < 0.03);
    }

    void makeTwoTonesDecodes()
    {
        QTemporaryDir dir;
        const QString f =
            Fixtures::makeTwoTones(dir.path(), QStringLiteral("two.mp3"), 1.5, 440, 1.0, 1000);
        KELPA_VERIFY_FIXTURE(f);
        const Decoded d = decodeMp3(f);
        QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
        QVERIFY(qAbs(d.seconds() - 2.5) < 0.01);
        const int r = int(d.rate);
        QVERIFY(hasTone(d.mono, r / 10, r * 14 / 10, 440, r));
        QVERIFY(!hasTone(d.mono, r / 10, r * 14 / 10, 1000, r));
        QVERIFY(hasTone(d.mono, r * 16 / 10, r * 24 / 10, 1000, r));
        QVERIFY(!hasTone(d.mono, r * 16 / 10, r * 24 / 10, 440, r));
        const qsizetype change = findTone(d.mono, 1000, 0, 2205, r);
        QVERIFY2(qAbs(change - qsizetype(r * 1.5)) < 2205, qPrintable(QString::number(change)));
    }

    void tagsReadByTagLib()
    {
        using namespace Fixtures;
        QTemporaryDir dir;
        const QString title = QStringLiteral("\u65e5\u672c\u8a9e\u30bf\u30a4\u30c8\u30eb");
        const QString artist = QStringLiteral("\u30a2\u30fc\u30c6\u30a3\u30b9\u30c8");

        const QString v23 = makeTone(dir.path(), QStringLiteral("v23.mp3"), 0.5, 440);
        KELPA_VERIFY_FIXTURE(v23);
        KELPA_VERIFY_FIXTURE(
            prependToFile(v23, id3v2({id3TextFrame("TIT2", title, Utf16Bom),
                                      id3TextFrame("TPE1", QStringLiteral("Plain"), Latin1)},
                                     3, 64)));
        {
            TagLib::MPEG::File mf(QFile::encodeName(v23).constData());
            QVERIFY(mf.isValid() && mf.hasID3v2Tag());
            QCOMPARE(mf.ID3v2Tag()->header()->majorVersion(), 3u);
            QCOMPARE(utf8(mf.ID3v2Tag()->title()), title);
            QCOMPARE(utf8(mf.ID3v2Tag()->artist()), QStringLiteral("Plain"));
            QVERIFY(!mf.hasID3v1Tag() && !mf.hasAPETag());
        }

        const QString v24 = makeTone(dir.path(), QStringLiteral("v24.mp3"), 0.5, 440);
        KELPA_VERIFY_FIXTURE(v24);
        const QString longTitle = title.repeated(20); // frame size above 127: syncsafe matters
        KELPA_VERIFY_FIXTURE(prependToFile(
            v24,
            id3v2({id3TextFrame("TIT2", longTitle, Utf8), id3TextFrame("TPE1", artist, Utf8)}, 4)));
        {
            TagLib::MPEG::File mf(QFile::encodeName(v24).constData());
            QVERIFY(mf.isValid() && mf.hasID3v2Tag());
            QCOMPARE(mf.ID3v2Tag()->header()->majorVersion(), 4u);
            QCOMPARE(utf8(mf.ID3v2Tag()->title()), longTitle);
            QCOMPARE(utf8(mf.ID3v2Tag()->artist()), artist);
        }

        const QString ape = makeTone(dir.path(), QStringLiteral("ape.mp3"), 0.5, 440);
        KELPA_VERIFY_FIXTURE(ape);
        KELPA_VERIFY_FIXTURE(appendToFile(ape, apeTag(title, artist)));
        KELPA_VERIFY_FIXTURE(appendToFile(ape, id3v1("One", "Two")));
        {
            TagLib::MPEG::File mf(QFile::encodeName(ape).constData());
            QVERIFY(mf.isValid() && mf.hasAPETag() && mf.hasID3v1Tag());
            QCOMPARE(utf8(mf.APETag()->title()), title);
            QCOMPARE(utf8(mf.APETag()->artist()), artist);
            QCOMPARE(utf8(mf.ID3v1Tag()->title()), QStringLiteral("One"));
            QCOMPARE(utf8(mf.ID3v1Tag()->artist()), QStringLiteral("Two"));
        }
    }

    void fileHelpers()
    {
        QTemporaryDir dir;
        const QString f = dir.filePath(QStringLiteral("f.bin"));
        KELPA_VERIFY_FIXTURE(Fixtures::writeFile(f, "middle"));
        KELPA_VERIFY_FIXTURE(Fixtures::prependToFile(f, "<<"));
        KELPA_VERIFY_FIXTURE(Fixtures::appendToFile(f, ">>"));
        QCOMPARE(Fixtures::readFile(f), QByteArray("<<middle>>"));
        KELPA_VERIFY_FIXTURE(Fixtures::truncate(f, 4));
        QCOMPARE(Fixtures::readFile(f), QByteArray("<<mi"));
        QVERIFY(!Fixtures::truncate(dir.filePath(QStringLiteral("missing")), 1));
        QVERIFY(Fixtures::lastError().contains(QStringLiteral("missing")));
    }

    void failuresCarryTheReason()
    {
        // A file lame cannot write: the failure names the tool and what it said.
        const QString f = Fixtures::makeTone(QStringLiteral("/nonexistent-dir"),
                                             QStringLiteral("x.mp3"), 0.1, 440);
        QVERIFY(f.isEmpty());
        QVERIFY2(Fixtures::lastError().contains(QStringLiteral("sox")),
                 qPrintable(Fixtures::lastError()));
        QVERIFY(Fixtures::lastError().contains(QStringLiteral("exit code")));
    }

    // ---- the sound harness: what is played into the null sink is recorded ----

    void recorderHearsPlayback()
    {
        KELPA_REQUIRE_SOUND_SERVER();
        QTemporaryDir dir;
        const QString wav =
            Fixtures::makeToneWav(dir.path(), QStringLiteral("tone.wav"), 1.0, 1000);
        KELPA_VERIFY_FIXTURE(wav);

        SinkRecorder rec;
        QVERIFY2(rec.start(), qPrintable(rec.error()));
        QVERIFY(rec.waitForMore(300ms)); // silence before the tone
        const auto asked = SinkRecorder::Clock::now();
        QProcess play;
        play.start(QStringLiteral("paplay"), {wav});
        QVERIFY(play.waitForStarted(5000));
        // paplay returns once its sound has been played; keep the event loop (and with it
        // the recorder) running meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(play.state() == QProcess::NotRunning, 10000);
        QCOMPARE(play.exitCode(), 0);
        // Long enough after the tone to see that nothing follows it.
        QVERIFY(rec.waitForQuiet(rec.sampleIndexAt(SinkRecorder::Clock::now()), 300ms));
        const QList<qint16> s = rec.stop();
        QVERIFY(!rec.isRecording());

        const int r = rec.sampleRate();
        const qsizetype onset = findTone(s, 1000, 0, r / 20, r);
        QVERIFY2(onset >= 0,
                 qPrintable(QStringLiteral("the played tone was not recorded: %1 samples, "
                                           "sound from %2, RMS %3, 1 kHz share %4")
                                .arg(s.size())
                                .arg(findSound(s))
                                .arg(rms(s, 0, s.size()))
                                .arg(toneShare(s, 0, s.size(), 1000, r))));
        QVERIFY(isSilent(s, 0, onset - r / 50));
        QVERIFY(hasTone(s, onset + r / 5, onset + r * 8 / 10, 1000, r));
        QVERIFY(!hasTone(s, onset + r / 5, onset + r * 8 / 10, 440, r));
        const qsizetype end = findSound(s, onset + r * 12 / 10, r / 100);
        QVERIFY2(end == -1, "sound went on after the one-second tone");
        QVERIFY(s.size() >= onset + r * 12 / 10);

        // The recording's clock puts the tone after it was asked for, and not much later.
        const qsizetype start = findSound(s, 0, r / 200);
        QVERIFY(start >= onset && start < onset + r / 20);
        const auto heard =
            std::chrono::duration_cast<std::chrono::milliseconds>(rec.timeOfSample(start) - asked);
        qInfo("tone heard %lld ms after paplay was started", qlonglong(heard.count()));
        // Starting paplay may take a while on a loaded machine; a clock off by the recording's
        // length would put the tone seconds away.
        QVERIFY2(heard > -30ms && heard < 3000ms, qPrintable(QString::number(heard.count())));
        QVERIFY(qAbs(rec.sampleIndexAt(rec.timeOfSample(start)) - start) <= 1);
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "test_support.moc"
