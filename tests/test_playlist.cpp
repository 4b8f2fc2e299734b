// The playlist of the player window, against the fake engine: what drops and list files add,
// how entries are shown, what is never taken, the capacity, and the ways entries go.
#include "playerharness.h"

#include <QStringEncoder>
#include <QtTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray encode(const QString &text, const QString &encoding)
{
    if (encoding == u"sjis"_s) {
        QStringEncoder sjis("Shift_JIS");
        return sjis.encode(text);
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

} // namespace

class PlaylistTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void dropsAppendLocalFilesInTheirOrder();
    void dropsNeverAskTheSourceToMove_data();
    void dropsNeverAskTheSourceToMove();
    void onlyTheListTakesDrops_data();
    void onlyTheListTakesDrops();
    void displayStringFollowsShowType_data();
    void displayStringFollowsShowType();
    void showTypeAppliesToLaterEntriesOnly();
    void listFileAddsTheTracksItNames_data();
    void listFileAddsTheTracksItNames();
    void listLinesAreReadEachInItsOwnEncoding();
    void listSwappedForAPipeNeverHoldsTheWindow();
    void listFileOfMoreThanFiveMillionBytesIsNotRead_data();
    void listFileOfMoreThanFiveMillionBytesIsNotRead();
    void whatIsNoListAddsNothingAndNeverWaits_data();
    void whatIsNoListAddsNothingAndNeverWaits();
    void ifFilenameKnowsReadableFiles_data();
    void ifFilenameKnowsReadableFiles();
    void playlistStopsQuietlyAtItsCapacity();
    void deleteKeyRemovesTheSelectedEntry_data();
    void deleteKeyRemovesTheSelectedEntry();
    void rightClickOpensTheMenuForTheSelectedEntry();
    void deleteAllEmptiesBothLists();

private:
    QString track(const QString &name, const QByteArray &title, const QByteArray &artist = "R");
    QString path(const QString &name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    FakeEngine fake_;
    std::unique_ptr<PlayerHarness> player_;
    QMap<QString, QString> tracks_; // key -> path of the test's standard tracks
};

QString PlaylistTest::track(const QString &name, const QByteArray &title, const QByteArray &artist)
{
    const QString file = path(name);
    if (!writeBytes(file, "not really audio; the fake engine knows it by name"))
        return {};
    fake_.addTrack(QFile::encodeName(file), title, artist, 180);
    return file;
}

void PlaylistTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    // Relative names in list files are taken from the current folder.
    QVERIFY(QDir::setCurrent(dir_.path()));
}

void PlaylistTest::init()
{
    player_.reset();
    fake_.reset();
    tracks_.clear();
    tracks_[u"a"_s] = track(u"a.mp3"_s, "Ta");
    tracks_[u"b"_s] = track(u"b.mp3"_s, "Tb");
    tracks_[u"c"_s] = track(u"c.mp3"_s, "Tc");
    QDir(dir_.path()).mkpath(u"日本語"_s);
    tracks_[u"jp"_s] = track(u"日本語/夏の曲.mp3"_s, "夏");
    tracks_[u"kana"_s] = track(u"ｶﾀｶﾅ.mp3"_s, "ｶﾅ");
    // A name with blanks around it, in the current folder; the engine knows it trimmed.
    QVERIFY(writeBytes(path(u" spaced.mp3 "_s), "x"));
    fake_.addTrack("spaced.mp3", "Ts", "R", 60);
    tracks_[u"spaced"_s] = u" spaced.mp3 "_s;
    tracks_[u"a+blanks"_s] = tracks_[u"a"_s] + u"  "_s; // as a list line written on Windows
    tracks_[u"b+blank"_s] = tracks_[u"b"_s] + u" "_s;
    for (const QString &file : std::as_const(tracks_))
        QVERIFY(!file.isEmpty());

    player_ = std::make_unique<PlayerHarness>();
    QVERIFY(player_->started);
}

