#include "fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QtEndian>

namespace Fixtures {

namespace {

thread_local QString g_lastError;

bool fail(const QString &why)
{
    g_lastError = why;
    return false;
}

// Runs a tool to completion; a tool that is missing, hangs or exits non-zero is a failure
// whose message says how to reproduce it.
bool runTool(const QString &program, const QStringList &args, int timeoutMs = 120000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    const QString command = program + QLatin1Char(' ') + args.join(QLatin1Char(' '));
    if (!p.waitForStarted(10000))
        return fail(QStringLiteral("cannot start %1 (%2); scripts/setup.sh installs it")
                        .arg(program, p.errorString()));
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return fail(QStringLiteral("%1 did not finish within %2 ms").arg(command).arg(timeoutMs));
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return fail(QStringLiteral("%1 failed (exit code %2): %3")
                        .arg(command)
                        .arg(p.exitCode())
                        .arg(err.right(2000)));
    }
    return true;
}

QString num(double v)
{
    return QString::number(v, 'g', 10);
}

QString joinPath(const QString &dir, const QString &name)
{
    return QDir(dir).filePath(name);
}

QStringList synthArgs(const QString &out, double seconds, double freqHz, int rate, int channels)
{
    return {QStringLiteral("-n"),
            QStringLiteral("-r"),
            QString::number(rate),
            QStringLiteral("-c"),
            QString::number(channels),
            QStringLiteral("-b"),
            QStringLiteral("16"),
            QStringLiteral("-e"),
            QStringLiteral("signed-integer"),
            out,
            QStringLiteral("synth"),
            num(seconds),
            QStringLiteral("sine"),
            num(freqHz),
            QStringLiteral("vol"),
            QStringLiteral("0.5")};
}

// Highest layer III bit rate each MPEG version allows (MPEG-2.5 below 16 kHz, MPEG-2 below
// 32 kHz), so that a low sample rate does not make lame refuse the default 128 kbit/s.
int allowedBitrate(int wanted, int sampleRate)
{
    if (sampleRate < 16000)
        return qMin(wanted, 64);
    if (sampleRate < 32000)
        return qMin(wanted, 160);
    return wanted;
}

QString encode(const QString &wav, const QString &mp3, const ToneOptions &o)
{
    QStringList args{QStringLiteral("--quiet")};
    if (o.vbr)
        args << QStringLiteral("-V") << QStringLiteral("4");
    else
        args << QStringLiteral("--cbr") << QStringLiteral("-b")
             << QString::number(allowedBitrate(o.bitrateKbps, o.sampleRate));
    // Without an explicit rate lame may pick a lower output rate for a low bit rate.
    args << QStringLiteral("--resample") << num(o.sampleRate / 1000.0);
    if (o.channels == 1)
        args << QStringLiteral("-m") << QStringLiteral("m");
    if (o.noXingHeader)
        args << QStringLiteral("-t");
    // lame writes no tag unless a tag field is given or it writes to stdout.
    args << wav << mp3;
    QFile::remove(mp3);
    const bool ok = runTool(QStringLiteral("lame"), args);
    QFile::remove(wav);
    if (!ok)
        return {};
    if (QFileInfo(mp3).size() <= 0) {
        fail(QStringLiteral("lame wrote no data to %1").arg(mp3));
        return {};
    }
    return mp3;
}

QByteArray field(const QByteArray &bytes, int size)
{
    QByteArray f = bytes.left(size);
    f.append(QByteArray(size - f.size(), '\0'));
    return f;
}

QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray apeHeaderOrFooter(quint32 tagSize, quint32 itemCount, bool isHeader, bool hasHeader)
{
    quint32 flags = 0;
    if (hasHeader)
        flags |= 1u << 31;
    if (isHeader)
        flags |= 1u << 29;
    return QByteArrayLiteral("APETAGEX") + le32(2000) + le32(tagSize) + le32(itemCount) +
           le32(flags) + QByteArray(8, '\0');
}

} // namespace

QString lastError()
{
    return g_lastError;
}

QString makeToneWav(const QString &dir, const QString &name, double seconds, double freqHz,
                    int sampleRate, int channels)
{
    const QString out = joinPath(dir, name);
    if (!runTool(QStringLiteral("sox"), synthArgs(out, seconds, freqHz, sampleRate, channels)))
        return {};
    return out;
}

QString makeTone(const QString &dir, const QString &name, double seconds, double freqHz,
                 const ToneOptions &options)
{
    const QString wav = makeToneWav(dir, name + QStringLiteral(".src.wav"), seconds, freqHz,
                                    options.sampleRate, options.channels);
    if (wav.isEmpty())
        return {};
    return encode(wav, joinPath(dir, name), options);
}

QString makeTwoTones(const QString &dir, const QString &name, double secondsA, double freqA,
                     double secondsB, double freqB, const ToneOptions &options)
{
    const QString a = makeToneWav(dir, name + QStringLiteral(".a.wav"), secondsA, freqA,
                                  options.sampleRate, options.channels);
    if (a.isEmpty())
        return {};
    const QString b = makeToneWav(dir, name + QStringLiteral(".b.wav"), secondsB, freqB,
                                  options.sampleRate, options.channels);
    if (b.isEmpty()) {
        QFile::remove(a);
        return {};
    }
    const QString both = joinPath(dir, name + QStringLiteral(".src.wav"));
    const bool ok = runTool(QStringLiteral("sox"), {a, b, both}); // sox concatenates inputs
    QFile::remove(a);
    QFile::remove(b);
    if (!ok)
        return {};
    return encode(both, joinPath(dir, name), options);
}

