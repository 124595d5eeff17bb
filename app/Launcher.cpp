#include "app/Launcher.h"

#include "app/Launchform.h"
#include "app/Progbar.h"
#include "app/WindowLook.h"
#include "platform/toolkit/Application.h"

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

namespace velmar {

namespace {

// The program's icon: one 50 x 45 picture in 24-bit colour, a sail over the tide.
QIcon LauncherIcon() {
    QImage image(50, 45, QImage::Format_RGB888);
    image.fill(QColor(18, 52, 96));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(232, 196, 92));
    p.drawEllipse(QPointF(38, 10), 6, 6);
    p.setBrush(QColor(240, 240, 230));
    p.drawPolygon(QPolygonF({QPointF(24, 4), QPointF(24, 30), QPointF(10, 30)}));
    p.setBrush(QColor(200, 60, 50));
    p.drawPolygon(QPolygonF({QPointF(26, 8), QPointF(26, 30), QPointF(36, 30)}));
    p.setBrush(QColor(110, 70, 40));
    p.drawRect(QRectF(8, 31, 32, 4));
    QPainterPath wave;
    wave.moveTo(0, 37);
    for (int x = 0; x <= 50; x += 10) {
        wave.quadTo(x + 2.5, 33, x + 5, 37);
        wave.quadTo(x + 7.5, 41, x + 10, 37);
    }
    wave.lineTo(50, 45);
    wave.lineTo(0, 45);
    wave.closeSubpath();
    p.setBrush(QColor(40, 120, 180));
    p.drawPath(wave);
    p.end();
    return QIcon(QPixmap::fromImage(image));
}

} // namespace

int RunLauncher(int argc, char** argv, const std::function<void()>& afterShow) {
    Application app(argc, argv);
    installWindowStyle(); // before anything is drawn or cached
    app.setWindowIcon(LauncherIcon());
    // Every window and box of the program uses the window font: one face to load at start-up.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        QApplication::setFont(WindowFont(screen->logicalDotsPerInchY() / 96.0));
    // Component-object initialisation has no counterpart here: the page fetcher needs none.
    Guarded([&] {
        MainForm = new TMainForm();
        srvTestForm = new TsrvTestForm();
        MainForm->setServerTestForm(srvTestForm);
        MainForm->show();
        if (afterShow)
            QTimer::singleShot(0, &app, afterShow);
        app.exec();
    });
    delete srvTestForm;
    srvTestForm = nullptr;
    delete MainForm;
    MainForm = nullptr;
    return 0;
}

} // namespace velmar
