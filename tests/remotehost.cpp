// kelpa as a browser test meets it: the player window with the real engine library, a
// playlist of real MP3 files with titles, and the web remote listening on a free port.
// Prints "port N" once listening, then once a second the engine's state as
// "state S position P" (S: 0 idle, 2 paused, other values playing), and "pairing CODE" for
// the pairing code in force and each new one, until stdin closes.
// Lines on stdin act as the user at the desktop (see below).
// The first track's tag carries a 64 x 64 PNG picture. Given QR_PICTURE, it first opens the QR
// code window as a user does, by a double-click on the address box, saves what the screen
// shows of it there (the guest's code in QR_PICTURE.guest.png) and prints "address A", the
// address box's text.
//
// Usage: remotehost ENGINE_DIR [QR_PICTURE]
// REMOTEHOST_PAUSE_MS, when set, replaces the server's pause after each answer (a benchmark's
// heap profile gets through more requests in its time); every other timing is the program's.
#include "net/winsock.h"
#include "playerharness.h"
#include "remotefixture.h"
#include "support/fixtures.h"
#include "webremote/frmsver.h"
#include "webremote/remoteserver.h"
#include "windowwatch.h"

#include <QApplication>
#include <QBuffer>
#include <QLibrary>
#include <QLineEdit>
#include <QScreen>
#include <QSocketNotifier>
#include <QTabBar>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: remotehost ENGINE_DIR\n");
        return 2;
    }
    const QString engineDir = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir music;
    const QStringList titles{u"Morning Tone"_s, u"夜明けのトーン"_s, u"Evening & <Tone>"_s};
    QStringList paths;
    QImage cover(64, 64, QImage::Format_RGB32);
    cover.fill(Qt::darkCyan);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    cover.save(&png, "PNG");
    for (qsizetype i = 0; i < titles.size(); ++i) {
        const QString path =
            Fixtures::makeTone(music.path(), u"track%1.mp3"_s.arg(i), 30.0, 440.0 + 110 * i);
        QList<Fixtures::Id3Frame> frames{
            Fixtures::id3TextFrame("TIT2", titles[i], Fixtures::Utf16Bom),
            Fixtures::id3TextFrame("TPE1", u"kelpa tests"_s, Fixtures::Utf8)};
        if (i == 0)
            frames.append({"APIC", QByteArray("\0image/png\0\x03\0", 13) + png.data()});
        const QByteArray tag = Fixtures::id3v2(frames, 4);
        if (path.isEmpty() || !Fixtures::prependToFile(path, tag)) {
            std::fprintf(stderr, "remotehost: no fixture: %s\n", qPrintable(Fixtures::lastError()));
            return 1;
        }
        paths.append(path);
    }

    std::unique_ptr<FrmSver> settings;
    ServerTimings timings;
    bool pauseSet = false;
    const int pause = qEnvironmentVariableIntValue("REMOTEHOST_PAUSE_MS", &pauseSet);
    if (pauseSet)
        timings.pauseMs = pause;
    PlayerHarness player(engineDir, [&settings, timings](Form1 &form) {
        QObject::connect(&form, &Form1::Loaded, &form, [&form, &settings, timings] {
            settings = std::make_unique<FrmSver>(form.Control(), form.windowIcon(), timings);
            settings->show();
        });
    });
    if (!player.started || !player.dropFiles(paths) || player.count() != titles.size()) {
        std::fprintf(stderr, "remotehost: the player did not start with its playlist\n");
        return 1;
    }
    player.timer()->start(); // the monitor runs as in the program

    FrmSver *panel = settings.get();
    auto *port = panel->findChild<QLineEdit *>(u"Text1"_s);
    port->setText(QString::number(freePort()));
    panel->findChild<QPushButton *>(u"Check1"_s)->click();
    std::printf("port %d\n", panel->findChild<Winsock *>(u"Winsock1"_s)->LocalPort());
    if (argc > 2) {
        auto *address = panel->findChild<QLineEdit *>(u"Text3"_s);
        QTest::mouseDClick(address, Qt::LeftButton);
        auto *window = panel->findChild<QWidget *>(u"QrWindow"_s);
        if (!window || !QTest::qWaitForWindowExposed(window)) {
            std::fprintf(stderr, "remotehost: no QR code window\n");
            return 1;
        }
        const QImage shown = shownOnScreen(window);
        if (shown.isNull() || !shown.save(QString::fromLocal8Bit(argv[2]))) {
            std::fprintf(stderr, "remotehost: the picture cannot be saved\n");
            return 1;
        }
        window->findChild<QTabBar *>(u"Roles"_s)->setCurrentIndex(1);
        QTest::qWait(300);
        window->screen()
            ->grabWindow(window->winId())
            .toImage()
            .save(QString::fromLocal8Bit(argv[2]) + u".guest.png"_s);
        std::printf("address %s\n", qPrintable(address->text()));
    }
    const auto showPairing = [panel] {
        std::printf("pairing %s\n", panel->server().pairingCode().constData());
        std::fflush(stdout);
    };
    QObject::connect(&panel->server(), &RemoteServer::pairingCodeChanged, panel, showPairing);
    showPairing();

    // The library the player loaded, opened once more only to read its state.
    QLibrary engine(QDir(engineDir).filePath(u"libvbmp3.so"_s));
    using GetState = int32_t (*)(int32_t *);
    auto getState = reinterpret_cast<GetState>(engine.resolve("vbmp3_getState"));
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        int32_t seconds = 0;
        const int32_t state = getState ? getState(&seconds) : -1;
        std::printf("state %d position %d\n", state, seconds);
        std::fflush(stdout);
    });
    report.start(1000);

    // A line on stdin acts as the user at the desktop: "delete N" removes entry N, "gone N"
    // removes its file from the disk, "add N" drops the tracks N times over on the list.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray lines;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0)
            QCoreApplication::exit(0);
        for (lines.append(buffer, std::max<ssize_t>(got, 0)); lines.contains('\n');
             lines.remove(0, lines.indexOf('\n') + 1)) {
            const QList<QByteArray> words = lines.left(lines.indexOf('\n')).split(' ');
            const int n = words.value(1).toInt();
            QList<QByteArray> added;
            for (int i = 0; words[0] == "add" && i < n; ++i)
                added.append(QFile::encodeName(paths[i % paths.size()]));
            if (words[0] == "delete")
                player.core->DeleteEntry(n);
            else if (words[0] == "gone")
                QFile::remove(QFile::decodeName(player.core->ListPath(n)));
            else
                player.core->addFiles(added);
        }
    });
    return QCoreApplication::exec();
}
