#include "toneanalysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ToneAnalysis {

namespace {

constexpr double fullScale = 32768.0;

// Clamps [from, to) to the data; false when nothing is left.
bool clampRange(const QList<qint16> &s, qsizetype &from, qsizetype &to)
{
    from = qBound<qsizetype>(0, from, s.size());
    to = qBound<qsizetype>(0, to, s.size());
    return to > from;
}

} // namespace

double rms(const QList<qint16> &samples, qsizetype from, qsizetype to)
{
    if (!clampRange(samples, from, to))
        return 0.0;
    double sum = 0.0;
    for (qsizetype i = from; i < to; ++i) {
        const double x = samples[i] / fullScale;
        sum += x * x;
    }
    return std::sqrt(sum / double(to - from));
}

double goertzelPower(const QList<qint16> &samples, qsizetype from, qsizetype to, double freqHz,
                     int sampleRate)
{
    if (!clampRange(samples, from, to) || sampleRate <= 0)
        return 0.0;
    const qsizetype n = to - from;
    const double w = 2.0 * std::numbers::pi * freqHz / sampleRate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0, windowSum = 0.0;
    for (qsizetype i = 0; i < n; ++i) {
        // A Hann window keeps a strong tone nearby from leaking into this frequency.
        const double hann =
            n > 1 ? 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / double(n - 1)) : 1.0;
        windowSum += hann;
        const double s0 = hann * (samples[from + i] / fullScale) + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    if (windowSum <= 0.0)
        return 0.0;
    const double magnitudeSquared = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    // |X| = A/2 * sum(window) for a sine of amplitude A; its mean square is A²/2.
    return 2.0 * magnitudeSquared / (windowSum * windowSum);
}

double toneShare(const QList<qint16> &samples, qsizetype from, qsizetype to, double freqHz,
                 int sampleRate)
{
    const double level = rms(samples, from, to);
    if (level <= 0.0)
        return 0.0;
    return goertzelPower(samples, from, to, freqHz, sampleRate) / (level * level);
}

bool hasTone(const QList<qint16> &samples, qsizetype from, qsizetype to, double freqHz,
             int sampleRate, double minRms)
{
    // An even mix of two tones gives each about 0.5, so a clear majority is asked for.
    return rms(samples, from, to) >= minRms &&
           toneShare(samples, from, to, freqHz, sampleRate) >= 0.6;
}

bool isSilent(const QList<qint16> &samples, qsizetype from, qsizetype to, double maxRms)
{
    return rms(samples, from, to) <= maxRms;
}

qsizetype findTone(const QList<qint16> &samples, double freqHz, qsizetype from,
                   qsizetype windowSamples, int sampleRate)
{
    const qsizetype step = qMax<qsizetype>(1, windowSamples / 8);
    for (qsizetype i = qMax<qsizetype>(0, from); i + windowSamples <= samples.size(); i += step) {
        if (hasTone(samples, i, i + windowSamples, freqHz, sampleRate))
            return i;
    }
    return -1;
}

qsizetype findSound(const QList<qint16> &samples, qsizetype from, qsizetype windowSamples,
                    double minRms)
{
    const qsizetype step = qMax<qsizetype>(1, windowSamples / 8);
    for (qsizetype i = qMax<qsizetype>(0, from); i + windowSamples <= samples.size(); i += step) {
        if (rms(samples, i, i + windowSamples) > minRms)
            return i;
    }
    return -1;
}

qsizetype longestSilence(const QList<qint16> &samples, qsizetype from, qsizetype to,
                         double maxLevel)
{
    if (!clampRange(samples, from, to))
        return 0;
    const double limit = maxLevel * fullScale;
    qsizetype longest = 0;
    qsizetype run = 0;
    for (qsizetype i = from; i < to; ++i) {
        run = std::abs(double(samples[i])) <= limit ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

QList<qint16> sine(double freqHz, double seconds, double amplitude, int sampleRate, double phase)
{
    const auto n = qsizetype(std::llround(seconds * sampleRate));
    QList<qint16> out(n);
    for (qsizetype i = 0; i < n; ++i) {
        const double v =
            amplitude * std::sin(2.0 * std::numbers::pi * freqHz * double(i) / sampleRate + phase);
        out[i] = qint16(qBound(-32768.0, std::round(v * fullScale), 32767.0));
    }
    return out;
}

double secondsOfTone(const QList<qint16> &samples, double freqHz, qsizetype from, qsizetype to,
                     int sampleRate)
{
    const qsizetype window = sampleRate / 20;
    const qsizetype end = to < 0 ? samples.size() : qMin(to, samples.size());
    int windows = 0;
    for (qsizetype at = qMax<qsizetype>(from, 0); at + window <= end; at += window)
        windows += hasTone(samples, at, at + window, freqHz, sampleRate) ? 1 : 0;
    return windows * 0.05;
}

} // namespace ToneAnalysis
