// The playlist of the player window, against the fake engine: what drops add, how entries are
// shown, list files read through a drop, the capacity, and the ways entries go. The rules of
// list-file reading are checked on the model alone (test_playlistmodel).
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

} // namespace

class PlaylistTest : public QObject {
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
    void listLinesAreReadEachInItsOwnEncoding();
    void listSwappedForAPipeNeverHoldsTheWindow();
    void playlistStopsQuietlyAtItsCapacity();
    void deleteKeyRemovesTheSelectedEntry_data();
    void deleteKeyRemovesTheSelectedEntry();
    void rightClickOpensTheMenuForTheSelectedEntry();
    void deleteAllEmptiesBothLists();
    void ctrlOAddsTheChosenFilesAsADropDoes();
    void longListsComeInBatchesInTheirOrder();

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
    QCOMPARE(p.count(), answer == Qt::IgnoreAction ? 0 : 1);
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
    QCOMPARE(p.count(), 0);
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
    QTest::newRow("0: full field without NUL")
        << 0 << full << QByteArray("R") << QString::fromLatin1(full);
}

void PlaylistTest::displayStringFollowsShowType()
{
    QFETCH(int, showType);
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, artist);
    QFETCH(QString, shown);
    PlayerHarness &p = *player_;
    const QString file = track(u"tagged.mp3"_s, title, artist);
    p.control().setShowType(static_cast<uint8_t>(showType));
    QVERIFY(p.dropFiles({file}));
    QCOMPARE(p.items(), QStringList{shown});
    QCOMPARE(p.paths(), QStringList{file});
}

void PlaylistTest::showTypeAppliesToLaterEntriesOnly()
{
    PlayerHarness &p = *player_;
    QVERIFY(p.dropFiles({tracks_[u"a"_s]}));
    p.control().setShowType(1);
    QVERIFY(p.dropFiles({tracks_[u"b"_s]}));
    QCOMPARE(p.items(), (QStringList{u"Ta"_s, u"R - Tb"_s}));
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
        QCOMPARE(p.core->ListPath(i), stored[i]);
    QVERIFY(p.core->SetListIndex(4));
    p.core->OpenSelected();
    QCOMPARE(p.core->caption(), u"kelpa - Café"_s);
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
    QVERIFY(p.count() > 0);
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
    QVERIFY(writeBytes(list, lines(kelpa::MaxEntries + 3)));
    p.dropFiles({list});
    QCOMPARE(p.count(), kelpa::MaxEntries);
    QCOMPARE(p.paths().size(), kelpa::MaxEntries);

    // Full: nothing more comes in, nothing listed is lost.
    p.dropFiles({b, list});
    QCOMPARE(p.paths().size(), kelpa::MaxEntries);
    QCOMPARE(p.paths().constLast(), a);

    // Room for one: the first of the drop is taken, the rest quietly not.
    QVERIFY(p.core->SetListIndex(kelpa::MaxEntries - 1));
    QTest::keyClick(p.list1(), Qt::Key_Delete);
    QCOMPARE(p.count(), kelpa::MaxEntries - 1);
    p.dropFiles({c, b});
    QCOMPARE(p.count(), kelpa::MaxEntries);
    const QStringList paths = p.paths();
    QCOMPARE(paths.size(), kelpa::MaxEntries);
    QCOMPARE(paths.constLast(), c);
    QCOMPARE(p.core->entryText(kelpa::MaxEntries - 1), u"Tc"_s);
    QVERIFY(!p.core->SetListIndex(kelpa::MaxEntries));
    QVERIFY(p.core->SetListIndex(kelpa::MaxEntries - 1));
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
    QCOMPARE(p.core->ListIndex(), -1);
    QTest::keyClick(p.list1(), Qt::Key_Delete, modifiers);
    QCOMPARE(p.count(), 3);

    QVERIFY(p.core->SetListIndex(1));
    QTest::keyClick(p.list1(), Qt::Key_Delete, modifiers);
    QCOMPARE(p.items(), (QStringList{u"Ta"_s, u"Tc"_s}));
    QCOMPARE(p.paths(), (QStringList{a, c}));
    // No other entry gets selected, so a second press removes nothing.
    QCOMPARE(p.core->ListIndex(), -1);
    QTest::keyClick(p.list1(), Qt::Key_Delete, modifiers);
    QCOMPARE(p.paths(), (QStringList{a, c}));

    // Other keys delete nothing.
    QVERIFY(p.core->SetListIndex(0));
    QTest::keyClick(p.list1(), Qt::Key_Backspace);
    QCOMPARE(p.paths(), (QStringList{a, c}));
}

