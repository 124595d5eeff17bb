// The main window's start-up (settings and catalogue loaded, the window built) with 20 Wine
// prefixes in the player's HOME, laid out as Lutris, Bottles, Heroic and Steam keep them, against
// the same with none. The launchers' prefixes are searched only on a first start (an empty
// catalogue), and only their system.reg files are read. Goal: 20 prefixes cost at most 2 ms more,
// on a first start and on a start with a catalogue.
//   prefixes_bench [SYSTEM.REG]   each prefix gets a copy of that file (a real prefix's, say
//                                 build/tests/wine-prefix/system.reg without the game); without
//                                 one, a generated file of the size wineboot writes (2 MB)
#include "app/Launchform.h"
#include "bench/BenchSupport.h"

#include <QApplication>
#include <QComboBox>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;
using velmar::test::readFile;
using velmar::test::TempDir;
using velmar::test::writeFile;

std::string systemReg;

// About as many keys as a fresh 64-bit prefix holds, none of them the game's.
std::string generatedSystemReg() {
    std::string text = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n";
    for (int i = 0; text.size() < (2u << 20); ++i)
        text += "[Software\\\\Classes\\\\CLSID\\\\{" + std::to_string(100000 + i) +
                "-0000-0000-C000-000000000046}] 1796766242\n#time=1dd8769b57393f0\n"
                "@=\"Some class\"\n\"ThreadingModel\"=\"Both\"\n\n";
    return text;
}

struct Home {
    explicit Home(int prefixes) {
        const char* layouts[] = {"Games/game", ".local/share/bottles/bottles/b",
                                 "Games/Heroic/Prefixes/h", ".steam/steam/steamapps/compatdata/"};
        for (int i = 0; i < prefixes; ++i) {
            const std::string prefix =
                dir.path() + "/" + layouts[i % 4] + std::to_string(i) + (i % 4 == 3 ? "/pfx" : "");
            fs::create_directories(prefix + "/drive_c");
            writeFile(prefix + "/system.reg", systemReg);
        }
        setenv("HOME", dir.path().c_str(), 1);
    }
    TempDir dir;
};

void BM_Start(benchmark::State& state) {
    const bool firstStart = state.range(1) != 0;
    Home home(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto config = std::make_unique<velmar::bench::TempConfig>();
        if (!firstStart)
            velmar::bench::seedSettings(velmar::bench::Seed{});
        state.ResumeTiming();
        auto form = std::make_unique<velmar::TMainForm>();
        benchmark::DoNotOptimize(form.get());
        state.PauseTiming();
        if (firstStart != (form->cbInstallation->count() == 0))
            state.SkipWithError("the catalogue is not in the state measured");
        form.reset();
        config.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Start)
    ->ArgNames({"prefixes", "first"})
    ->Args({0, 1})
    ->Args({20, 1})
    ->Args({0, 0})
    ->Args({20, 0})
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    systemReg = argc > 1 ? readFile(argv[1]) : generatedSystemReg();
    if (systemReg.empty()) {
        std::fprintf(stderr, "prefixes_bench: can not read %s\n", argv[1]);
        return 1;
    }
    unsetenv("WINEPREFIX");
    velmar::bench::useOffscreenPlatform();
    QApplication app(argc, argv);
    velmar::bench::RecordingDialogs dialogs;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
