// Puts saved profiles and custom browser paths into an app_data.db before a test starts the
// program, through the program's own database code.
//
//   orv_seed_database DATABASE profile NAME [URL TITLE]...
//   orv_seed_database DATABASE custom-path BROWSER-KEY PATH
//
// Texts are taken as given (UTF-16 from the command line). Exit code 0 when everything was written,
// 1 for wrong arguments or a failed open or write.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <vector>

#include "database/app_database.h"

int wmain(int argc, wchar_t** argv) {
    const bool profile = argc >= 4 && std::wcscmp(argv[2], L"profile") == 0 && (argc - 4) % 2 == 0;
    const bool customPath = argc == 5 && std::wcscmp(argv[2], L"custom-path") == 0;
    if (!profile && !customPath) {
        std::fwprintf(stderr, L"usage: orv_seed_database DATABASE profile NAME [URL TITLE]...\n"
                              L"       orv_seed_database DATABASE custom-path BROWSER-KEY PATH\n");
        return 1;
    }
    try {
        bm::AppDatabase db;
        if (!db.Open(argv[1])) {
            std::fwprintf(stderr, L"cannot open %ls\n", argv[1]);
            return 1;
        }
        if (customPath) {
            db.SetBrowserConfig(argv[3], 0, argv[4]);
            return 0;
        }
        const int64_t id = db.CreateProfile(argv[3]);
        std::vector<bm::BookmarkRecord> records;
        for (int i = 4; i + 1 < argc; i += 2) {
            bm::BookmarkRecord record;
            record.url = argv[i];
            record.title = argv[i + 1];
            record.folder_path = L"Bookmarks bar";
            record.date_added = 1700000000;
            records.push_back(record);
        }
        if (!records.empty()) db.AddBookmarks(id, records);
        std::printf("%lld\n", static_cast<long long>(id));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
