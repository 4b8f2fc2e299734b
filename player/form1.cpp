#include "form1.h"

#include "player.h"
#include "ui_form1.h"
#include "xlibrequests.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

Form1::Form1(Player &player, QWidget *parent)
    : QWidget(parent), player_(player), ui_(std::make_unique<Ui::Form1>()),
      Timer1(new QTimer(this)), mnuPop1(new QMenu(this))
{
    ui_->setupUi(this);
    // Three images: 32x32 in 2 and in 16 colours, 16x16 in 16 colours. An icon keeps one
    // image per size, the last one read: the file lists the 16-colour 32x32 after the 2-colour.
    setWindowIcon(QIcon(u":/kelpa.ico"_s));

    PlaylistBox *list1 = ui_->List1;
    list1->setModel(&player_.Playlist());
    QItemSelectionModel *ownSelection = list1->selectionModel();
    list1->setSelectionModel(&player_.Selection()); // the selection is the player's
    delete ownSelection;
    QPalette listColours = list1->palette();
    listColours.setColor(QPalette::Base, Qt::white);
    listColours.setColor(QPalette::Text, Qt::black);
    list1->setPalette(listColours);

    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setInterval(kTickMs);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    ui_->PictBar->setForeColor(QColor(0, 0, 255));
    // The display's inner area is 12 pixels high, made for an 8-point font; the desktop's
    // default size would cut every line. The family stays the desktop's.
    QFont dispFont = ui_->PictDisp->font();
    dispFont.setPixelSize(kDisplayFontPixels);
    ui_->PictDisp->setFont(dispFont);
    connect(ui_->PictBar, &PictureBox::MouseDown, this, &Form1::PictBar_MouseDown);

    BuildPopupMenu();
    connect(list1, &PlaylistBox::FilesDropped, this, &Form1::List1_FilesDropped);
    connect(list1, &PlaylistBox::DeleteReleased, this, &Form1::List1_DeleteReleased);
    connect(list1, &PlaylistBox::RightReleased, this, &Form1::List1_RightReleased);
    connect(list1, &PlaylistBox::DblClick, this, &Form1::List1_DblClick);
    const QList<QPushButton *> buttons{ui_->Command1_0, ui_->Command1_1, ui_->Command1_2,
                                       ui_->Command1_3, ui_->Command1_4};
    for (int16_t index = 0; index < buttons.size(); ++index)
        connect(buttons[index], &QPushButton::clicked, this,
                [this, index] { Command1_Click(index); });

    auto *chooseFiles = new QShortcut(QKeySequence::Open, this);
    connect(chooseFiles, &QShortcut::activated, this, &Form1::ChooseFiles);

    ReleaseXlibRequestsAfterTitleChanges(this);
    connect(&player_, &Player::captionChanged, this, &Form1::ShowCaption);
    connect(&player_, &Player::openFailed, this, &Form1::ShowOpenError);
    connect(&player_, &Player::raiseRequested, this, &Form1::Raise);
    connect(&player_, &Player::quitRequested, this, &QWidget::close);
    ShowCaption(player_.caption());
}

Form1::~Form1() = default;

bool Form1::Start()
{
    if (!Form_Load())
        return false;
    move(screen()->availableGeometry().center() - rect().center());
    show();
    return true;
}

bool Form1::Form_Load()
{
    // Whether another copy runs was settled before this window was made (app/singleinstance.h).
    if (player_.EngineMissing()) {
        ShowMessage(u"\"VBMP3.dll\"が見つかりません。終了します。"_s);
        return false;
    }

    // Not shown yet, so the outer size is the design size.
    InitWidth = static_cast<float>(frameGeometry().width());
    InitHeight = static_cast<float>(frameGeometry().height());
    InitListHeight = static_cast<float>(ui_->List1->height());
    InitListWidth = static_cast<float>(ui_->List1->width());
    InitButtonTop = static_cast<float>(ui_->Command1_0->y());
    InitBarTop = static_cast<float>(ui_->PictBar->y());
    InitDispTop = static_cast<float>(ui_->PictDisp->y());
    InitDispWidth = static_cast<float>(ui_->PictDisp->width());

    player_.Load();

    emit Loaded();

    Timer1->start();
    return true;
}

