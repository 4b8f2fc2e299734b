// The playlist model and the transport state without a window or an engine: what list files
// add under every rule and limit of their reading, what is never taken, which names count as
// files, and where previous and next lead. Tracks are known by name to a tag reader that
// stands in for the engine.
#include "player/playlistmodel.h"
#include "player/transportstate.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray encode(const QString &text, const QString &encoding)
{
    if (encoding.startsWith(u"sjis"_s)) {
        QStringEncoder sjis("Shift_JIS");
        // "sjis after a bad line": a line first that no Shift_JIS reading decodes.
        return (encoding == u"sjis"_s ? QByteArray() : QByteArray("/nowhere/\xFF\x80.mp3\r\n")) +
               sjis.encode(text);
    }
    return text.toUtf8();
}

// Comment lines of 1000 bytes, the last one shorter, so that the whole file has exactly
// `size` bytes.
QByteArray padTo(QByteArray head, qsizetype size)
{
    while (head.size() + 1000 <= size)
        head += QByteArray(998, '#') + "\r\n";
    if (head.size() < size)
        head += QByteArray(size - head.size(), '#');
    return head;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

} // namespace

class PlaylistModelTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void listFileAddsTheTracksItNames_data();
    void listFileAddsTheTracksItNames();
    void listFileOfMoreThanFiveMillionBytesIsNotRead_data();
    void listFileOfMoreThanFiveMillionBytesIsNotRead();
    void whatIsNoListAddsNothingAndNeverWaits_data();
    void whatIsNoListAddsNothingAndNeverWaits();
    void ifFilenameKnowsReadableFiles_data();
    void ifFilenameKnowsReadableFiles();
    void removingKeepsPathsAndTextsTogether();
    void previousAndNextWrapAroundTheList_data();
    void previousAndNextWrapAroundTheList();

private:
    QString track(const QString &name, const QString &title);
    QString path(const QString &name) const { return dir_.filePath(name); }
    void add(const QStringList &files)
    {
        QList<QByteArray> names;
        for (const QString &file : files)
            names.append(QFile::encodeName(file));
        // As the player's loader reads them, on this thread.
        QList<PlaylistEntry> read;
        PlaylistReader(readTags_, 0).Read(names, [&read](PlaylistEntry &&entry) {
            read.append(std::move(entry));
            return true;
        });
        model_->Append(std::move(read));
    }
    QStringList paths() const
    {
        QStringList result;
        for (int i = 0; i < model_->Count(); ++i)
            result.append(QFile::decodeName(model_->Path(i)));
        return result;
    }
    QStringList texts() const
    {
        QStringList result;
        for (int i = 0; i < model_->Count(); ++i)
            result.append(model_->Text(i));
        return result;
    }

    QTemporaryDir dir_;
    QMap<QByteArray, QString> titles_; // the tracks the tag reader knows, by name
    QList<QByteArray> asked_;          // the names the model asked the tag reader about
    PlaylistReader::TagReader readTags_;
    std::unique_ptr<PlaylistModel> model_;
    QMap<QString, QString> tracks_; // key -> path of the test's standard tracks
};

QString PlaylistModelTest::track(const QString &name, const QString &title)
{
    const QString file = path(name);
    if (!writeBytes(file, "not really audio; the tag reader knows it by name"))
        return {};
    titles_[QFile::encodeName(file)] = title;
    return file;
}

void PlaylistModelTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    // Relative names in list files are taken from the current folder.
    QVERIFY(QDir::setCurrent(dir_.path()));
}

void PlaylistModelTest::init()
{
    titles_.clear();
    asked_.clear();
    tracks_.clear();
    tracks_[u"a"_s] = track(u"a.mp3"_s, u"Ta"_s);
    tracks_[u"b"_s] = track(u"b.mp3"_s, u"Tb"_s);
    tracks_[u"c"_s] = track(u"c.mp3"_s, u"Tc"_s);
    QDir(dir_.path()).mkpath(u"日本語"_s);
    tracks_[u"jp"_s] = track(u"日本語/夏の曲.mp3"_s, u"夏"_s);
    tracks_[u"kana"_s] = track(u"ｶﾀｶﾅ.mp3"_s, u"ｶﾅ"_s);
    // A name with blanks around it, in the current folder; the engine knows it trimmed.
    QVERIFY(writeBytes(path(u" spaced.mp3 "_s), "x"));
    titles_["spaced.mp3"] = u"Ts"_s;
    tracks_[u"spaced"_s] = u" spaced.mp3 "_s;
    tracks_[u"a+blanks"_s] = tracks_[u"a"_s] + u"  "_s; // as a list line written on Windows
    tracks_[u"b+blank"_s] = tracks_[u"b"_s] + u" "_s;
    for (const QString &file : std::as_const(tracks_))
        QVERIFY(!file.isEmpty());
    model_ = std::make_unique<PlaylistModel>();
    readTags_ = [this](const QByteArray &name) {
        asked_.append(name);
        const auto known = titles_.constFind(name);
        return known == titles_.cend() ? std::nullopt : std::optional<TrackTags>({*known, u"R"_s});
    };
}

