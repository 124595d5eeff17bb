#include "app/Launcher.h"

#include "app/LauncherIcon.h"
#include "app/Launchform.h"
#include "app/Progbar.h"
#include "app/WindowLook.h"
#include "platform/toolkit/Application.h"

#include <QScreen>
#include <QTimer>

#include <cstdlib>
#include <filesystem>

namespace velmar {

int RunLauncher(int argc, char** argv, const std::function<void()>& afterShow) {
    // A relative WINEPREFIX names a folder below the one the launcher was started in; a start
    // changes folder, so it is made absolute first.
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix && *prefix != '/') {
        std::error_code ec;
        const std::string absolute = std::filesystem::absolute(prefix, ec).lexically_normal();
        if (!ec)
            setenv("WINEPREFIX", absolute.c_str(), 1);
    }
    Application app(argc, argv);
    installWindowStyle(); // before anything is drawn or cached
    app.setWindowIcon(LauncherIcon(QCoreApplication::applicationDirPath()));
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