void PlaylistTest::dropsAppendLocalFilesInTheirOrder()
{
    PlayerHarness &p = *player_;
    const QString a = tracks_[u"a"_s], b = tracks_[u"b"_s], c = tracks_[u"c"_s];
    QVERIFY(p.dropFiles({c, a, b}));
    QCOMPARE(p.items(), (QStringList{u"Tc"_s, u"Ta"_s, u"Tb"_s}));
    QCOMPARE(p.paths(), (QStringList{c, a, b}));

    // The same file again is simply one more entry.
    QVERIFY(p.dropFiles({a}));
    QCOMPARE(p.paths(), (QStringList{c, a, b, a}));

    // Text is no file list; a web address among files is left out, the files still count.
    QMimeData text;
    text.setText(a);
    QVERIFY(!p.drop(p.list1()->viewport(), &text));
    QMimeData mixed;
    mixed.setUrls({QUrl(u"https://kelpa.example/x.mp3"_s), QUrl::fromLocalFile(b)});
    QVERIFY(p.drop(p.list1()->viewport(), &mixed));
    QCOMPARE(p.paths(), (QStringList{c, a, b, a, b}));

    // A name the URL carries with a NUL in it must not reach the engine cut short at the NUL
    // (where it would name a track).
    QMimeData nul;
    nul.setUrls({QUrl(QUrl::fromLocalFile(a).toString() + u"%00.txt"_s)});
    QVERIFY(nul.urls().constFirst().toLocalFile().contains(QChar::Null));
    p.drop(p.list1()->viewport(), &nul);
    QCOMPARE(p.paths().size(), 5);
}

void PlaylistTest::dropsNeverAskTheSourceToMove_data()
{
    QTest::addColumn<Qt::DropActions>("offered");
    QTest::addColumn<Qt::DropAction>("answer");
    const Qt::DropAction move = Qt::MoveAction, copy = Qt::CopyAction, link = Qt::LinkAction;
    QTest::newRow("copy or move") << (copy | move) << copy;
    QTest::newRow("copy, move or link") << (copy | move | link) << copy;
    QTest::newRow("link or move") << (link | move) << link;
    QTest::newRow("move only: refused") << Qt::DropActions(move) << Qt::IgnoreAction;
}

void PlaylistTest::dropsNeverAskTheSourceToMove()
{
    QFETCH(Qt::DropActions, offered);
    QFETCH(Qt::DropAction, answer);
    PlayerHarness &p = *player_;
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(tracks_[u"a"_s])});
    // Shift makes the source propose a move, where it offers one.
    const QList<Qt::DropAction> answers =
        p.dragAndDrop(p.list1()->viewport(), &data, offered, Qt::ShiftModifier);
    const QList<Qt::DropAction> expected =
        answer == Qt::IgnoreAction ? QList{answer} : QList{answer, answer, answer};
    QCOMPARE(answers, expected);
    QCOMPARE(p.form->ListCount(), answer == Qt::IgnoreAction ? 0 : 1);
}

void PlaylistTest::onlyTheListTakesDrops_data()
{
    QTest::addColumn<QString>("target");
    for (int i = 0; i < 5; ++i)
        QTest::addRow("Command1(%d)", i) << u"Command1_%1"_s.arg(i);
    QTest::newRow("PictDisp") << u"PictDisp"_s;
    QTest::newRow("PictBar") << u"PictBar"_s;
}

void PlaylistTest::onlyTheListTakesDrops()
{
    QFETCH(QString, target);
    PlayerHarness &p = *player_;
    auto *widget = p.form->findChild<QWidget *>(target);
    QVERIFY(widget);
    QVERIFY(!p.dropFiles({tracks_[u"a"_s]}, widget));
    QCOMPARE(p.form->ListCount(), 0);
}

