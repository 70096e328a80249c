// Time and peak memory of the readers over files of deep folders with long names above many links:
// the browsers' own layout at their limits, which must read whole, and small crafted files, which
// must stay bounded. One case per run, so that the peak is that case's own:
//   orvellane_read_bench            lists the cases
//   orvellane_read_bench <case>     reads it and prints its figures
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/chromium_bookmarks.h"
#include "core/html_bookmarks.h"
#include "core/portable_export.h"
#include "tests/support/crafted_files.h"

namespace {

using namespace bm;
using namespace bm::test;

struct Case {
    const char* name;
    std::function<std::string()> make;
    std::function<std::vector<BookmarkRecord>(const std::string&, std::wstring*)> read;
};

std::vector<BookmarkRecord> Html(const std::string& b, std::wstring* e) { return ParseHtmlBookmarks(b, e); }
std::vector<BookmarkRecord> Chromium(const std::string& b, std::wstring* e) { return ReadChromiumBookmarksText(b, e); }
std::vector<BookmarkRecord> Json(const std::string& b, std::wstring* e) { return ImportJsonText(b, e); }

const std::string kKilobyte(1000, 'n');

const Case kCases[] = {
    {"html-firefox-layout-4mb", [] { return BrowserLayoutHtmlFile(30, 255, 20000); }, Html},
    {"html-browsers-layout", [] { return CraftedHtmlFile(30, std::string(255, 'n'), 20000); }, Html},
    {"chromium-browsers-layout", [] { return CraftedChromiumFile(30, std::string(255, 'n'), 20000); }, Chromium},
    {"html-deep-long-names", [] { return CraftedHtmlFile(998, kKilobyte, 2000); }, Html},
    {"html-one-huge-name", [] { return CraftedHtmlFile(1, std::string(100000, 'n'), 2000); }, Html},
    {"html-long-path-many-links", [] { return CraftedHtmlFile(60, kKilobyte, 6000); }, Html},
    {"html-long-path-100k-links", [] { return CraftedHtmlFile(60, kKilobyte, 100000); }, Html},
    {"html-deep-ordinary", [] { return CraftedHtmlFile(100, std::string(30, 'n'), 2000); }, Html},
    {"chromium-one-huge-name", [] { return CraftedChromiumFile(1, std::string(100000, 'n'), 2000); }, Chromium},
    {"chromium-long-path-many-links", [] { return CraftedChromiumFile(60, kKilobyte, 6000); }, Chromium},
    {"chromium-long-path-100k-links", [] { return CraftedChromiumFile(60, kKilobyte, 100000); }, Chromium},
    {"chromium-deep-ordinary", [] { return CraftedChromiumFile(98, std::string(30, 'n'), 2000); }, Chromium},
    {"json-path-too-long", [] { return CraftedJsonFile(std::string(70000, 'n'), 3); }, Json},
    {"json-long-paths-many-links", [] { return CraftedJsonFile(std::string(60000, 'n'), 200); }, Json},
};

double MiB(size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        for (const Case& c : kCases) std::printf("%s\n", c.name);
        return 0;
    }
    for (const Case& c : kCases) {
        if (std::strcmp(c.name, argv[1]) != 0) continue;
        const std::string bytes = c.make();
        PROCESS_MEMORY_COUNTERS before{};
        GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
        std::wstring error;
        const auto start = std::chrono::steady_clock::now();
        size_t records = 0;
        {
            const std::vector<BookmarkRecord> read = c.read(bytes, &error);
            records = read.size();
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        PROCESS_MEMORY_COUNTERS after{};
        GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
        std::printf("%-32s %9.2f MB in  %6zu records  %9.1f ms  peak working set %8.1f MiB  peak commit %8.1f MiB"
                    " (%.1f MiB before reading)  %s\n",
                    c.name, static_cast<double>(bytes.size()) / 1e6, records, ms, MiB(after.PeakWorkingSetSize),
                    MiB(after.PeakPagefileUsage), MiB(before.PagefileUsage), error.empty() ? "read" : ToUtf8(error).c_str());
        return 0;
    }
    std::fprintf(stderr, "no such case: %s\n", argv[1]);
    return 1;
}
