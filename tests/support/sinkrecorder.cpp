#include "sinkrecorder.h"

#include "toneanalysis.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <algorithm>
#include <cstring>

SinkRecorder::SinkRecorder(const QString &source, int sampleRate, QObject *parent)
    : QObject(parent), m_source(source), m_rate(sampleRate)
{
    if (m_source.isEmpty()) {
        const QString sink = qEnvironmentVariable("KELPA_NULL_SINK");
        m_source = sink.isEmpty() ? QStringLiteral("@DEFAULT_MONITOR@")
                                  : sink + QStringLiteral(".monitor");
    }
    connect(&m_proc, &QProcess::readyReadStandardOutput, this, &SinkRecorder::readPending);
}

SinkRecorder::~SinkRecorder()
{
    if (m_proc.state() != QProcess::NotRunning) {
        m_proc.kill();
        m_proc.waitForFinished(5000);
    }
}

bool SinkRecorder::isRecording() const
{
    return m_proc.state() == QProcess::Running;
}

bool SinkRecorder::start(int timeoutMs)
{
    if (m_proc.state() != QProcess::NotRunning) {
        m_error = QStringLiteral("already recording");
        return false;
    }
    m_partial.clear();
    m_samples.clear();
    m_arrivals.clear();
    m_error.clear();
    m_proc.setProcessChannelMode(QProcess::SeparateChannels);
    m_proc.start(QStringLiteral("parec"),
                 {QStringLiteral("-d"), m_source, QStringLiteral("--raw"),
                  QStringLiteral("--format=s16le"), QStringLiteral("--rate=%1").arg(m_rate),
                  QStringLiteral("--channels=1"), QStringLiteral("--latency-msec=20")});
    if (!m_proc.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start parec (%1); scripts/setup.sh installs it")
                      .arg(m_proc.errorString());
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (m_samples.isEmpty()) {
        if (m_proc.state() != QProcess::Running || deadline.hasExpired()) {
            const QString err = QString::fromLocal8Bit(m_proc.readAllStandardError()).trimmed();
            m_error = m_proc.state() != QProcess::Running
                          ? QStringLiteral("parec -d %1 ended: %2").arg(m_source, err)
                          : QStringLiteral("no sound data from %1 within %2 ms %3")
                                .arg(m_source)
                                .arg(timeoutMs)
                                .arg(err);
            m_proc.kill();
            m_proc.waitForFinished(5000);
            return false;
        }
        m_proc.waitForReadyRead(int(qMax<qint64>(1, qMin<qint64>(100, deadline.remainingTime()))));
        readPending();
    }
    return true;
}

void SinkRecorder::readPending()
{
    const QByteArray data = m_proc.readAllStandardOutput();
    if (data.isEmpty())
        return;
    const auto now = Clock::now();
    m_partial += data;
    const qsizetype count = m_partial.size() / 2;
    const qsizetype old = m_samples.size();
    m_samples.resize(old + count);
    // parec writes little-endian samples; this machine is little-endian too.
    std::memcpy(m_samples.data() + old, m_partial.constData(), size_t(count) * 2);
    m_partial.remove(0, count * 2);
    m_arrivals.emplace_back(now, m_samples.size());
}

QList<qint16> SinkRecorder::samples()
{
    readPending();
    return m_samples;
}

bool SinkRecorder::waitUntil(const std::function<bool(const QList<qint16> &)> &heard, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!heard(samples())) {
        if (m_proc.state() != QProcess::Running || deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        m_proc.waitForReadyRead(20);
    }
    return true;
}

bool SinkRecorder::waitForSamples(qsizetype count, int timeoutMs)
{
    return waitUntil([count](const QList<qint16> &heard) { return heard.size() >= count; },
                     timeoutMs);
}

bool SinkRecorder::waitForMore(std::chrono::milliseconds played, int timeoutMs)
{
    return waitForSamples(samples().size() + samplesFor(played), timeoutMs);
}

bool SinkRecorder::waitForQuiet(qsizetype from, std::chrono::milliseconds quiet, int timeoutMs)
{
    const qsizetype length = samplesFor(quiet);
    return waitUntil(
        [&](const QList<qint16> &heard) {
            const qsizetype end = heard.size();
            return end >= std::max<qsizetype>(from, 0) + length &&
                   ToneAnalysis::isSilent(heard, end - length, end);
        },
        timeoutMs);
}

bool SinkRecorder::waitForTone(double freqHz, qsizetype from, std::chrono::milliseconds length,
                               int timeoutMs)
{
    return waitUntil(
        [&](const QList<qint16> &heard) {
            const qsizetype start =
                ToneAnalysis::findTone(heard, freqHz, std::max<qsizetype>(from, 0), 2205, m_rate);
            return start >= 0 &&
                   ToneAnalysis::secondsOfTone(heard, freqHz, start, -1, m_rate) * 1000 >=
                       double(length.count());
        },
        timeoutMs);
}

QList<qint16> SinkRecorder::stop()
{
    readPending();
    if (m_proc.state() != QProcess::NotRunning) {
        m_proc.terminate();
        if (!m_proc.waitForFinished(5000)) {
            m_proc.kill();
            m_proc.waitForFinished(5000);
        }
    }
    readPending();
    return m_samples;
}

SinkRecorder::Clock::time_point SinkRecorder::startTime() const
{
    if (m_arrivals.empty())
        return Clock::time_point{};
    auto best = Clock::time_point::max();
    for (const auto &[arrival, upTo] : m_arrivals) {
        const auto candidate = arrival - std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(double(upTo) / m_rate));
        best = std::min(best, candidate);
    }
    return best;
}

SinkRecorder::Clock::time_point SinkRecorder::timeOfSample(qsizetype index) const
{
    return startTime() + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>(double(index) / m_rate));
}

qsizetype SinkRecorder::sampleIndexAt(Clock::time_point t) const
{
    const std::chrono::duration<double> since = t - startTime();
    return qsizetype(std::llround(since.count() * m_rate));
}

qsizetype SinkRecorder::samplesFor(std::chrono::milliseconds d) const
{
    return qsizetype(d.count()) * m_rate / 1000;
}
