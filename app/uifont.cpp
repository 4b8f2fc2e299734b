#include "uifont.h"

#include <QApplication>
#include <QFont>
#include <QFontInfo>

void PreferCompactJapaneseFont()
{
    QFont font = QApplication::font();
    // The default family is often an alias ("Sans Serif") that only fontconfig resolves; listed
    // as it is, Qt would pass over it to the next family for every glyph, Latin ones included.
    font.setFamilies({QFontInfo(font).family(), kCompactJapaneseFamily});
    QApplication::setFont(font);
}
