// Reply to message box: from just before the stand-in game server sends its reply to the moment
// the first frame of the message box that reports it is drawn (bench/FirstFrame.h), with the
// real Qt message box, best on a real window system (bench/replybox.sh runs it on Xvfb).
//
//   replybox_bench launcher [RUNS]  the real launcher (RunLauncher), Multiplayer / Client with
//                                   127.0.0.1 typed, pressing "Test Server" RUNS times; the
//                                   stand-in holds 127.0.0.1:53917 and answers each query 2 ms
//                                   after it came, from a thread of its own
//   replybox_bench floor [RUNS]     the floor: a bare Qt program with an empty window of the same
//                                   size that sends the same query from a socket of its own and
//                                   shows a plain message box with the same text when a datagram
//                                   arrives (QSocketNotifier, read, QMessageBox::exec)
// Each box is closed as soon as it is drawn; the next run starts 50 ms later. Goal: the
// launcher's median at most 1.25 x the floor's.
#include "app/Launcher.h"
#include "app/Launchform.h"
#include "bench/BenchSupport.h"
#include "bench/FirstFrame.h"
#include "servertest/QueryDatagram.h"
#include "tests/support/UdpStandIn.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace velmar;
using namespace velmar::bench;

namespace {

const char* const ReadyText =
    "Der Tides-Server ist bereit!\nVersion: 1.07\nName der Session: Abend";

struct Run {
    test::UdpStandIn* server = nullptr;
    std::vector<double> latencies;
    int runs = 0;
    std::function<void()> start; // starts one test
    bool failed = false;
};

// Watches for message boxes: each first frame is one measurement, then the box is closed and
// the next run is started.
FirstFrameProbe* watchBoxes(Run& run) {
    return new FirstFrameProbe([&run](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (!box)
            return false;
        const Clock::time_point drawn = Clock::now();
        const auto sends = run.server->sends();
        if (sends.size() != 1 || box->text() != QString::fromUtf8(ReadyText)) {
            std::fprintf(stderr, "run %zu: %zu replies, box says \"%s\"\n", run.latencies.size(),
                         sends.size(), box->text().toUtf8().constData());
            run.failed = true;
        } else {
            run.latencies.push_back(msBetween(sends[0], drawn));
        }
        QMetaObject::invokeMethod(box, "accept", Qt::QueuedConnection);
        if (run.failed || static_cast<int>(run.latencies.size()) >= run.runs) {
            QTimer::singleShot(0, qApp, [] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    w->close();
                QCoreApplication::quit();
            });
        } else {
            QTimer::singleShot(50, qApp, [&run] {
                run.server->clearStamps();
                run.start();
            });
        }
        return false;
    });
}

int launcherMode(int argc, char** argv, Run& run) {
    TempConfig config;
    seedSettings(Seed{}); // Multiplayer, Client, 127.0.0.1 typed
    // Real dialogs: the message box is the one the program shows.
    setDialogs(nullptr);
    run.start = [] {
        MainForm->ActionList1->updateAll();
        MainForm->acTestSrv->execute();
    };
    RunLauncher(argc, argv, [&run] {
        qApp->installEventFilter(watchBoxes(run));
        // No player presses "Test Server" within the first moment after start-up.
        QTimer::singleShot(300, qApp, [&run] { run.start(); });
    });
    return 0;
}

int floorMode(int argc, char** argv, Run& run) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(391, 407);
    window.show();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(static_cast<std::uint16_t>(run.server->port()));
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [fd] {
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= static_cast<ssize_t>(QuerySize))
            return;
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("VelmarLauncher"),
                        QString::fromUtf8(ReadyText), QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });
    run.start = [fd, to] {
        ::sendto(fd, ServerQuery.data(), ServerQuery.size(), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
    };
    app.installEventFilter(watchBoxes(run));
    QTimer::singleShot(300, &app, [&run] { run.start(); });
    app.exec();
    ::close(fd);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "launcher" && mode != "floor") {
        std::fprintf(stderr, "usage: replybox_bench launcher|floor [RUNS]\n");
        return 2;
    }
    useOffscreenPlatform();
    Run run;
    run.runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    // The launcher queries port 53917; the floor's stand-in may take any port.
    test::UdpStandIn server(mode == "launcher" ? ServerPort : 0, std::chrono::seconds(10));
    if (!server.bound()) {
        std::fprintf(stderr, "replybox_bench: port 53917 on 127.0.0.1 stays held elsewhere\n");
        return 1;
    }
    server.replyWith = test::serverReply("1.07", "Abend");
    server.replyDelay = std::chrono::milliseconds(2);
    server.answer = true;
    server.serveOnThread(QuerySize);
    run.server = &server;
    if (mode == "launcher")
        launcherMode(argc, argv, run);
    else
        floorMode(argc, argv, run);
    if (run.failed || run.latencies.empty())
        return 1;
    const Summary s = summarize(run.latencies);
    std::printf("replybox %s (%s): %zu runs, reply sent -> box drawn: median %.3f ms, p90 %.3f ms, "
                "p99 %.3f ms, max %.3f ms\n",
                mode.c_str(), std::getenv("QT_QPA_PLATFORM"), s.n, s.median, s.p90, s.p99, s.max);
    return 0;
}
