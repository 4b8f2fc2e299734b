#pragma once
// Pure functions to tell which test tone a stretch of recorded or decoded sound holds.
// Samples are signed 16-bit mono; ranges are half-open [from, to) sample indices, clamped to
// the data. Levels are relative to full scale (a full-scale square wave has RMS 1).

#include <QList>
#include <QtGlobal>

namespace ToneAnalysis {

// Root mean square level.
double rms(const QList<qint16> &samples, qsizetype from, qsizetype to);

// Mean-square level of the freqHz component (Goertzel over a Hann window). Directly
// comparable with rms()²: a pure sine of amplitude A gives A²/2 for both.
double goertzelPower(const QList<qint16> &samples, qsizetype from, qsizetype to, double freqHz,
                     int sampleRate = 44100);

// Which share of the window's power lies at freqHz: about 1 for a pure tone at freqHz,
// about 0 for another tone or noise, 0 for digital silence.
double toneShare(const QList<qint16> &samples, qsizetype from, qsizetype to, double freqHz,
                 int sampleRate = 44100);

// The window is loud enough (RMS at least minRms) and freqHz holds most of its power, so
// neither silence, nor another test tone, nor a mix of two tones counts.
bool hasTone(const QList<qint16> &samples, qsizetype from, qsizetype to, double freqHz,
             int sampleRate = 44100, double minRms = 0.02);

// RMS at most maxRms (about -50 dBFS by default).
bool isSilent(const QList<qint16> &samples, qsizetype from, qsizetype to, double maxRms = 0.003);

// Start of the first window of windowSamples at or after `from` that hasTone(freqHz), tried
// every windowSamples / 8 samples; -1 when there is none. The tone begins somewhere in
// [result, result + windowSamples), typically about a quarter window after the result; for a
// sharper time after silence use findSound with a short window.
qsizetype findTone(const QList<qint16> &samples, double freqHz, qsizetype from = 0,
                   qsizetype windowSamples = 2205, int sampleRate = 44100);

// Start of the first window of windowSamples at or after `from` whose RMS exceeds minRms,
// tried every windowSamples / 8 samples; -1 when there is none.
qsizetype findSound(const QList<qint16> &samples, qsizetype from = 0, qsizetype windowSamples = 441,
                    double minRms = 0.02);

// Length in samples of the longest run in [from, to) of consecutive samples no louder than
// maxLevel (about -50 dBFS by default): the longest hole in the sound. A test tone's zero
// crossings make runs of a sample or two.
qsizetype longestSilence(const QList<qint16> &samples, qsizetype from, qsizetype to,
                         double maxLevel = 0.003);

// Seconds of [from, to) in which freqHz is the tone heard, counted in 50 ms windows; to = -1
// means to the end.
double secondsOfTone(const QList<qint16> &samples, double freqHz, qsizetype from = 0,
                     qsizetype to = -1, int sampleRate = 44100);

// A sine of the given amplitude (relative to full scale), for checks and tests.
QList<qint16> sine(double freqHz, double seconds, double amplitude = 0.5, int sampleRate = 44100,
                   double phase = 0.0);

} // namespace ToneAnalysis
