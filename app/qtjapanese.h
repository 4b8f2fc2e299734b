#pragma once

// Installs Qt's own Japanese texts (Debian's qt6-translations-l10n): the edit boxes' context
// menus, the file dialog, the standard buttons. The program's own texts are Japanese whatever
// the locale, so Qt's are too. Call after QApplication, before any window. False when the
// catalogue is not installed; Qt then speaks English.
bool UseQtJapanese();
