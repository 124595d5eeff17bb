// The public-address lookup must not stall the window: while the page server keeps the request
// waiting, the UI thread goes on processing events. An HTTP server on 127.0.0.1 accepts the
// connection and never answers; the window is switched to the Server role (which starts the
// refresh, with IpTimeout 4000) while a 1 ms timer records the gaps between its ticks.
// Goal: no gap over 20 ms during the first 3 s of the lookup.
// Then the memory a lookup adds: resident memory before any lookup, and after lookups of an
// answering page (a small one, as address pages are, and a mebibyte of words that the page-text
// bounds cut), with the number of child processes. Goal: at most a few MiB and no process.
// Also times TPowersock::LocalIP(), which the refresh calls on the UI thread.
#include "address/PageLoader.h"
#include "app/Launchform.h"
#include "app/Progbar.h"
#include "bench/BenchSupport.h"
#include "platform/toolkit/RadioGroup.h"
#include "sockets/Psock.h"
#include "tests/support/HttpStandIn.h"

#include <QApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <QLineEdit>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace velmar;
using namespace velmar::bench;

namespace {

// Accepts every connection and keeps it open without ever sending a byte.
class SilentHttpServer : public QTcpServer {
public:
    SilentHttpServer() {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                ++accepted;
                connect(s, &QTcpSocket::readyRead, s,
                        [this, s] { requestBytes += s->readAll().size(); });
            }
        });
    }
    int accepted = 0;
    qint64 requestBytes = 0;
};

long statusKb(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(name) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

// Resident kB of the mappings of files whose path holds `part` (smaps).
long mappedRssKb(const char* part) {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool counting = false;
    long kb = 0;
    while (std::getline(smaps, line)) {
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find('-') < line.find(' '))
            counting = line.find(part) != std::string::npos;
        else if (counting && line.rfind("Rss:", 0) == 0)
            kb += std::strtol(line.c_str() + 4, nullptr, 10);
    }
    return kb;
}

// Processes whose parent is this one.
int childProcesses() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state;
        long ppid = 0;
        if (stat >> pid >> name >> state >> ppid && ppid == ::getpid())
            ++n;
    }
    return n;
}

const char* verdict(bool ok) {
    return ok ? "PASS" : "FAIL";
}

} // namespace

