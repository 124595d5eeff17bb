// bench-seed MODE: writes the launcher's settings into the hive store under $XDG_CONFIG_HOME
// (the scripts give every run a fresh one), so a benchmark can start the real launcher in a
// given state. MODE: "client" (Multiplayer, Client, server address 127.0.0.1, one installation).
// The page for the public address is always a closed port on 127.0.0.1.
#include "bench/BenchSupport.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "client") != 0) {
        std::fprintf(stderr, "usage: bench-seed client\n");
        return 2;
    }
    try {
        velmar::bench::seedSettings(velmar::bench::Seed{});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-seed: %s\n", e.what());
        return 1;
    }
    return 0;
}