void PlaylistTest::displayStringFollowsShowType_data()
{
    QTest::addColumn<int>("showType");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("artist");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0: title") << 0 << QByteArray("T") << QByteArray("R") << u"T"_s;
    QTest::newRow("1: artist - title") << 1 << QByteArray("T") << QByteArray("R") << u"R - T"_s;
    QTest::newRow("2: title - artist") << 2 << QByteArray("T") << QByteArray("R") << u"T - R"_s;
    QTest::newRow("0: empty fields") << 0 << QByteArray() << QByteArray() << QString();
    QTest::newRow("1: empty fields") << 1 << QByteArray() << QByteArray() << u" - "_s;
    QTest::newRow("2: empty fields") << 2 << QByteArray() << QByteArray() << u" - "_s;
    QTest::newRow("2: Japanese") << 2 << QByteArray("夏の終わり") << QByteArray("ｶｼｭ")
                                 << u"夏の終わり - ｶｼｭ"_s;
    // The engine fills all 128 bytes and leaves no NUL: the whole field, blanks included.
    const QByteArray full = QByteArray(120, 'x') + QByteArray(8, ' ');
    QTest::newRow("0: full field without NUL") << 0 << full << QByteArray("R")
                                               << QString::fromLatin1(full);
}

void PlaylistTest::displayStringFollowsShowType()
{
    QFETCH(int, showType);
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, artist);
    QFETCH(QString, shown);
    PlayerHarness &p = *player_;
    const QString file = track(u"tagged.mp3"_s, title, artist);
    p.form->ShowType = static_cast<uint8_t>(showType);
    QVERIFY(p.dropFiles({file}));
    QCOMPARE(p.items(), QStringList{shown});
    QCOMPARE(p.paths(), QStringList{file});
}

void PlaylistTest::showTypeAppliesToLaterEntriesOnly()
{
    PlayerHarness &p = *player_;
    QVERIFY(p.dropFiles({tracks_[u"a"_s]}));
    p.form->ShowType = 1;
    QVERIFY(p.dropFiles({tracks_[u"b"_s]}));
    QCOMPARE(p.items(), (QStringList{u"Ta"_s, u"R - Tb"_s}));
}

void PlaylistTest::listFileAddsTheTracksItNames_data()
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
    QTest::newRow("UTF-8 with a byte order mark") << u"\uFEFF{a}\n"_s << utf8 << QStringList{u"a"_s};
    QTest::newRow("trailing blanks after a name that has none, kept in the entry")
        << u"{a}  \r\n{b} \r\n"_s << utf8 << QStringList{u"a+blanks"_s, u"b+blank"_s};
    QTest::newRow("blanks around a relative name stay in the entry")
        << u" spaced.mp3 \r\n"_s << utf8 << QStringList{u"spaced"_s};
}

void PlaylistTest::listFileAddsTheTracksItNames()
{
    QFETCH(QString, text);
    QFETCH(QString, encoding);
    QFETCH(QStringList, added);
    PlayerHarness &p = *player_;
    const QString list = path(u"list.txt"_s);
    const QString nested = path(u"nested.txt"_s);
    QVERIFY(writeBytes(nested, (tracks_[u"c"_s] + u"\r\n"_s).toUtf8()));
    text.replace(u"{self}"_s, list).replace(u"{nested}"_s, nested);
    for (auto it = tracks_.cbegin(); it != tracks_.cend(); ++it)
        text.replace(u'{' + it.key() + u'}', it.value());
    QVERIFY(writeBytes(list, encode(text, encoding)));

    QVERIFY(p.dropFiles({list}));
    QStringList expected;
    for (const QString &key : added)
        expected.append(tracks_[key]);
    QCOMPARE(p.paths(), expected);
    QCOMPARE(p.items().size(), expected.size());
    if (added == QStringList{u"spaced"_s})
        QVERIFY(fake_.log().contains(u"vbmp3_getFileInfo spaced.mp3"_s)); // trimmed for the engine
}

