#pragma once
// Median timing and the result table of the benchmarks.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
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

struct Row {
    std::string operation;
    size_t n = 0;
    double ms = 0;
    double floorMs = 0;
};

inline void PrintTable(const std::vector<Row>& rows) {
    std::printf("%-34s %8s %12s %12s %8s\n", "operation", "N", "median ms", "floor ms", "ratio");
    for (const Row& row : rows) {
        std::printf("%-34s %8zu %12.2f %12.2f %8.2f\n", row.operation.c_str(), row.n, row.ms, row.floorMs,
                    row.floorMs > 0 ? row.ms / row.floorMs : 0.0);
    }
}

}  // namespace bm::bench
