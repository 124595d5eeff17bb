// The yardstick for the launcher's start-up: the least a Qt Widgets program does to draw a
// window of the launcher's size. It reports exactly as launcher-startup does, at the same
// moment (its first frame drawn), then closes.
#include "bench/FirstFrame.h"
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
    velmar::bench::FirstFrameProbe probe([&](QWidget*) {
        velmar::bench::reportShown();
        QTimer::singleShot(0, &app, [&] {
            window.close();
            QCoreApplication::quit();
        });
        return true;
    });
    app.installEventFilter(&probe);
    window.setFixedSize(391, 407);
    if (argc > 1 && std::strcmp(argv[1], "text") == 0)
        new QLabel(QStringLiteral("Installation"), &window);
    window.show();
    return app.exec();
}
