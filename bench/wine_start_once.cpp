// One Start through Wine, for bench/wine_start.sh. The launcher's window opens on the settings in
// $XDG_CONFIG_HOME (the game found through the Wine prefix), and on the first pass of the event
// loop the program prints "t0_us=<CLOCK_REALTIME in microseconds>" and runs Start. It ends with 0
// once the game's process exists, as the launcher does; a failure prints its message and ends
// with 1.
#include "app/Launchform.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Dialogs.h"

#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace velmar;

namespace {

class ExitingDialogs : public Dialogs {
public:
    void messageBox(const std::string& text) override { fail(text); }
    void errorBox(const std::string& text) override { fail(text); }
    bool confirm(const std::string&) override { return false; }
    std::string browseFolder(const std::string&) override { return {}; }
    bool inputQuery(const std::string&, const std::string&, std::string&) override { return false; }

private:
    [[noreturn]] static void fail(const std::string& text) {
        std::printf("FAILED: %s\n", text.c_str());
        std::fflush(stdout);
        std::_Exit(1);
    }
};

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static ExitingDialogs dialogs;
    setDialogs(&dialogs);
    Application app(argc, argv);
    TMainForm window;
    window.show();
    QTimer::singleShot(0, [&window] {
        window.ActionList1->updateAll();
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        std::printf("t0_us=%lld\n",
                    static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
        std::fflush(stdout);
        if (!window.acStart->execute()) {
            std::printf("FAILED: Start is not available\n");
            std::_Exit(1);
        }
    });
    return app.exec();
}