void PlaylistTest::listLinesAreReadEachInItsOwnEncoding()
{
    PlayerHarness &p = *player_;
    // A Latin-1 name from an old archive: no text in any encoding names it, only its bytes.
    const QByteArray latin1 = QFile::encodeName(dir_.path()) + "/caf\xe9.mp3";
    const int fd = ::open(latin1.constData(), O_CREAT | O_WRONLY, 0600);
    QVERIFY(fd >= 0);
    ::close(fd);
    const auto removal = qScopeGuard([&] { ::unlink(latin1.constData()); }); // Qt cannot name it
    fake_.addTrack(latin1, "Café", "R", 180);
    const QByteArray jp = tracks_[u"jp"_s].toUtf8(), a = tracks_[u"a"_s].toUtf8();
    const QString kana = tracks_[u"kana"_s];
    QVERIFY(writeBytes(path(u"mixed.txt"_s),
                       jp + "\r\n" + a + "\r\n" + latin1 + "\r\n" + encode(kana, u"sjis"_s)));
    QVERIFY(p.dropFiles({path(u"mixed.txt"_s)}));

    // Dropped by a file manager, it comes percent-encoded, and plays.
    QMimeData data;
    data.setUrls({QUrl::fromEncoded("file://" + latin1.toPercentEncoding("/"))});
    QVERIFY(p.drop(p.list1()->viewport(), &data));
    QCOMPARE(p.items(), (QStringList{u"夏"_s, u"Ta"_s, u"Café"_s, u"ｶﾅ"_s, u"Café"_s}));
    const QList<QByteArray> stored{jp, a, latin1, kana.toUtf8(), latin1};
    for (int i = 0; i < stored.size(); ++i)
        QCOMPARE(p.form->ListPath(i), stored[i]);
    QVERIFY(p.form->SetListIndex(4));
    p.form->List1_DblClick();
    QCOMPARE(p.form->Caption(), u"kelpa - Café"_s);
    QCOMPARE(fake_.state(), 1);
}

void PlaylistTest::listSwappedForAPipeNeverHoldsTheWindow()
{
    PlayerHarness &p = *player_;
    const QByteArray list = QFile::encodeName(path(u"swapped.txt"_s));
    const QByteArray regular = list + ".regular", pipe = list + ".pipe", next = list + ".next";
    QVERIFY(writeBytes(QFile::decodeName(regular), tracks_[u"a"_s].toUtf8()));
    QCOMPARE(::mkfifo(pipe.constData(), 0600), 0);
    QCOMPARE(::link(regular.constData(), list.constData()), 0);

    // For three seconds the name turns into a pipe and back as fast as it can; then a drop
    // stuck opening the pipe is let go, to be told by how long it took.
    std::atomic<bool> swapping = true, dropping = true;
    std::thread swapper([&] {
        QElapsedTimer running;
        running.start();
        for (int round = 0; running.elapsed() < 3000; ++round) {
            ::link((round % 2 ? regular : pipe).constData(), next.constData());
            ::rename(next.constData(), list.constData());
        }
        swapping = false;
        while (dropping) {
            const int writer = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
            QThread::msleep(10);
        }
    });
    qint64 longest = 0;
    while (swapping) {
        QElapsedTimer drop;
        drop.start();
        p.dropFiles({QFile::decodeName(list)});
        longest = qMax(longest, drop.elapsed());
    }
    dropping = false;
    swapper.join();
    QVERIFY2(longest < 500, qPrintable(u"a drop waited %1 ms"_s.arg(longest)));
    QVERIFY(p.form->ListCount() > 0);
}

void PlaylistTest::listFileOfMoreThanFiveMillionBytesIsNotRead_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<int>("added");
    QTest::newRow("5,000,000 bytes: read") << qsizetype{5000000} << 1;
    QTest::newRow("5,000,001 bytes: not read") << qsizetype{5000001} << 0;
}

