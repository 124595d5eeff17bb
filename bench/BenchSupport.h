#pragma once
// Shared pieces of the benchmark programs: a private settings store, seeded windows, dialogs
// that record instead of blocking, and the offscreen platform.
#include "platform/registry/RegistryBackend.h"
#include "platform/toolkit/Dialogs.h"
#include "settings/Registry.h"
#include "settings/Settings.h"
#include "tests/support/TempConfig.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmar::bench {

using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Call before the application object is made.
inline void useOffscreenPlatform() {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// A fresh temporary XDG_CONFIG_HOME for the program's own settings store (shared with the tests).
using test::TempConfig;

inline Registry openLauncherKey(const std::string& suffix = "") {
    Registry reg;
    if (!reg.openKey(std::string(LauncherKeyPath) + suffix, true))
        throw std::runtime_error("can not open the launcher key in the hive store");
    return reg;
}

// The settings a window starts from. Every address is on loopback: IpServerUrl is set first,
// so nothing that starts later can reach a page off this machine.
struct Seed {
    int gameType = 1;     // 0 Singleplayer, 1 Multiplayer
    int clientServer = 0; // 0 Client, 1 Server
    std::string clientServerAddr = "127.0.0.1";
    std::string ipServerUrl = "http://127.0.0.1:9/whatismyip.php"; // closed port
    int ipTimeout = 7000;
    std::string installationFolder = "/tmp";
};

inline void seedSettings(const Seed& seed) {
    Registry key = openLauncherKey();
    key.writeString(ValIpServerUrl, seed.ipServerUrl);
    key.writeInteger(ValIpTimeout, seed.ipTimeout);
    key.writeInteger(ValGameType, seed.gameType);
    key.writeInteger(ValClientServer, seed.clientServer);
    key.writeString(ValClientServerAddr, seed.clientServerAddr);
    openLauncherKey(InstallationsSuffix).writeString(StandardInstallation, seed.installationFolder);
}

// Dialogs that never block: message boxes are recorded (with the moment they were asked for)
// and handed to `onMessage`; every question is answered as cancelled.
class RecordingDialogs : public Dialogs {
public:
    RecordingDialogs() { setDialogs(this); }
    ~RecordingDialogs() override { setDialogs(nullptr); }
    RecordingDialogs(const RecordingDialogs&) = delete;
    RecordingDialogs& operator=(const RecordingDialogs&) = delete;

    std::vector<std::string> messages;
    std::vector<std::string> errors;
    std::function<void(const std::string&, Clock::time_point)> onMessage;

    void messageBox(const std::string& text) override {
        const Clock::time_point at = Clock::now();
        messages.push_back(text);
        if (onMessage)
            onMessage(text, at);
    }
    bool confirm(const std::string&) override { return false; }
    std::string browseFolder(const std::string&) override { return {}; }
    bool inputQuery(const std::string&, const std::string&, std::string&) override { return false; }
    void errorBox(const std::string& text) override { errors.push_back(text); }
};

// Median and percentiles of a sample (sorted copy).
struct Summary {
    double min = 0, median = 0, p90 = 0, p99 = 0, max = 0, mean = 0;
    std::size_t n = 0;
};
inline Summary summarize(std::vector<double> values) {
    Summary s;
    s.n = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
    };
    s.min = values.front();
    s.max = values.back();
    s.median = values.size() % 2 ? values[values.size() / 2]
                                 : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
    s.p90 = at(0.9);
    s.p99 = at(0.99);
    double sum = 0;
    for (double v : values)
        sum += v;
    s.mean = sum / static_cast<double>(values.size());
    return s;
}

} // namespace velmar::bench
