#pragma once
// Whether a PulseAudio server answers (the one PULSE_SERVER names, else the default one).
//
// Tests that need to hear sound start with KELPA_REQUIRE_SOUND_SERVER(). Outside
// scripts/test.sh, without a server, such a test is skipped with the reason; scripts/test.sh
// always provides a server and sets KELPA_REQUIRE_SOUND=1, so there a missing server fails.

#include <QString>
#include <QtTest/QTest>

// Runs `pactl info`; on failure `why` says what went wrong.
bool soundServerAvailable(QString *why = nullptr);
bool soundServerRequired(); // KELPA_REQUIRE_SOUND is set to a non-zero number

#define KELPA_REQUIRE_SOUND_SERVER()                                                               \
    do {                                                                                           \
        QString kelpaWhyNoSound_;                                                                  \
        if (!soundServerAvailable(&kelpaWhyNoSound_)) {                                            \
            const QByteArray kelpaMsg_ =                                                           \
                (QStringLiteral("no sound server (run the tests through scripts/test.sh): ") +     \
                 kelpaWhyNoSound_)                                                                 \
                    .toLocal8Bit();                                                                \
            if (soundServerRequired())                                                             \
                QFAIL(kelpaMsg_.constData());                                                      \
            QSKIP(kelpaMsg_.constData());                                                          \
        }                                                                                          \
    } while (false)
