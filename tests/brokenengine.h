// Folders that hold no engine the program can use, as the loader and the program's start both
// meet them: one table for the two.
#pragma once

#include "fakeengine/fakeengine.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

// The rows, in a column "folderKind".
inline void addBrokenEngineRows()
{
    using namespace Qt::Literals::StringLiterals;
    QTest::addColumn<QString>("folderKind");
    QTest::newRow("no library") << u"empty"_s;
    QTest::newRow("a file named like the library, not one") << u"text"_s;
    QTest::newRow("a file named like the library, an ELF header alone") << u"elf"_s;
    QTest::newRow("library lacking an entry point") << u"incomplete"_s;
}

// The folder of that kind; what it holds is made in scratch. Empty when it cannot be made.
inline QString brokenEngineFolder(const QString &kind, const QTemporaryDir &scratch)
{
    using namespace Qt::Literals::StringLiterals;
    if (kind == u"incomplete"_s)
        return FakeEngine::incompleteDir();
    if (kind == u"text"_s || kind == u"elf"_s) {
        QFile broken(scratch.filePath(u"libvbmp3.so"_s));
        const QByteArray bytes = kind == u"elf"_s ? QByteArray("\x7f"
                                                               "ELF but not really a library")
                                                  : QByteArray("not a library");
        if (!broken.open(QIODevice::WriteOnly) || broken.write(bytes) != bytes.size())
            return {};
    }
    return scratch.path();
}
