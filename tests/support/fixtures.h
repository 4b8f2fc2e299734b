#pragma once
// Test fixtures made at run time: MP3 files encoded by sox and lame, and tag blocks written
// byte by byte, so that a test states exactly which bytes the code under test sees.
//
// Every function that can fail returns an empty string or false and leaves the reason in
// Fixtures::lastError(); KELPA_VERIFY_FIXTURE turns that into a test failure with the reason.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtTest/QTest>

namespace Fixtures {

struct ToneOptions {
    int sampleRate = 44100;
    int channels = 2;
    bool vbr = false;          // lame -V 4 instead of constant bit rate
    bool noXingHeader = false; // no Xing/Info/LAME header frame at the start
    int bitrateKbps = 128;     // constant bit rate; lowered to what the sample rate allows
};

// Why the last failing call failed (program, arguments, exit code, its error output).
QString lastError();

// A sine tone at half of full scale, as a 16-bit WAV file. Returns the file's path.
QString makeToneWav(const QString &dir, const QString &name, double seconds, double freqHz,
                    int sampleRate = 44100, int channels = 2);

// An untagged MP3 file holding a sine tone at half of full scale. Returns the file's path.
QString makeTone(const QString &dir, const QString &name, double seconds, double freqHz,
                 const ToneOptions &options = {});

// An untagged MP3 file: secondsA of freqA, then secondsB of freqB.
QString makeTwoTones(const QString &dir, const QString &name, double secondsA, double freqA,
                     double secondsB, double freqB, const ToneOptions &options = {});

// ID3v1: the 128-byte "TAG" block. Fields are raw bytes (so Shift_JIS can be passed), cut to
// 30 bytes and padded with NULs; album, year and comment empty, genre 255 (none).
QByteArray id3v1(const QByteArray &title, const QByteArray &artist);

// One ID3v2 frame: its four-letter id and its body (for text frames: the encoding byte and
// the text bytes).
struct Id3Frame {
    QByteArray id;
    QByteArray body;
};

// ID3v2 text encodings, as the encoding byte of a text frame.
enum Id3Encoding : quint8 { Latin1 = 0, Utf16Bom = 1, Utf16BE = 2, Utf8 = 3 };

// A text frame whose text is encoded as the encoding byte says (UTF-16 with the FF FE byte
// order mark for Utf16Bom). No terminating NUL.
Id3Frame id3TextFrame(const QByteArray &id, const QString &text, Id3Encoding encoding);
// A text frame with the given encoding byte followed by the bytes exactly as given.
Id3Frame id3RawTextFrame(const QByteArray &id, quint8 encoding, const QByteArray &bytes);

// 28-bit syncsafe integer, as ID3v2 stores its sizes (7 bits in each of 4 bytes).
QByteArray syncsafe(quint32 value);

// A whole ID3v2.3 or ID3v2.4 tag (majorVersion 3 or 4): header with the syncsafe size,
// the frames (frame sizes plain in 2.3, syncsafe in 2.4), then paddingBytes NULs.
QByteArray id3v2(const QList<Id3Frame> &frames, int majorVersion = 3, int paddingBytes = 0);

// An APEv2 tag: header, "Title" and "Artist" items (UTF-8; an empty value leaves its item
// out), footer. Goes at the end of the file, before an ID3v1 block if there is one.
QByteArray apeTag(const QString &title, const QString &artist, bool withHeader = true);

bool writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path); // empty when it cannot be read (see lastError)
bool prependToFile(const QString &path, const QByteArray &bytes);
bool appendToFile(const QString &path, const QByteArray &bytes);
// Cuts (or extends with NULs) the file to newSize bytes.
bool truncate(const QString &path, qint64 newSize);
// Where each MPEG-1 layer III frame of an untagged file made above starts, as byte offsets;
// the first is the Xing/Info frame when there is one. Empty when the file cannot be read.
QList<qint64> frameOffsets(const QString &path);

inline bool succeeded(bool ok)
{
    return ok;
}
inline bool succeeded(const QString &path)
{
    return !path.isEmpty();
}

} // namespace Fixtures

// Fails the current test function with the fixture's reason when `result` (a path or a
// bool from the functions above) says it failed.
#define KELPA_VERIFY_FIXTURE(result)                                                               \
    QVERIFY2(::Fixtures::succeeded(result), qPrintable(::Fixtures::lastError()))
