// The real launcher, started as velmar-launcher starts it, reporting once its main window is
// shown (the first pass of the event loop after show) and then closing that window.
#include "app/Launcher.h"
#include "app/Launchform.h"
#include "bench/StartupProbe.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    return velmar::RunLauncher(argc, argv, [] {
        velmar::bench::reportShown();
        velmar::MainForm->close();
        QCoreApplication::quit();
    });
}
