// The floor for the launcher's start-up: a window that, like the launcher, must read and write
// its settings in SQLite before its first frame. It opens a database file in
// $XDG_CONFIG_HOME (a new one each run, as at the launcher's first start), switches it to a
// write-ahead log, commits five values in one transaction without waiting for the disk (as
// the launcher's first start writes its defaults), then shows the text window of empty-window
// and reports exactly as launcher-startup does, at the same moment (its first frame drawn).
// SQLite is used as any program would use it, with its default settings.
#include "bench/FirstFrame.h"
#include "bench/StartupProbe.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool commitFiveValues() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string file = std::string(config && *config ? config : "/tmp") + "/floor.db";
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK;
    for (const char* sql :
         {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL",
          "CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value BLOB)", "BEGIN",
          "INSERT OR REPLACE INTO settings VALUES ('GameType', 0)",
          "INSERT OR REPLACE INTO settings VALUES ('ClientServer', 0)",
          "INSERT OR REPLACE INTO settings VALUES ('ClientServerAddr', '')",
          "INSERT OR REPLACE INTO settings VALUES ('IpTimeout', 5000)",
          "INSERT OR REPLACE INTO settings VALUES ('LastInstallation', 'Standard')", "COMMIT"})
        ok = ok && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok)
        std::fprintf(stderr, "sqlite-window: %s: %s\n", file.c_str(), sqlite3_errmsg(db));
    sqlite3_close(db);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (!commitFiveValues())
        return 1;
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
    new QLabel(QStringLiteral("Installation"), &window);
    window.show();
    return app.exec();
}
