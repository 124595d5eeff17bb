// The update handlers run every time the event loop is about to wait, so one pass over all of
// them is paid again and again while the window is used. Goal: one pass under 50 us.
// The window: Multiplayer, Client, one installation, server address 127.0.0.1 typed — the state
// in which every handler does its full work (both address checks run the pattern match).
#include "app/Launchform.h"
#include "app/Progbar.h"
#include "bench/BenchSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

velmar::TMainForm* form = nullptr;

void BM_UpdateAll(benchmark::State& state) {
    for (auto _ : state)
        form->ActionList1->updateAll();
}
BENCHMARK(BM_UpdateAll);

// The handlers one by one, to see where a slow pass spends its time.
void BM_acStartUpdate(benchmark::State& state) {
    for (auto _ : state)
        form->acStartUpdate();
}
BENCHMARK(BM_acStartUpdate);

void BM_acTestSrvUpdate(benchmark::State& state) {
    for (auto _ : state)
        form->acTestSrvUpdate();
}
BENCHMARK(BM_acTestSrvUpdate);

void BM_acRefreshUpdate(benchmark::State& state) {
    for (auto _ : state)
        form->acRefreshUpdate();
}
BENCHMARK(BM_acRefreshUpdate);

void BM_acDeleteUpdate(benchmark::State& state) {
    for (auto _ : state)
        form->acDeleteUpdate();
}
BENCHMARK(BM_acDeleteUpdate);

} // namespace

int main(int argc, char** argv) {
    using namespace velmar;
    benchmark::Initialize(&argc, argv);
    bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    bench::TempConfig config;
    bench::seedSettings(bench::Seed{});
    bench::RecordingDialogs dialogs;
    auto window = std::make_unique<TMainForm>();
    auto testForm = std::make_unique<TsrvTestForm>();
    window->setServerTestForm(testForm.get());
    window->show();
    form = window.get();

    // The state measured must be the one described above, or the figures mean nothing.
    form->ActionList1->updateAll();
    if (form->edClientServerAddr->text() != QStringLiteral("127.0.0.1") ||
        !form->acStart->enabled() || !form->acTestSrv->enabled() || !ownEnabled(form->btDelete)) {
        std::fprintf(stderr, "update_bench: the window is not in the seeded state\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    form = nullptr;
    window.reset();
    testForm.reset();
    return 0;
}