void PlaylistTest::rightClickOpensTheMenuForTheSelectedEntry()
{
    PlayerHarness &p = *player_;
    const QString a = tracks_[u"a"_s], b = tracks_[u"b"_s], c = tracks_[u"c"_s];
    QVERIFY(p.dropFiles({a, b, c}));
    PlaylistBox *list = p.list1();
    const auto rowCentre = [&p](int row) { return p.rowCentre(row); };

    // A left click selects and opens nothing.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(0));
    QCOMPARE(p.core->ListIndex(), 0);
    QVERIFY(!p.menu()->isVisible());

    // A right click over another row opens the menu and leaves the selection where it was.
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, rowCentre(2));
    QTRY_VERIFY(p.menu()->isVisible());
    QCOMPARE(p.core->ListIndex(), 0);
    QStringList captions;
    for (const QAction *action : p.menu()->actions())
        captions.append(action->isSeparator() ? u"-"_s : action->text());
    QCOMPARE(captions,
             (QStringList{u"演奏"_s, u"-"_s, u"消去"_s, u"全消去"_s, u"-"_s, u"ループ再生"_s}));
    QVERIFY(p.menuItem(u"mnuLoop"_s)->isCheckable());
    QVERIFY(!p.menuItem(u"mnuLoop"_s)->isChecked());

    // Its items may be chosen with the right button too: "消去" removes the selected entry.
    QMenu *menu = p.menu();
    QTest::mouseClick(menu, Qt::RightButton, {},
                      menu->actionGeometry(p.menuItem(u"mnuDelate"_s)).center());
    QTRY_VERIFY(!menu->isVisible());
    QCOMPARE(p.paths(), (QStringList{b, c}));
    QCOMPARE(p.core->ListIndex(), -1);

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
    QVERIFY(p.core->SetListIndex(2));
    deleteAll->trigger();
    QCOMPARE(p.count(), 0);
    QCOMPARE(p.paths(), QStringList());
    QCOMPARE(p.core->ListIndex(), -1);
    QVERIFY(p.dropFiles({b}));
    QCOMPARE(p.paths(), QStringList{b});
}

void PlaylistTest::ctrlOAddsTheChosenFilesAsADropDoes()
{
    PlayerHarness &p = *player_;
    const QString a = tracks_[u"a"_s], b = tracks_[u"b"_s], c = tracks_[u"c"_s];
    QVERIFY(writeBytes(path(u"two.m3u"_s), "a.mp3\nc.mp3\n"));
    QVERIFY(p.dropFiles({c}));
    p.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(p.form.get()));

    for (const QString &chosen : {u"\"b.mp3\" \"two.m3u\""_s, u"a.mp3"_s}) {
        QTest::keyClick(p.list1(), Qt::Key_O, Qt::ControlModifier);
        // Open, and the key press has returned: the dialog waits, nothing else does.
        QFileDialog *dialog = nullptr;
        for (QFileDialog *shown : p.form->findChildren<QFileDialog *>())
            if (shown->isVisible())
                dialog = shown;
        QVERIFY(dialog);
        QVERIFY(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
        auto *types = dialog->findChild<QComboBox *>(u"fileTypeCombo"_s);
        QCOMPARE(types->currentText(), u"MP3ファイルとリスト (*.mp3 *.m3u *.m3u8 *.txt)"_s);
        QCOMPARE(types->itemText(1), u"すべてのファイル (*)"_s);
        dialog->setDirectory(dir_.path());
        auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
        QVERIFY(name);
        name->setText(chosen); // typed, as a user does
        QTest::keyClick(name, Qt::Key_Return);
        QVERIFY(!dialog->isVisible());
    }
    QVERIFY(p.settled());
    // In order, a playlist read as a drop reads it; nothing starts to play, as with a drop.
    QCOMPARE(p.paths(), (QStringList{c, b, a, c, a}));
    QCOMPARE(p.items(), (QStringList{u"Tc"_s, u"Tb"_s, u"Ta"_s, u"Tc"_s, u"Ta"_s}));
    QCOMPARE(fake_.openPath(), QByteArray());
}

void PlaylistTest::longListsComeInBatchesInTheirOrder()
{
    PlayerHarness &p = *player_;
    const QString a = tracks_[u"a"_s], b = tracks_[u"b"_s], c = tracks_[u"c"_s];
    QByteArray lines;
    for (int i = 0; i < 20000; ++i)
        lines += (i % 2 ? b : a).toUtf8() + "\r\n";
    QVERIFY(writeBytes(path(u"long.txt"_s), lines));
    QList<int> insertions;
    connect(&p.core->Playlist(), &QAbstractItemModel::rowsInserted, this,
            [&insertions](const QModelIndex &, int first, int last) {
                insertions.append(last - first + 1);
            });

    // The drop returns before the list is read, and a track dropped after it comes after it.
    p.core->dropFiles({QFile::encodeName(path(u"long.txt"_s))});
    p.core->dropFiles({QFile::encodeName(c)});
    QVERIFY(p.core->Reading());
    QCOMPARE(p.count(), 0);
    QVERIFY(p.settled());

    const QStringList paths = p.paths();
    QCOMPARE(paths.size(), 20001);
    for (int i = 0; i < 20000; ++i)
        QCOMPARE(paths[i], i % 2 ? b : a);
    QCOMPARE(paths.constLast(), c);
    QCOMPARE(p.items().constLast(), u"Tc"_s);
    // In batches: the first entries were on screen long before the last were read.
    QVERIFY2(insertions.size() >= 20, qPrintable(QString::number(insertions.size())));
}

QTEST_MAIN(PlaylistTest)
#include "test_playlist.moc"
