#include "app/Progbar.h"

#include "app/WindowLook.h"

#include "platform/toolkit/WindowButtons.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QShowEvent>

namespace velmar {

TsrvTestForm::TsrvTestForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("Velmar Tides Server Test"));
    // Closing the main window ends the program, also while this dialog is shown.
    setAttribute(Qt::WA_QuitOnClose, false);
    applyWindowLook(this);
    const Scale s(this);
    setFixedSize(s(265), s(90));
    move(s(359), s(198));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    Label1 = new QLabel(QStringLiteral("Die Verbindung zum Server wird getestet..."), this);
    Label1->setGeometry(s.rect(24, 16, 201, 13));
    fitTextToWidth(Label1); // at its designed width also where the window font runs wider
    progBar = new QProgressBar(this);
    progBar->setGeometry(s.rect(24, 40, 209, 16));
    progBar->setRange(0, 7);
    progBar->setValue(0);
    progBar->setTextVisible(false);
    // Closing the main window ends the program, which closes every window, this one included.
    connect(qApp, &QGuiApplication::lastWindowClosed, this, [this] { quitting_ = true; });
}

void TsrvTestForm::closeEvent(QCloseEvent* event) {
    if (quitting_)
        event->accept(); // the program ends: the dialog goes with it
    else
        event->ignore();
}

void TsrvTestForm::showEvent(QShowEvent* event) {
    // Set once the native window exists and before it is first mapped: the window manager reads
    // the hints when it takes the window on.
    if (!buttonsSet_) {
        buttonsSet_ = true;
        offerNoTitleBarButtons(this);
    }
    QWidget::showEvent(event);
}

} // namespace velmar