int main(int argc, char** argv) {
    useOffscreenPlatform();
    QApplication app(argc, argv);

    SilentHttpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "lookup_bench: can not listen on 127.0.0.1\n");
        return 1;
    }
    TempConfig config;
    Seed seed; // Multiplayer, Client: opening the window starts no lookup yet
    seed.ipServerUrl =
        "http://127.0.0.1:" + std::to_string(server.serverPort()) + "/whatismyip.php";
    seed.ipTimeout = 4000;
    seedSettings(seed);
    RecordingDialogs dialogs;
    TMainForm form;
    TsrvTestForm testForm;
    form.setServerTestForm(&testForm);
    form.show();
    const long rssBeforeAnyLookup = statusKb("VmRSS");
    if (form.browser->loading()) {
        std::fprintf(stderr, "lookup_bench: a lookup started before the measurement\n");
        return 1;
    }

    // The heartbeat: one tick a millisecond; the gap between two ticks is how long the loop was
    // kept from processing events.
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    Clock::time_point last = Clock::now();
    Clock::time_point lookupStart{};
    bool lookupRunning = false;
    double maxGap3s = 0, maxGapAll = 0;
    std::vector<double> gaps;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        if (lookupRunning) {
            const double gap = msBetween(last, now);
            gaps.push_back(gap);
            maxGapAll = std::max(maxGapAll, gap);
            if (msBetween(lookupStart, now) <= 3000)
                maxGap3s = std::max(maxGap3s, gap);
        }
        last = now;
    });
    heartbeat.start();

    QEventLoop loop;
    bool started = false;
    bool waitedOnServer = false;
    Clock::time_point messageAt{};
    dialogs.onMessage = [&](const std::string&, Clock::time_point at) {
        messageAt = at;
        loop.quit();
    };
    QTimer::singleShot(100, [&] {
        // The user picks "Server": the refresh starts (LAN address, then the page).
        lookupStart = Clock::now();
        lookupRunning = true;
        form.rgClientServer->setItemIndex(1);
        started = form.browser->loading() && form.webTimer->Enabled();
        if (!started)
            loop.quit();
    });
    QTimer::singleShot(100 + 3000,
                       [&] { waitedOnServer = form.browser->loading() && server.accepted > 0; });
    QTimer::singleShot(100 + 8000, &loop, &QEventLoop::quit);
    loop.exec();
    heartbeat.stop();

    if (!started) {
        std::fprintf(stderr, "lookup_bench: switching to Server started no lookup\n");
        return 1;
    }
    const Summary g = summarize(gaps);
    std::printf("lookup against a silent server on 127.0.0.1:%u (accepted %d connection(s), "
                "%lld request bytes; still waiting after 3 s: %s)\n",
                server.serverPort(), server.accepted, static_cast<long long>(server.requestBytes),
                waitedOnServer ? "yes" : "no");
    std::printf("event-loop gaps during the lookup (1 ms heartbeat, %zu ticks): median %.3f ms, "
                "p90 %.3f ms, max over the first 3 s %.3f ms, max until the timeout %.3f ms  "
                "goal < 20 ms: %s\n",
                g.n, g.median, g.p90, maxGap3s, maxGapAll,
                verdict(waitedOnServer && maxGap3s < 20.0));
    if (dialogs.messages.empty())
        std::printf("no message within 8 s of the start\n");
    else
        std::printf("message \"%s\" %.1f ms after the start (IpTimeout 4000)\n",
                    dialogs.messages.front().c_str(), msBetween(lookupStart, messageAt));

    // The memory of lookups that find a page.
    {
        test::HttpStandIn pages;
        pages.answers["/small"] = test::HttpStandIn::page(
            "<!DOCTYPE html><html><head><title>Ihre IP</title><style>.ad { display: none } "
            "p { margin: 1em }</style></head><body><h1>Ihre IP-Adresse</h1><p class=ad>10.0.0.1"
            "</p><p>Ihre IP: <b>84.133.2.17</b></p><p><a href='/'>Startseite</a></p></body>"
            "</html>");
        QByteArray words;
        while (words.size() < 1024 * 1024)
            words += "<span>Wort</span> ";
        pages.answers["/big"] = test::HttpStandIn::page("<body>84.133.2.17 " + words + "</body>");
        const auto lookUp = [&](const char* path) {
            openLauncherKey().writeString(
                ValIpServerUrl, "http://127.0.0.1:" + std::to_string(pages.port()) + path);
            dialogs.messages.clear();
            form.acRefresh->execute();
            QEventLoop wait;
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (!form.webTimer->Enabled())
                    wait.quit();
            });
            poll.start(5);
            wait.exec();
            return form.edServerInetAddr->text().toStdString();
        };
        const long hwmBefore = statusKb("VmHWM");
        const std::string small = lookUp("/small");
        const long rssSmall = statusKb("VmRSS");
        for (int n = 0; n < 20; ++n)
            lookUp("/small");
        const long rssSmall20 = statusKb("VmRSS");
        const long hwmSmall = statusKb("VmHWM");
        const Clock::time_point bigStart = Clock::now();
        const std::string big = lookUp("/big");
        const double bigMs = msBetween(bigStart, Clock::now());
        const long rssBig = statusKb("VmRSS");
        const long hwmBig = statusKb("VmHWM");
        const int children = childProcesses();
        // The page text's share: the engine's libraries and what repeated lookups keep.
        const long engineKb = mappedRssKb("/liblitehtml.so") + mappedRssKb("/libgumbo.so");
        std::printf("memory: VmRSS before any lookup %ld kB; after the first page lookup %ld kB "
                    "(+%ld kB: Qt Network, its libraries and the network module loaded; found "
                    "%s), after 20 more %ld kB; VmHWM %ld -> %ld kB\n",
                    rssBeforeAnyLookup, rssSmall, rssSmall - rssBeforeAnyLookup, small.c_str(),
                    rssSmall20, hwmBefore, hwmSmall);
        std::printf("memory: resident litehtml %ld kB, gumbo %ld kB, the network module %ld kB, "
                    "Qt Network %ld kB; child processes %d  goal: page text (litehtml, gumbo, "
                    "growth over 20 lookups) <= 4096 kB and no process: %s\n",
                    mappedRssKb("/liblitehtml.so"), mappedRssKb("/libgumbo.so"),
                    mappedRssKb("/velmar-network.so"), mappedRssKb("/libQt6Network.so"), children,
                    verdict(engineKb + (rssSmall20 - rssSmall) <= 4096 && children == 0));
        std::printf("memory: a 1 MiB page of words (found %s, %.1f ms from refresh to "
                    "completion): VmRSS %ld kB after, VmHWM %ld kB (+%ld kB over the small page's "
                    "peak)\n",
                    big.c_str(), bigMs, rssBig, hwmBig, hwmBig - hwmSmall);
    }

    // LocalIP on its own.
    {
        TPowersock psock(nullptr);
        Clock::time_point t = Clock::now();
        const std::string ip = psock.LocalIP();
        const double first = msBetween(t, Clock::now());
        std::vector<double> times;
        for (int i = 0; i < 200; ++i) {
            t = Clock::now();
            psock.LocalIP();
            times.push_back(msBetween(t, Clock::now()));
        }
        const Summary l = summarize(times);
        std::printf(
            "TPowersock::LocalIP(): first call %.3f ms, then over %zu calls median %.3f ms, "
            "p90 %.3f ms, max %.3f ms (%s)\n",
            first, l.n, l.median, l.p90, l.max, ip.empty() ? "no address" : "an address found");
    }
    return 0;
}