void Form1::ShowMessage(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, u"kelpa"_s, text, QMessageBox::Ok);
    box.setWindowFlag(Qt::WindowStaysOnTopHint); // above every window of ours
    box.exec();
}

void Form1::ShowOpenError()
{
    // One box says it all: a failure while it is up adds nothing the user has not been told.
    if (openErrorBox_)
        return;
    openErrorBox_ =
        new QMessageBox(QMessageBox::NoIcon, u"kelpa"_s, u"Open Error"_s, QMessageBox::Ok, this);
    // The settings panel and the QR code stand on top of other windows: the box must stand
    // above them, or the user sees a player that takes no clicks and no reason why.
    openErrorBox_->setWindowFlag(Qt::WindowStaysOnTopHint);
    openErrorBox_->setAttribute(Qt::WA_DeleteOnClose);
    connect(openErrorBox_, &QDialog::finished, this, [this] {
        openErrorBox_ = nullptr;
        player_.OpenErrorAnswered();
    });
    openErrorBox_->open();
}

void Form1::BuildPopupMenu()
{
    mnuPop1->setObjectName(u"mnuPop1"_s);
    const auto item = [this](const QString &name, const QString &caption) {
        QAction *action = mnuPop1->addAction(caption);
        action->setObjectName(name);
        return action;
    };
    mnuPlay = item(u"mnuPlay"_s, u"演奏"_s);
    mnuPop1->addSeparator()->setObjectName(u"mnuLine1"_s);
    mnuDelate = item(u"mnuDelate"_s, u"消去"_s);
    mnuDelateAll = item(u"mnuDelateAll"_s, u"全消去"_s);
    mnuPop1->addSeparator()->setObjectName(u"mnuLine2"_s);
    mnuLoop = item(u"mnuLoop"_s, u"ループ再生"_s);
    mnuLoop->setCheckable(true); // the mark shows the player's loop setting

    connect(mnuPlay, &QAction::triggered, this, &Form1::List1_DblClick);
    connect(mnuDelate, &QAction::triggered, this, &Form1::mnuDelate_Click);
    connect(mnuDelateAll, &QAction::triggered, this, &Form1::mnuDelateAll_Click);
    connect(mnuLoop, &QAction::triggered, this, &Form1::mnuLoop_Click);
    connect(&player_, &kelpa::PlayerControl::loopChanged, mnuLoop,
            [this] { mnuLoop->setChecked(player_.loop()); });
}

kelpa::PlayerControl &Form1::Control()
{
    return player_;
}

void Form1::ShowCaption(const QString &caption)
{
    // Qt takes "[*]" in a window title for the place of its modified mark and drops it; a
    // doubled "[*][*]" shows as one "[*]". A tag may hold anything, so every one is doubled.
    QString title = caption;
    title.replace(u"[*]"_s, u"[*][*]"_s);
    setWindowTitle(title);
}

void Form1::Raise()
{
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void Form1::Command1_Click(int16_t Index)
{
    if (Index >= int16_t(kelpa::Transport::Previous) && Index <= int16_t(kelpa::Transport::Next))
        player_.run(static_cast<kelpa::Transport>(Index));
}

void Form1::List1_DblClick()
{
    player_.OpenSelected();
}

void Form1::closeEvent(QCloseEvent *event)
{
    Timer1->stop();
    player_.Shutdown();
    event->accept();
    // The program ends with this window. The settings panel refuses to close on its own, so
    // the event loop is told to return rather than left to notice the last window closed;
    // quit() would first ask every window to close, and the panel would refuse.
    QCoreApplication::exit(0);
}
