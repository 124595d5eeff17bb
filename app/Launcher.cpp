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
    // The launcher reads no command line, and neither does Qt: it gets only the program's name,
    // so no option mirrors, renames, moves or restyles the window. The platform and the style
    // stay choosable through Qt's environment variables (QT_QPA_PLATFORM, QT_STYLE_OVERRIDE).
    static char fallbackName[] = "velmar-launcher";
    char* programOnly[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    int programOnlyCount = 1;
    Application app(programOnlyCount, programOnly);
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