void PlaylistTest::listFileOfMoreThanFiveMillionBytesIsNotRead()
{
    QFETCH(qsizetype, size);
    QFETCH(int, added);
    PlayerHarness &p = *player_;
    const QString list = path(u"big.txt"_s);
    const QByteArray bytes = padTo((tracks_[u"a"_s] + u"\r\n"_s).toUtf8(), size);
    QCOMPARE(bytes.size(), size);
    QVERIFY(writeBytes(list, bytes));
    p.dropFiles({list});
    QCOMPARE(p.form->ListCount(), added);
    QCOMPARE(p.paths().size(), added);
}

void PlaylistTest::whatIsNoListAddsNothingAndNeverWaits_data()
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

void PlaylistTest::whatIsNoListAddsNothingAndNeverWaits()
{
    QFETCH(QString, kind);
    PlayerHarness &p = *player_;
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
    p.dropFiles({target});
    const qint64 took = timer.elapsed();
    QVERIFY2(took < 2000, qPrintable(u"the drop took %1 ms"_s.arg(took)));
    QCOMPARE(p.paths(), QStringList());
    QCOMPARE(p.form->ListCount(), 0);
}

void PlaylistTest::ifFilenameKnowsReadableFiles_data()
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

void PlaylistTest::ifFilenameKnowsReadableFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, answer);
    const QString pipe = path(u"pipe"_s);
    if (!QFileInfo::exists(pipe))
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    name.replace(u"{a}"_s, tracks_[u"a"_s]).replace(u"{dir}"_s, dir_.path());
    QCOMPARE(Form1::IfFilename(QFile::encodeName(name)), answer);
}

void PlaylistTest::playlistStopsQuietlyAtItsCapacity()
{
    PlayerHarness &p = *player_;
    const QString a = tracks_[u"a"_s], b = tracks_[u"b"_s], c = tracks_[u"c"_s];
    const QString list = path(u"long.txt"_s);
    const auto lines = [&](int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i)
            bytes += a.toUtf8() + '\n';
        return bytes;
    };

    // A list that would go past the limit fills the playlist up to it.
    QVERIFY(writeBytes(list, lines(Form1::kMaxEntries + 3)));
    p.dropFiles({list});
    QCOMPARE(p.form->ListCount(), Form1::kMaxEntries);
    QCOMPARE(p.paths().size(), Form1::kMaxEntries);

    // Full: nothing more comes in, nothing listed is lost.
    p.dropFiles({b, list});
    QCOMPARE(p.paths().size(), Form1::kMaxEntries);
    QCOMPARE(p.paths().constLast(), a);

    // Room for one: the first of the drop is taken, the rest quietly not.
    QVERIFY(p.form->SetListIndex(Form1::kMaxEntries - 1));
    QTest::keyClick(p.list1(), Qt::Key_Delete);
    QCOMPARE(p.form->ListCount(), Form1::kMaxEntries - 1);
    p.dropFiles({c, b});
    QCOMPARE(p.form->ListCount(), Form1::kMaxEntries);
    const QStringList paths = p.paths();
    QCOMPARE(paths.size(), Form1::kMaxEntries);
    QCOMPARE(paths.constLast(), c);
    QCOMPARE(p.form->ListItem(Form1::kMaxEntries - 1), u"Tc"_s);
    QVERIFY(!p.form->SetListIndex(Form1::kMaxEntries));
    QVERIFY(p.form->SetListIndex(Form1::kMaxEntries - 1));
}

void PlaylistTest::deleteKeyRemovesTheSelectedEntry_data()
{
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::newRow("Delete") << Qt::KeyboardModifiers();
    QTest::newRow("Shift+Delete") << Qt::KeyboardModifiers(Qt::ShiftModifier);
}

