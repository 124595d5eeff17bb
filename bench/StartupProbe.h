#pragma once
// What the start-up programs report once the first frame of their window is drawn: the time since
// the process was started and its peak resident memory. Header only: the empty window links
// nothing but Qt.
//
// The start is the moment the shell ran exec: bench/startup.sh puts bash's $EPOCHREALTIME
// (CLOCK_REALTIME, microseconds) into VELMAR_BENCH_T0 on the very command that execs the
// program, so the time counted includes exec, dynamic linking, static initialisation and
// everything after. Without that variable the kernel's start time of the process is used
// (/proc/self/stat field 22 against CLOCK_BOOTTIME), which is only as fine as one clock tick.
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace velmar::bench {

// "1712345678.123456" (or with a comma, as bash writes it in some locales) -> seconds.
inline bool parseEpoch(const char* text, double& seconds) {
    const std::string s(text);
    const auto sep = s.find_first_of(".,");
    try {
        const double whole = std::stod(s.substr(0, sep));
        double fraction = 0;
        if (sep != std::string::npos) {
            const std::string digits = s.substr(sep + 1);
            double scale = 0.1;
            for (char c : digits) {
                if (c < '0' || c > '9')
                    return false;
                fraction += (c - '0') * scale;
                scale /= 10;
            }
        }
        seconds = whole + fraction;
        return true;
    } catch (...) {
        return false;
    }
}

inline double nowSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Milliseconds since the process started; `source` says which start was used.
inline double msSinceStart(std::string& source) {
    double t0 = 0;
    if (const char* env = std::getenv("VELMAR_BENCH_T0"); env && parseEpoch(env, t0)) {
        source = "exec";
        return (nowSeconds(CLOCK_REALTIME) - t0) * 1000.0;
    }
    source = "proc-starttime";
    std::ifstream stat("/proc/self/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22 && rest >> field; ++i) {
    }
    const double ticks = std::strtod(field.c_str(), nullptr);
    return (nowSeconds(CLOCK_BOOTTIME) - ticks / static_cast<double>(sysconf(_SC_CLK_TCK))) *
           1000.0;
}

// A "Name:   1234 kB" line of /proc/self/status, in kB; -1 when missing.
inline long statusKb(const char* name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(name) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    }
    return -1;
}

// One line for the script: startup_ms=.. vmhwm_kb=.. maxrss_kb=.. start=..
inline void reportShown() {
    std::string source;
    const double ms = msSinceStart(source);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("startup_ms=%.3f vmhwm_kb=%ld maxrss_kb=%ld start=%s\n", ms, statusKb("VmHWM"),
                usage.ru_maxrss, source.c_str());
    std::fflush(stdout);
}

} // namespace velmar::bench
