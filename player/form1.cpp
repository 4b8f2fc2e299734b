#include "form1.h"

#include "form1control.h"
#include "ui_form1.h"

#include <QCloseEvent>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

Form1::Form1(const QString &programDir, const QString &lockDir, QWidget *parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Form1>()), Timer1(new QTimer(this)),
      mnuPop1(new QMenu(this)), List2([this](const QByteArray &name) { return ReadTags(name); }),
      engine_(programDir),
      instanceLock_(lockDir.isEmpty() ? QString() : QDir(lockDir).filePath(u"kelpa.lock"_s)),
      control_(new Form1Control(*this))
{
    ui_->setupUi(this);
    caption_ = windowTitle();
    // Three images: 32x32 in 2 and in 16 colours, 16x16 in 16 colours. An icon keeps one
    // image per size, the last one read: the file lists the 16-colour 32x32 after the 2-colour.
    setWindowIcon(QIcon(u":/kelpa.ico"_s));

    QPalette listColours = ui_->List1->palette();
    listColours.setColor(QPalette::Base, Qt::white);
    listColours.setColor(QPalette::Text, Qt::black);
    ui_->List1->setPalette(listColours);

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
    PlaylistBox *list1 = ui_->List1;
    connect(list1, &PlaylistBox::FilesDropped, this, &Form1::List1_FilesDropped);
    connect(list1, &PlaylistBox::DeleteReleased, this, &Form1::List1_DeleteReleased);
    connect(list1, &PlaylistBox::RightReleased, this, &Form1::List1_RightReleased);
    connect(list1, &PlaylistBox::DblClick, this, &Form1::List1_DblClick);
    const QList<QPushButton *> buttons{ui_->Command1_0, ui_->Command1_1, ui_->Command1_2,
                                       ui_->Command1_3, ui_->Command1_4};
    for (int16_t index = 0; index < buttons.size(); ++index)
        connect(buttons[index], &QPushButton::clicked, this,
                [this, index] { Command1_Click(index); });

    // A copy that has run for days is as alive as one started a second ago; a crashed copy's
    // lock is still taken over, because its process is gone.
    instanceLock_.setStaleLockTime(0);
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
    if (AnotherCopyRunning()) {
        ShowMessage(u"すでにkelpaは起動しています。"_s);
        return false;
    }
    if (EngineMissing()) {
        instanceLock_.unlock(); // a refused start leaves nothing behind
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

    PlayState.CurrentIndex = -1;
    PlayState.IsPlaying = 0;

    emit Loaded();

    Timer1->start();
    return true;
}

bool Form1::AnotherCopyRunning()
{
    // Only a lock held by a live copy says so. A lock that cannot be made at all (no runtime
    // folder, no permission) tells nothing about other copies, and must not keep the user out.
    return !instanceLock_.tryLock(0) && instanceLock_.error() == QLockFile::LockFailedError;
}

bool Form1::EngineMissing()
{
    return !engine_.init();
}

void Form1::ShowMessage(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, u"kelpa"_s, text, QMessageBox::Ok);
    box.exec();
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
    mnuLoop->setCheckable(true); // a click flips the mark; the monitor reads it at a track's end

    connect(mnuPlay, &QAction::triggered, this, &Form1::List1_DblClick);
    connect(mnuDelate, &QAction::triggered, this, &Form1::mnuDelate_Click);
    connect(mnuDelateAll, &QAction::triggered, this, &Form1::mnuDelateAll_Click);
    connect(mnuLoop, &QAction::toggled, control_, &kelpa::PlayerControl::loopChanged);
}

kelpa::PlayerControl &Form1::Control()
{
    return *control_;
}

QString Form1::Caption() const
{
    return caption_;
}

void Form1::SetCaption(const QString &caption)
{
    caption_ = caption;
    // Qt takes "[*]" in a window title for the place of its modified mark and drops it; a
    // doubled "[*][*]" shows as one "[*]". A tag may hold anything, so every one is doubled.
    QString title = caption;
    title.replace(u"[*]"_s, u"[*][*]"_s);
    setWindowTitle(title);
}

void Form1::closeEvent(QCloseEvent *event)
{
    engine_.stop();
    engine_.free();
    event->accept();
    instanceLock_.unlock();
    // The program ends here, at once. Returning would resume whatever waits below this event:
    // the web remote's wait for a slow client, a pending tick that with loop play opens the
    // next track on the freed engine. The other windows go with the process, and the settings
    // window, which refuses to close on its own, never gets asked.
    std::fflush(nullptr);
    std::_Exit(0);
}