QByteArray id3v1(const QByteArray &title, const QByteArray &artist)
{
    QByteArray tag = QByteArrayLiteral("TAG");
    tag += field(title, 30);
    tag += field(artist, 30);
    tag += field({}, 30); // album
    tag += field({}, 4);  // year
    tag += field({}, 30); // comment
    tag += char(0xFF);    // genre: none
    return tag;
}

Id3Frame id3TextFrame(const QByteArray &id, const QString &text, Id3Encoding encoding)
{
    QByteArray bytes;
    switch (encoding) {
    case Latin1:
        bytes = text.toLatin1();
        break;
    case Utf16Bom:
        bytes = QByteArrayLiteral("\xFF\xFE");
        for (QChar c : text) {
            bytes += char(c.unicode() & 0xFF);
            bytes += char(c.unicode() >> 8);
        }
        break;
    case Utf16BE:
        for (QChar c : text) {
            bytes += char(c.unicode() >> 8);
            bytes += char(c.unicode() & 0xFF);
        }
        break;
    case Utf8:
        bytes = text.toUtf8();
        break;
    }
    return id3RawTextFrame(id, encoding, bytes);
}

Id3Frame id3RawTextFrame(const QByteArray &id, quint8 encoding, const QByteArray &bytes)
{
    return {id, QByteArray(1, char(encoding)) + bytes};
}

QByteArray syncsafe(quint32 value)
{
    QByteArray b(4, '\0');
    for (int i = 3; i >= 0; --i) {
        b[i] = char(value & 0x7F);
        value >>= 7;
    }
    return b;
}

QByteArray id3v2(const QList<Id3Frame> &frames, int majorVersion, int paddingBytes)
{
    QByteArray body;
    for (const Id3Frame &f : frames) {
        body += field(f.id, 4);
        const auto size = quint32(f.body.size());
        body += majorVersion >= 4 ? syncsafe(size) : be32(size);
        body += QByteArray(2, '\0'); // frame flags
        body += f.body;
    }
    body += QByteArray(paddingBytes, '\0');
    QByteArray tag = QByteArrayLiteral("ID3");
    tag += char(majorVersion);
    tag += char(0); // revision
    tag += char(0); // flags
    tag += syncsafe(quint32(body.size()));
    return tag + body;
}

QByteArray apeTag(const QString &title, const QString &artist, bool withHeader)
{
    QByteArray items;
    quint32 count = 0;
    const auto addItem = [&](const QByteArray &key, const QString &value) {
        if (value.isEmpty())
            return;
        const QByteArray v = value.toUtf8();
        items += le32(quint32(v.size()));
        items += le32(0); // flags: UTF-8 text, read-write
        items += key;
        items += '\0';
        items += v;
        ++count;
    };
    addItem(QByteArrayLiteral("Title"), title);
    addItem(QByteArrayLiteral("Artist"), artist);
    // The size counts the items and the footer, not the header.
    const auto size = quint32(items.size() + 32);
    QByteArray tag;
    if (withHeader)
        tag += apeHeaderOrFooter(size, count, true, true);
    tag += items;
    tag += apeHeaderOrFooter(size, count, false, withHeader);
    return tag;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, f.errorString()));
    if (f.write(bytes) != bytes.size())
        return fail(QStringLiteral("short write to %1: %2").arg(path, f.errorString()));
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
        return {};
    }
    return f.readAll();
}

bool prependToFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
    const QByteArray old = f.readAll();
    f.close();
    return writeFile(path, bytes + old);
}

bool appendToFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return fail(QStringLiteral("cannot append to %1: %2").arg(path, f.errorString()));
    if (f.write(bytes) != bytes.size())
        return fail(QStringLiteral("short write to %1: %2").arg(path, f.errorString()));
    return true;
}

bool truncate(const QString &path, qint64 newSize)
{
    QFile f(path);
    if (!f.exists())
        return fail(QStringLiteral("cannot truncate %1: no such file").arg(path));
    if (!f.resize(newSize))
        return fail(QStringLiteral("cannot truncate %1 to %2 bytes: %3")
                        .arg(path)
                        .arg(newSize)
                        .arg(f.errorString()));
    return true;
}

QList<qint64> frameOffsets(const QString &path)
{
    static constexpr int kKbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                      112, 128, 160, 192, 224, 256, 320, 0};
    static constexpr int kRates[4] = {44100, 48000, 32000, 0};
    const QByteArray bytes = readFile(path);
    QList<qint64> offsets;
    qsizetype pos = 0;
    while (pos + 4 <= bytes.size()) {
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData() + pos);
        const int kbps = kKbps[p[2] >> 4];
        const int rate = kRates[(p[2] >> 2) & 3];
        if (p[0] != 0xFF || (p[1] & 0xFE) != 0xFA || kbps == 0 || rate == 0)
            break;
        offsets.append(pos);
        pos += 144 * kbps * 1000 / rate + ((p[2] >> 1) & 1);
    }
    return offsets;
}

} // namespace Fixtures
