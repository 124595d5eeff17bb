// The real launcher, started as velmar-launcher starts it, reporting once the first frame of its
// main window is drawn and then closing that window.
#include "app/Launcher.h"
#include "app/Launchform.h"
#include "bench/FirstFrame.h"
#include "bench/StartupProbe.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

// Watches from the moment the application object exists, before the window is made.
void installProbe() {
    auto* probe = new velmar::bench::FirstFrameProbe([](QWidget*) {
        velmar::bench::reportShown();
        QTimer::singleShot(0, qApp, [] {
            velmar::MainForm->close();
            QCoreApplication::quit();
        });
        return true;
    });
    QCoreApplication::instance()->installEventFilter(probe);
}
Q_COREAPP_STARTUP_FUNCTION(installProbe)

} // namespace

int main(int argc, char** argv) {
    return velmar::RunLauncher(argc, argv);
}
