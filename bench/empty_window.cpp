// The yardstick for the launcher's start-up: the least a Qt Widgets program does to show a
// window of the launcher's size. It reports exactly as launcher-startup does, at the same
// moment (the first pass of the event loop after show), then closes.
#include "bench/StartupProbe.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstring>

// With the argument "text" the window also shows one line of text, which is what loads the
// font configuration and a font: the part of the launcher's start-up any window with words on
// it pays.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(391, 407);
    if (argc > 1 && std::strcmp(argv[1], "text") == 0)
        new QLabel(QStringLiteral("Installation"), &window);
    window.show();
    QTimer::singleShot(0, &app, [&] {
        velmar::bench::reportShown();
        window.close();
        QCoreApplication::quit();
    });
    return app.exec();
}
