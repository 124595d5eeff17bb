#include "app/Progbar.h"

#include "app/WindowLook.h"

#include <QLabel>
#include <QProgressBar>

#include <algorithm>

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
    // A wider fallback font may need more room than designed; the dialog has it.
    Label1->resize(std::max(Label1->width(), std::min(Label1->sizeHint().width(), width() - s(32))),
                   Label1->height());
    progBar = new QProgressBar(this);
    progBar->setGeometry(s.rect(24, 40, 209, 16));
    progBar->setRange(0, 7);
    progBar->setValue(0);
    progBar->setTextVisible(false);
}

} // namespace velmar
