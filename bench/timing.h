#pragma once
// Median timing and the result tables of the benchmarks, with each row's target and a mark on the
// rows that miss it. The bench only prints: a missed target does not fail anything.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bm::bench {

// Runs setup (not timed) and then work, `repetitions` times; returns the median of the work in ms.
inline double MedianMs(int repetitions, const std::function<void()>& setup, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        if (setup) setup();
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Times an operation and its floor in alternation (operation, floor, operation, ...), so that both
// meet the same load of a shared machine; stores both medians in ms.
inline void MedianPairMs(int repetitions, const std::function<void()>& setup, const std::function<void()>& work,
                         const std::function<void()>& floorSetup, const std::function<void()>& floorWork, double& ms,
                         double& floorMs) {
    std::vector<double> times, floorTimes;
    for (int i = 0; i < repetitions; ++i) {
        times.push_back(MedianMs(1, setup, work));
        floorTimes.push_back(MedianMs(1, floorSetup, floorWork));
    }
    std::sort(times.begin(), times.end());
    std::sort(floorTimes.begin(), floorTimes.end());
    ms = times[times.size() / 2];
    floorMs = floorTimes[floorTimes.size() / 2];
}

inline constexpr double kMaxGrowth = 11.0;        // 10k -> 100k
inline constexpr double kMaxHistoryFactor = 1.5;  // the same work with history against without

struct Row {
    std::string operation;
    size_t n = 0;
    double ms = 0;
    double floorMs = 0;
    double maxRatio = 0;     // target: at most this many times the floor
    bool sameOutput = true;  // the floor's output was compared with the operation's and found equal
    std::string without{};   // when set: the row of the same work without history, held to kMaxHistoryFactor
};

inline double Ratio(const Row& row) { return row.floorMs > 0 ? row.ms / row.floorMs : 0.0; }

inline void PrintTables(std::vector<Row> rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.operation < b.operation; });
    std::printf("%-48s %7s %11s %11s %7s %7s  %s\n", "operation", "N", "median ms", "floor ms", "ratio", "target", "mark");
    for (const Row& row : rows) {
        std::string mark;
        if (!row.sameOutput) mark = "FLOOR OUTPUT DIFFERS";
        else if (Ratio(row) > row.maxRatio) mark = "MISSES TARGET";
        std::printf("%-48s %7zu %11.2f %11.2f %7.2f %7s  %s\n", row.operation.c_str(), row.n, row.ms, row.floorMs, Ratio(row),
                    ("<= " + std::to_string(row.maxRatio).substr(0, 3)).c_str(), mark.c_str());
    }

    std::map<std::string, std::map<size_t, double>> byOperation;
    for (const Row& row : rows) byOperation[row.operation][row.n] = row.ms;
    std::printf("\n%-48s %11s %7s  %s\n", "growth 10k -> 100k", "100k / 10k", "target", "mark");
    for (const auto& [operation, times] : byOperation) {
        const auto small = times.find(10000), large = times.find(100000);
        if (small == times.end() || large == times.end() || small->second <= 0) continue;
        const double growth = large->second / small->second;
        std::printf("%-48s %11.2f %7s  %s\n", operation.c_str(), growth, "<= 11", growth > kMaxGrowth ? "MISSES TARGET" : "");
    }

    bool header = false;
    for (const Row& row : rows) {
        if (row.without.empty()) continue;
        const auto base = byOperation[row.without].find(row.n);
        if (base == byOperation[row.without].end() || base->second <= 0) continue;
        if (!header) {
            std::printf("\n%-48s %7s %11s %11s %7s %7s  %s\n", "with history against without", "N", "with ms", "without ms",
                        "factor", "target", "mark");
            header = true;
        }
        const double factor = row.ms / base->second;
        std::printf("%-48s %7zu %11.2f %11.2f %7.2f %7s  %s\n", row.operation.c_str(), row.n, row.ms, base->second, factor,
                    "<= 1.5", factor > kMaxHistoryFactor ? "MISSES TARGET" : "");
    }
}

}  // namespace bm::bench