void PlaylistModelTest::listFileAddsTheTracksItNames_data()
{
    QTest::addColumn<QString>("text"); // {key} stands for that track's path
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QStringList>("added");
    const QString utf8 = u"utf8"_s;
    QTest::newRow("CR LF; comment, blank line and its own name skipped")
        << u"{a}\r\n# comment\r\n\r\n{self}\r\n{b}\r\n"_s << utf8 << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("lone CR") << u"{a}\r{b}\r"_s << utf8 << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("lone LF") << u"{a}\n{b}\n"_s << utf8 << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("mixed ends, last line unended")
        << u"{a}\n{b}\r\n{c}"_s << utf8 << QStringList{u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("file order and repeats kept")
        << u"{b}\n{a}\n{b}\n"_s << utf8 << QStringList{u"b"_s, u"a"_s, u"b"_s};
    QTest::newRow("missing files skipped")
        << u"{a}\r\n/nowhere/x.mp3\r\nnowhere.mp3\r\n{b}"_s << utf8 << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("a nested list file adds nothing, the lines after it count")
        << u"{a}\r\n{nested}\r\n{b}\r\n"_s << utf8 << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("UTF-8 names") << u"{jp}\n{kana}\n"_s << utf8 << QStringList{u"jp"_s, u"kana"_s};
    QTest::newRow("Shift_JIS names")
        << u"{jp}\r\n{kana}\r\n"_s << u"sjis"_s << QStringList{u"jp"_s, u"kana"_s};
    QTest::newRow("a line that is no Shift_JIS leaves the next ones readable")
        << u"{kana}\r\n{jp}\r\n"_s << u"sjis after a bad line"_s << QStringList{u"kana"_s, u"jp"_s};
    QTest::newRow("UTF-8 with a byte order mark")
        << u"\uFEFF{a}\n"_s << utf8 << QStringList{u"a"_s};
    QTest::newRow("trailing blanks after a name that has none, kept in the entry")
        << u"{a}  \r\n{b} \r\n"_s << utf8 << QStringList{u"a+blanks"_s, u"b+blank"_s};
    QTest::newRow("blanks around a relative name stay in the entry")
        << u" spaced.mp3 \r\n"_s << utf8 << QStringList{u"spaced"_s};
}

void PlaylistModelTest::listFileAddsTheTracksItNames()
{
    QFETCH(QString, text);
    QFETCH(QString, encoding);
    QFETCH(QStringList, added);
    const QString list = path(u"list.txt"_s);
    const QString nested = path(u"nested.txt"_s);
    QVERIFY(writeBytes(nested, (tracks_[u"c"_s] + u"\r\n"_s).toUtf8()));
    text.replace(u"{self}"_s, list).replace(u"{nested}"_s, nested);
    for (auto it = tracks_.cbegin(); it != tracks_.cend(); ++it)
        text.replace(u'{' + it.key() + u'}', it.value());
    QVERIFY(writeBytes(list, encode(text, encoding)));

    add({list});
    QStringList expected;
    for (const QString &key : added)
        expected.append(tracks_[key]);
    QCOMPARE(paths(), expected);
    QCOMPARE(texts().size(), expected.size());
    if (added == QStringList{u"spaced"_s})
        QVERIFY(asked_.contains("spaced.mp3")); // trimmed for the engine
}

void PlaylistModelTest::listFileOfMoreThanFiveMillionBytesIsNotRead_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<int>("added");
    QTest::newRow("5,000,000 bytes: read") << qsizetype{5000000} << 1;
    QTest::newRow("5,000,001 bytes: not read") << qsizetype{5000001} << 0;
}

void PlaylistModelTest::listFileOfMoreThanFiveMillionBytesIsNotRead()
{
    QFETCH(qsizetype, size);
    QFETCH(int, added);
    const QString list = path(u"big.txt"_s);
    const QByteArray bytes = padTo((tracks_[u"a"_s] + u"\r\n"_s).toUtf8(), size);
    QCOMPARE(bytes.size(), size);
    QVERIFY(writeBytes(list, bytes));
    add({list});
    QCOMPARE(model_->Count(), added);
    QCOMPARE(paths().size(), added);
}

void PlaylistModelTest::whatIsNoListAddsNothingAndNeverWaits_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << u"folder"_s;
    QTest::newRow("symlink loop") << u"loop"_s;
    QTest::newRow("named pipe") << u"fifo"_s;
    QTest::newRow("device") << u"device"_s;
    QTest::newRow("unreadable") << u"unreadable"_s;
    QTest::newRow("empty file") << u"empty"_s;
    QTest::newRow("binary, 1 MB") << u"binary"_s;
    QTest::newRow("binary, 6 MB") << u"bigbinary"_s;
    QTest::newRow("binary with a track's name before a NUL") << u"nul"_s;
}

