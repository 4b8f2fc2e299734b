#pragma once
// Records what the sound server plays: the monitor of the null sink that scripts/test.sh
// sets up (KELPA_NULL_SINK), through parec, as signed 16-bit mono samples.
//
// Samples arrive while the Qt event loop runs (QTest::qWait) and whenever samples() or
// stop() is called. Each arrival is time-stamped, so a sample index can be mapped to the
// steady clock, e.g. to compare when a sound was heard with when it was asked for.

#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>

#include <chrono>
#include <functional>
#include <utility>
#include <vector>

class SinkRecorder : public QObject {
public:
    using Clock = std::chrono::steady_clock;

    // source: a PulseAudio source name; by default "<KELPA_NULL_SINK>.monitor", or the
    // default sink's monitor when KELPA_NULL_SINK is not set.
    explicit SinkRecorder(const QString &source = {}, int sampleRate = 44100,
                          QObject *parent = nullptr);
    ~SinkRecorder() override;

    // Starts parec and returns once sound data flows (PulseAudio's null sink takes up to a
    // couple of seconds to deliver its first block), so nothing played afterwards is missed.
    // False with error() set when parec cannot start or no data comes within timeoutMs.
    bool start(int timeoutMs = 10000);
    // Ends the recording and returns every sample recorded since start().
    QList<qint16> stop();
    // The samples recorded so far; the recording goes on.
    QList<qint16> samples();
    // Waits (running the event loop) until at least `count` samples were recorded.
    bool waitForSamples(qsizetype count, int timeoutMs = 10000);
    // Waits until the sink has played this much more than was recorded so far: time as the
    // sound server counts it, for what must not be heard meanwhile.
    bool waitForMore(std::chrono::milliseconds played, int timeoutMs = 10000);
    // Waits until the recording reaches past sample `from` and ends in `quiet` of silence:
    // whatever sounded has been heard to its end. Whether it sounded is for the caller to see.
    bool waitForQuiet(qsizetype from,
                      std::chrono::milliseconds quiet = std::chrono::milliseconds(100),
                      int timeoutMs = 10000);
    // Waits until the recording holds `length` of freqHz from sample `from` on.
    bool waitForTone(double freqHz, qsizetype from, std::chrono::milliseconds length,
                     int timeoutMs = 10000);

    bool isRecording() const;
    QString error() const { return m_error; }
    QString source() const { return m_source; }
    int sampleRate() const { return m_rate; }

    // Steady-clock time at which sample 0 was mixed by the sink. Data never arrives before it
    // is mixed, so the earliest arrival less the duration of the data before it bounds it best;
    // the estimate improves as more data arrives. The sink mixes one block (about 20 ms) ahead
    // of playing it, so a sample's time may read up to that much early: allow for it.
    Clock::time_point startTime() const;
    Clock::time_point timeOfSample(qsizetype index) const;
    qsizetype sampleIndexAt(Clock::time_point t) const;
    qsizetype samplesFor(std::chrono::milliseconds d) const;

private:
    void readPending();
    // Runs the event loop until what was recorded so far satisfies heard.
    bool waitUntil(const std::function<bool(const QList<qint16> &)> &heard, int timeoutMs);

    QString m_source;
    int m_rate;
    QProcess m_proc;
    QByteArray m_partial;
    QList<qint16> m_samples;
    // (arrival time, samples recorded up to and including this arrival)
    std::vector<std::pair<Clock::time_point, qsizetype>> m_arrivals;
    QString m_error;
};
