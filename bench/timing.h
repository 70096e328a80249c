#pragma once
// Paired timing and the result tables of the benchmarks, with each row's target and a mark on the
// rows that miss it. The bench only prints: a missed target does not fail anything.
//
// A shared machine's load comes and goes within seconds, so an operation and its floor are timed back
// to back in each repetition, the one that runs first swapped every repetition (the second of a pair
// meets a warmer cache), and each repetition gives its own ratio. A row shows the median of those
// ratios with the lowest and the highest, and two verdicts: the strict one marks a row only when even
// the lowest ratio misses the target (the operation is slower however the load fell, not unlucky), and
// the median's marks it when the median lies beyond the target ("median beyond"): on a loaded machine
// the lowest rarely misses, so a row with only the median's mark is one to look at, not one to trust.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bm::bench {

// One timed piece of work, after a setup that is not timed.
struct Task {
    std::function<void()> setup;
    std::function<void()> work;
};

inline double TimeMs(const Task& task) {
    if (task.setup) task.setup();
    const auto start = std::chrono::steady_clock::now();
    task.work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Runs the tasks back to back, `repetitions` times, in reverse order every other repetition; returns
// each task's time in ms per repetition (times[task][repetition]).
inline std::vector<std::vector<double>> TimeTogether(int repetitions, const std::vector<Task>& tasks) {
    std::vector<std::vector<double>> times(tasks.size());
    for (int rep = 0; rep < repetitions; ++rep) {
        for (size_t k = 0; k < tasks.size(); ++k) {
            const size_t task = rep % 2 == 0 ? k : tasks.size() - 1 - k;
            times[task].push_back(TimeMs(tasks[task]));
        }
    }
    return times;
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// A figure with its spread: the median and the lowest and highest of what it was made from.
struct Spread {
    double median = 0, low = 0, high = 0;
    bool known = false;
};

inline Spread SpreadOf(const std::vector<double>& values) {
    Spread spread;
    if (values.empty()) return spread;
    spread.median = Median(values);
    spread.low = *std::min_element(values.begin(), values.end());
    spread.high = *std::max_element(values.begin(), values.end());
    spread.known = true;
    return spread;
}

// The ratios a[i] / b[i] of times taken in the same repetition.
inline Spread PairedRatios(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (b[i] > 0) ratios.push_back(a[i] / b[i]);
    return SpreadOf(ratios);
}

// Times taken in different runs cannot be paired: the spread then spans every pairing, the fastest
// of `a` against the slowest of `b` and the other way round.
inline Spread UnpairedRatios(const std::vector<double>& a, const std::vector<double>& b) {
    Spread spread;
    if (a.empty() || b.empty()) return spread;
    const double aLow = *std::min_element(a.begin(), a.end()), aHigh = *std::max_element(a.begin(), a.end());
    const double bLow = *std::min_element(b.begin(), b.end()), bHigh = *std::max_element(b.begin(), b.end());
    if (bLow <= 0 || Median(b) <= 0) return spread;
    spread.median = Median(a) / Median(b);
    spread.low = aLow / bHigh;
    spread.high = aHigh / bLow;
    spread.known = true;
    return spread;
}

// 10k -> 100k: the operation may grow at most this much more than its floor, which does the same
// work the straightest way (11 for ten times the data over the 10 a linear cost gives).
inline constexpr double kMaxGrowthOverFloor = 1.1;
inline constexpr double kMaxHistoryFactor = 1.5;  // the same work with history against without

struct Row {
    std::string operation;
    size_t n = 0;
    double ms = 0;           // median of `times`
    double floorMs = 0;      // median of `floorTimes`
    double maxRatio = 0;     // target: at most this many times the floor
    bool sameOutput = true;  // the floor's output was compared with the operation's and found equal
    std::string without{};   // when set: the row of the same work without history, held to maxHistoryFactor
    double maxHistoryFactor = kMaxHistoryFactor;
    std::vector<double> times{}, floorTimes{};  // per repetition, paired
    std::vector<double> withoutTimes{};         // the work without history, timed in the same repetitions
    // An absolute target at 100k, when set: `limitTimes` (one figure per repetition) within limitMs.
    std::string limitWhat{};
    double limitMs = 0;
    std::vector<double> limitTimes{};
    // A wait the user feels, printed in its own table: `times` (with the data) held per repetition to
    // timesFloor x `floorTimes` (the same without the data) + plusMs.
    bool felt = false;
    double timesFloor = 2;
    double plusMs = 1500;
};

// Times the operation and its floor as a pair into the row.
inline void TimePair(int repetitions, const std::function<void()>& setup, const std::function<void()>& work,
                     const std::function<void()>& floorSetup, const std::function<void()>& floorWork, Row& row) {
    const auto times = TimeTogether(repetitions, {{setup, work}, {floorSetup, floorWork}});
    row.times = times[0];
    row.floorTimes = times[1];
    row.ms = Median(row.times);
    row.floorMs = Median(row.floorTimes);
}

// The same, giving only the two medians; its row then has no spread and is judged on the medians.
inline void MedianPairMs(int repetitions, const std::function<void()>& setup, const std::function<void()>& work,
                         const std::function<void()>& floorSetup, const std::function<void()>& floorWork, double& ms,
                         double& floorMs) {
    Row row;
    TimePair(repetitions, setup, work, floorSetup, floorWork, row);
    ms = row.ms;
    floorMs = row.floorMs;
}

inline Spread RatioOf(const Row& row) {
    if (!row.times.empty()) return PairedRatios(row.times, row.floorTimes);
    Spread spread;  // medians only
    spread.median = spread.low = spread.high = row.floorMs > 0 ? row.ms / row.floorMs : 0.0;
    spread.known = row.floorMs > 0;
    return spread;
}

inline std::string SpreadText(const Spread& spread) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f-%.2f", spread.low, spread.high);
    return text;
}

inline std::string TargetText(double target) {
    char text[16];
    std::snprintf(text, sizeof text, "<= %g", target);
    return text;
}

// The strict verdict: marked only when the whole spread lies beyond the target.
inline const char* Verdict(const Spread& spread, double target) { return spread.known && spread.low > target ? "MISSES TARGET" : ""; }
// The median's verdict, printed beside the strict one.
inline const char* MedianVerdict(const Spread& spread, double target) {
    return spread.known && spread.median > target ? "median beyond" : "";
}

inline void PrintTables(std::vector<Row> rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.operation < b.operation; });
    std::printf("%-46s %7s %4s %11s %11s %7s %11s %7s  %-14s %s\n", "operation", "N", "reps", "median ms", "floor ms", "ratio",
                "spread", "target", "strict", "median");
    for (const Row& row : rows) {
        if (row.felt) continue;
        const Spread ratio = RatioOf(row);
        const char* mark = !row.sameOutput ? "FLOOR OUTPUT DIFFERS" : Verdict(ratio, row.maxRatio);
        std::printf("%-46s %7zu %4zu %11.2f %11.2f %7.2f %11s %7s  %-14s %s\n", row.operation.c_str(), row.n, row.times.size(), row.ms,
                    row.floorMs, ratio.median, SpreadText(ratio).c_str(), TargetText(row.maxRatio).c_str(), mark,
                    row.sameOutput ? MedianVerdict(ratio, row.maxRatio) : "");
    }

    // Growth: the two sizes ran minutes apart, under whatever load each met, and the work itself grows
    // by more than ten times once the data outgrows the caches (the floors do too). So the operation's
    // growth is held against its floor's: its paired ratio at 100k over its paired ratio at 10k, the
    // spread spanning both ratios' spreads.
    std::map<std::string, std::map<size_t, const Row*>> byOperation;
    for (const Row& row : rows)
        if (!row.felt) byOperation[row.operation][row.n] = &row;
    std::printf("\n%-46s %7s %7s %9s %11s %7s  %-14s %s\n", "growth 10k -> 100k", "growth", "floor", "over floor", "spread",
                "target", "strict", "median");
    for (const auto& [operation, bySize] : byOperation) {
        const auto small = bySize.find(10000), large = bySize.find(100000);
        if (small == bySize.end() || large == bySize.end()) continue;
        const Spread smallRatio = RatioOf(*small->second), largeRatio = RatioOf(*large->second);
        if (!smallRatio.known || !largeRatio.known || smallRatio.low <= 0 || small->second->ms <= 0 ||
            small->second->floorMs <= 0)
            continue;
        Spread over;
        over.median = largeRatio.median / smallRatio.median;
        over.low = largeRatio.low / smallRatio.high;
        over.high = largeRatio.high / smallRatio.low;
        over.known = true;
        std::printf("%-46s %7.2f %7.2f %9.2f %11s %7s  %-14s %s\n", operation.c_str(), large->second->ms / small->second->ms,
                    large->second->floorMs / small->second->floorMs, over.median, SpreadText(over).c_str(),
                    TargetText(kMaxGrowthOverFloor).c_str(), Verdict(over, kMaxGrowthOverFloor),
                    MedianVerdict(over, kMaxGrowthOverFloor));
    }

    bool header = false;
    for (const Row& row : rows) {
        if (row.without.empty()) continue;
        const auto base = byOperation[row.without].find(row.n);
        if (base == byOperation[row.without].end()) continue;
        // Paired when the work without history ran in the same repetitions.
        const Spread factor = !row.withoutTimes.empty() ? PairedRatios(row.times, row.withoutTimes)
                              : !row.times.empty() && !base->second->times.empty()
                                  ? UnpairedRatios(row.times, base->second->times)
                                  : UnpairedRatios({row.ms}, {base->second->ms});
        if (!factor.known) continue;
        if (!header) {
            std::printf("\n%-46s %7s %11s %11s %7s %11s %7s  %-14s %s\n", "with history against without", "N", "with ms",
                        "without ms", "factor", "spread", "target", "strict", "median");
            header = true;
        }
        const double withoutMs = !row.withoutTimes.empty() ? Median(row.withoutTimes) : base->second->ms;
        std::printf("%-46s %7zu %11.2f %11.2f %7.2f %11s %7s  %-14s %s\n", row.operation.c_str(), row.n, row.ms, withoutMs,
                    factor.median, SpreadText(factor).c_str(), TargetText(row.maxHistoryFactor).c_str(),
                    Verdict(factor, row.maxHistoryFactor), MedianVerdict(factor, row.maxHistoryFactor));
    }

    header = false;
    for (const Row& row : rows) {
        if (row.limitWhat.empty() || row.n != 100000 || row.limitTimes.empty()) continue;
        if (!header) {
            std::printf("\n%-46s %7s %11s %13s %7s  %s\n", "absolute targets at 100k", "N", "median ms", "spread", "target",
                        "verdict");
            header = true;
        }
        const Spread ms = SpreadOf(row.limitTimes);
        const char* verdict = ms.low > row.limitMs ? "MISSES TARGET" : ms.high <= row.limitMs ? "holds" : "holds (median)";
        if (ms.low <= row.limitMs && ms.median > row.limitMs) verdict = "unclear (median beyond)";
        std::printf("%-46s %7zu %11.2f %13s %7s  %s\n", (row.operation + ": " + row.limitWhat).c_str(), row.n, ms.median,
                    SpreadText(ms).c_str(), TargetText(row.limitMs).c_str(), verdict);
    }

    // What a user waits for, against the same wait without the data: per repetition the time with the
    // data over its limit (`timesFloor` times the time without, plus `plusMs`), the limit made from the
    // run without data timed beside it.
    header = false;
    for (const Row& row : rows) {
        if (!row.felt) continue;
        if (!header) {
            std::printf("\n%-46s %7s %4s %11s %11s %11s %11s %7s  %-14s %s\n", "felt by the user (with data / limit)", "N",
                        "reps", "with ms", "without ms", "limit ms", "spread", "target", "strict", "median");
            header = true;
        }
        std::vector<double> limits;
        for (double without : row.floorTimes) limits.push_back(row.timesFloor * without + row.plusMs);
        const Spread ratio = PairedRatios(row.times, limits);
        char limit[48];
        std::snprintf(limit, sizeof limit, "%gx + %g", row.timesFloor, row.plusMs);
        std::printf("%-46s %7zu %4zu %11.0f %11.0f %11.0f %11s %7s  %-14s %s\n", row.operation.c_str(), row.n, row.times.size(),
                    row.ms, row.floorMs, Median(limits), SpreadText(ratio).c_str(), limit,
                    row.sameOutput ? Verdict(ratio, 1.0) : "NOT AS MEANT", row.sameOutput ? MedianVerdict(ratio, 1.0) : "");
    }
}

}  // namespace bm::bench
