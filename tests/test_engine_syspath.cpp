// Where the engine library is looked for: the program's folder first, then the system's
// library path. Runs with the complete fake engine's folder on LD_LIBRARY_PATH.
#include "engine/enginelibrary.h"
#include "fakeengine/fakeengine.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class EngineSearchTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void loadsFromTheSystemPathWhenTheFolderHasNone();
    void aCopyInTheFolderIsTheOneUsed_data();
    void aCopyInTheFolderIsTheOneUsed();

private:
    FakeEngine fake_;
};

void EngineSearchTest::initTestCase()
{
    QVERIFY2(
        qEnvironmentVariable("LD_LIBRARY_PATH").split(u':').contains(FakeEngine::completeDir()),
        "run through ctest, which puts the fake engine on LD_LIBRARY_PATH");
}

void EngineSearchTest::init()
{
    fake_.reset();
}

void EngineSearchTest::loadsFromTheSystemPathWhenTheFolderHasNone()
{
    QTemporaryDir emptyFolder;
    QVERIFY(emptyFolder.isValid());
    EngineLibrary engine(emptyFolder.path());
    QVERIFY(engine.init());
    engine.stop();
    QCOMPARE(fake_.log(), (QStringList{u"vbmp3_init"_s, u"vbmp3_stop"_s}));
}

void EngineSearchTest::aCopyInTheFolderIsTheOneUsed_data()
{
    QTest::addColumn<bool>("broken");
    QTest::newRow("broken copy") << true;
    QTest::newRow("copy lacking an entry point") << false;
}

void EngineSearchTest::aCopyInTheFolderIsTheOneUsed()
{
    // The good engine on the system path does not stand in for a bad one in the folder.
    QFETCH(bool, broken);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    QString folder = FakeEngine::incompleteDir();
    if (broken) {
        folder = scratch.path();
        QFile file(scratch.filePath(u"libvbmp3.so"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a library");
    }
    EngineLibrary engine(folder);
    QVERIFY(!engine.init());
    QVERIFY(fake_.log().isEmpty());
}

QTEST_GUILESS_MAIN(EngineSearchTest)
#include "test_engine_syspath.moc"
