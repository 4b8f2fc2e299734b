#include "qtjapanese.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

using namespace Qt::Literals::StringLiterals;

bool UseQtJapanese()
{
    // Owned by the application, which keeps it as long as any window may ask it for a text.
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(u"qtbase_ja"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
