// The player's reader of list files: only regular files are opened, and what is read is what
// the file holds. A name that is a FIFO, a device or a folder is refused before anything opens
// it, so a program waiting to write into a FIFO is never released.
#include "player/regularfile.h"
#include "support/waitingwriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestRegularFile : public QObject {
    Q_OBJECT

private slots:
    void onlyRegularFilesAreOpened_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("opened");
        QTest::newRow("regular file") << u"file"_s << true;
        QTest::newRow("link to a regular file") << u"link"_s << true;
        QTest::newRow("FIFO with a waiting writer") << u"fifo"_s << false;
        QTest::newRow("link to a FIFO with a waiting writer") << u"fifo link"_s << false;
        QTest::newRow("device") << u"/dev/zero"_s << false;
        QTest::newRow("folder") << u"folder"_s << false;
        QTest::newRow("missing") << u"missing"_s << false;
    }

    void onlyRegularFilesAreOpened()
    {
        QFETCH(QString, kind);
        QFETCH(bool, opened);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray text = "a.mp3\r\nb.mp3\r\n";
        const QString file = dir.filePath(u"list.txt"_s);
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(text) == text.size());
        out.close();
        const QString fifo = dir.filePath(u"fifo.m3u"_s);
        WaitingWriter writer(QFile::encodeName(fifo));
        QVERIFY2(writer.isWaiting(), "the writer must wait on the FIFO first");
        QVERIFY(QFile::link(file, dir.filePath(u"link"_s)));
        QVERIFY(QFile::link(fifo, dir.filePath(u"fifo link"_s)));
        QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
        const QString name = kind == u"file"_s       ? file
                             : kind == u"fifo"_s     ? fifo
                             : kind.startsWith(u'/') ? kind
                                                     : dir.filePath(kind);

        RegularFile regular(QFile::encodeName(name));
        QCOMPARE(regular.isOpen(), opened);
        QCOMPARE(regular.read(1 << 20).value_or("<refused>"), opened ? text : "<refused>");
        QVERIFY2(!writer.releasedWithin(100), "the FIFO was opened: its waiting writer went on");
    }
};

QTEST_GUILESS_MAIN(TestRegularFile)
#include "test_regularfile.moc"
