#pragma once

#include <QString>

// The font family that shows the windows' Japanese captions when it is installed (Debian's
// fonts-motoya-l-cedar): a plain gothic of about 7,000 glyphs. Without it the system's first
// CJK fallback shows them, on Debian the Noto CJK collection, which keeps several MiB of its
// file resident for the few dozen glyphs the windows show.
inline const QString kCompactJapaneseFamily = QStringLiteral("MotoyaLCedar");

// Makes the application font fall back to kCompactJapaneseFamily before the system's
// fallbacks. Latin text keeps the system font. Call after QApplication, before any window.
void PreferCompactJapaneseFont();