void PlaylistTest::deleteKeyRemovesTheSelectedEntry()
{
    QFETCH(Qt::KeyboardModifiers, modifiers);
    PlayerHarness &p = *player_;
    const QString a = tracks_[u"a"_s], b = tracks_[u"b"_s], c = tracks_[u"c"_s];
    QVERIFY(p.dropFiles({a, b, c}));

    // Nothing selected: nothing goes.
    QCOMPARE(p.form->ListIndex(), -1);
    QTest::keyClick(p.list1(), Qt::Key_Delete, modifiers);
    QCOMPARE(p.form->ListCount(), 3);

    QVERIFY(p.form->SetListIndex(1));
    QTest::keyClick(p.list1(), Qt::Key_Delete, modifiers);
    QCOMPARE(p.items(), (QStringList{u"Ta"_s, u"Tc"_s}));
    QCOMPARE(p.paths(), (QStringList{a, c}));
    // No other entry gets selected, so a second press removes nothing.
    QCOMPARE(p.form->ListIndex(), -1);
    QTest::keyClick(p.list1(), Qt::Key_Delete, modifiers);
    QCOMPARE(p.paths(), (QStringList{a, c}));

    // Other keys delete nothing.
    QVERIFY(p.form->SetListIndex(0));
    QTest::keyClick(p.list1(), Qt::Key_Backspace);
    QCOMPARE(p.paths(), (QStringList{a, c}));
}

void PlaylistTest::rightClickOpensTheMenuForTheSelectedEntry()
{
    PlayerHarness &p = *player_;
    const QString a = tracks_[u"a"_s], b = tracks_[u"b"_s], c = tracks_[u"c"_s];
    QVERIFY(p.dropFiles({a, b, c}));
    PlaylistBox *list = p.list1();
    const auto rowCentre = [list](int row) { return list->visualItemRect(list->item(row)).center(); };

    // A left click selects and opens nothing.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(0));
    QCOMPARE(p.form->ListIndex(), 0);
    QVERIFY(!p.menu()->isVisible());

    // A right click over another row opens the menu and leaves the selection where it was.
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, rowCentre(2));
    QTRY_VERIFY(p.menu()->isVisible());
    QCOMPARE(p.form->ListIndex(), 0);
    QStringList captions;
    for (const QAction *action : p.menu()->actions())
        captions.append(action->isSeparator() ? u"-"_s : action->text());
    QCOMPARE(captions, (QStringList{u"演奏"_s, u"-"_s, u"消去"_s, u"全消去"_s, u"-"_s, u"ループ再生"_s}));
    QVERIFY(p.menuItem(u"mnuLoop"_s)->isCheckable());
    QVERIFY(!p.menuItem(u"mnuLoop"_s)->isChecked());

    // Its items may be chosen with the right button too: "消去" removes the selected entry.
    QMenu *menu = p.menu();
    QTest::mouseClick(menu, Qt::RightButton, {}, menu->actionGeometry(p.menuItem(u"mnuDelate"_s)).center());
    QTRY_VERIFY(!menu->isVisible());
    QCOMPARE(p.paths(), (QStringList{b, c}));
    QCOMPARE(p.form->ListIndex(), -1);

    // With nothing selected, "消去" removes nothing.
    p.menuItem(u"mnuDelate"_s)->trigger();
    QCOMPARE(p.paths(), (QStringList{b, c}));
}

void PlaylistTest::deleteAllEmptiesBothLists()
{
    PlayerHarness &p = *player_;
    QAction *deleteAll = p.menuItem(u"mnuDelateAll"_s);
    deleteAll->trigger(); // empty: nothing happens
    QCOMPARE(p.paths(), QStringList());

    const QString a = tracks_[u"a"_s], b = tracks_[u"b"_s];
    QVERIFY(p.dropFiles({a, b, a, b, a}));
    QVERIFY(p.form->SetListIndex(2));
    deleteAll->trigger();
    QCOMPARE(p.form->ListCount(), 0);
    QCOMPARE(p.paths(), QStringList());
    QCOMPARE(p.form->ListIndex(), -1);
    QVERIFY(p.dropFiles({b}));
    QCOMPARE(p.paths(), QStringList{b});
}

QTEST_MAIN(PlaylistTest)
#include "test_playlist.moc"