void PlaylistModelTest::whatIsNoListAddsNothingAndNeverWaits()
{
    QFETCH(QString, kind);
    QString target = path(kind);
    QByteArray noise(kind == u"bigbinary"_s ? 6000000 : 1000000, '\0');
    quint32 seed = 4711;
    for (char &byte : noise) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    if (kind == u"folder"_s) {
        QVERIFY(QDir(dir_.path()).mkdir(kind));
    } else if (kind == u"loop"_s) {
        QVERIFY(QFile::link(path(u"loop2"_s), target) && QFile::link(target, path(u"loop2"_s)));
    } else if (kind == u"fifo"_s) {
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
    } else if (kind == u"device"_s) {
        target = u"/dev/zero"_s; // endless: reading it would never finish
    } else if (kind == u"unreadable"_s) {
        target = u"/proc/self/mem"_s; // opens, but every read from its start fails (even as root)
    } else if (kind == u"empty"_s) {
        QVERIFY(writeBytes(target, {}));
    } else if (kind == u"nul"_s) {
        QVERIFY(writeBytes(target, tracks_[u"a"_s].toUtf8() + '\0' + "\r\n" + noise));
    } else {
        QVERIFY(writeBytes(target, noise));
    }

    // A pipe opened for reading would wait for a writer for ever: the test would time out.
    QElapsedTimer timer;
    timer.start();
    add({target});
    const qint64 took = timer.elapsed();
    QVERIFY2(took < 2000, qPrintable(u"the drop took %1 ms"_s.arg(took)));
    QCOMPARE(paths(), QStringList());
    QCOMPARE(model_->Count(), 0);
}

void PlaylistModelTest::ifFilenameKnowsReadableFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("answer");
    QTest::newRow("existing file") << u"{a}"_s << true;
    QTest::newRow("relative name in the current folder") << u"a.mp3"_s << true;
    QTest::newRow("one trailing separator forgiven") << u"{a}/"_s << true;
    QTest::newRow("two trailing separators") << u"{a}//"_s << false;
    QTest::newRow("folder") << u"{dir}"_s << false;
    QTest::newRow("folder with separator") << u"{dir}/"_s << false;
    QTest::newRow("missing file") << u"{dir}/missing.mp3"_s << false;
    QTest::newRow("empty name") << QString() << false;
    QTest::newRow("name with a NUL after a file's name") << u"{a}\u0000x"_s << false;
    QTest::newRow("named pipe") << u"{dir}/pipe"_s << false;
    QTest::newRow("device") << u"/dev/null"_s << false;
}

void PlaylistModelTest::ifFilenameKnowsReadableFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, answer);
    const QString pipe = path(u"pipe"_s);
    if (!QFileInfo::exists(pipe))
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    name.replace(u"{a}"_s, tracks_[u"a"_s]).replace(u"{dir}"_s, dir_.path());
    QCOMPARE(PlaylistReader::IfFilename(QFile::encodeName(name)), answer);
}

void PlaylistModelTest::removingKeepsPathsAndTextsTogether()
{
    add({tracks_[u"a"_s], tracks_[u"b"_s], tracks_[u"c"_s]});
    for (const int index : {-1, 3, 1})
        model_->Remove(index);
    QCOMPARE(paths(), (QStringList{tracks_[u"a"_s], tracks_[u"c"_s]}));
    QCOMPARE(texts(), (QStringList{u"Ta"_s, u"Tc"_s}));
    QCOMPARE(model_->Text(2), QString());
    QVERIFY(model_->Path(2).isNull());
}

void PlaylistModelTest::previousAndNextWrapAroundTheList_data()
{
    QTest::addColumn<int32_t>("current"); // the entry last opened
    QTest::addColumn<int>("count");
    QTest::addColumn<int32_t>("previous");
    QTest::addColumn<int32_t>("next");
    QTest::newRow("nothing opened yet") << -1 << 3 << 2 << 0;
    QTest::newRow("first") << 0 << 3 << 2 << 1;
    QTest::newRow("middle") << 1 << 3 << 0 << 2;
    QTest::newRow("last") << 2 << 3 << 1 << 0;
    QTest::newRow("one entry") << 0 << 1 << 0 << 0;
    QTest::newRow("past the end after deletions") << 5 << 3 << 2 << 0;
}

void PlaylistModelTest::previousAndNextWrapAroundTheList()
{
    QFETCH(int32_t, current);
    QFETCH(int, count);
    QFETCH(int32_t, previous);
    QFETCH(int32_t, next);
    TransportState back{current, 0};
    QCOMPARE(back.StepBack(count), previous);
    QCOMPARE(back.CurrentIndex, previous);
    TransportState on{current, 0};
    QCOMPARE(on.StepForward(count), next);
    QCOMPARE(on.CurrentIndex, next);
}

QTEST_GUILESS_MAIN(PlaylistModelTest)
#include "test_playlistmodel.moc"
