#include "form2.h"

#include "about/version.h"
#include "homepage.h"
#include "ui_form2.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QUrl>

Form2::Form2(const QIcon &playerIcon, QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      ui_(std::make_unique<Ui::Form2>())
{
    ui_->setupUi(this);
    QFont small = font(); // the panel's size: the layout was drawn for a small system font
    small.setPixelSize(11);
    setFont(small);
    setFixedSize(244, 73);
    connect(ui_->Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(ui_->Command2, &QPushButton::clicked, this, &Form2::Command2_Click);

    ui_->Picture1->setPixmap(playerIcon.pixmap(32, 32));
    ui_->Label1->setText(QStringLiteral("kelpa  Ver.") + QString::fromUtf16(KelpaVersion));
    // The address has one home, the tool tip, so what the user reads there is what opens.
    ui_->Command2->setToolTip(QString::fromUtf16(HomePageUrl));
}

Form2::~Form2() = default;

void Form2::keyPressEvent(QKeyEvent *event)
{
    // Neither button cancels: Escape does nothing (Enter presses the focused button).
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void Form2::showEvent(QShowEvent *event)
{
    // OK comes first in the tab order, so each opening starts on it, wherever the focus was
    // when the box was hidden: a Space or Enter right after opening closes the box and never
    // opens the browser by surprise.
    ui_->Command1->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}

void Form2::Command1_Click()
{
    hide(); // ends the modal show; the box stays loaded
}

void Form2::Command2_Click()
{
    QDesktopServices::openUrl(QUrl(ui_->Command2->toolTip())); // a failure goes unreported
}
