// Puts saved profiles and custom browser paths into an app_data.db before a test starts the
// program, through the program's own database code.
//
//   orv_seed_database DATABASE profile NAME [URL TITLE]...
//   orv_seed_database DATABASE custom-path BROWSER-KEY PATH
//
// In the texts "{U+XXXX}" stands for that code point (command lines may not carry it through every
// locale). Exit code 0 when everything was written,
// 1 for wrong arguments or a failed open or write.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "tests/helpers/database_write.h"

namespace {

std::wstring Unescape(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t close = text.find(L'}', i);
        if (text.compare(i, 3, L"{U+") == 0 && close != std::wstring::npos) {
            const unsigned long cp = std::wcstoul(text.substr(i + 3, close - i - 3).c_str(), nullptr, 16);
            if (cp >= 0x10000) {
                out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
                out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                out += static_cast<wchar_t>(cp);
            }
            i = close;
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool profile = argc >= 4 && std::wcscmp(argv[2], L"profile") == 0 && (argc - 4) % 2 == 0;
    const bool customPath = argc == 5 && std::wcscmp(argv[2], L"custom-path") == 0;
    if (!profile && !customPath) {
        std::fwprintf(stderr, L"usage: orv_seed_database DATABASE profile NAME [URL TITLE]...\n"
                              L"       orv_seed_database DATABASE custom-path BROWSER-KEY PATH\n");
        return 1;
    }
    return helpers::WriteDatabase(argv[1], [&](bm::AppDatabase& db) {
        if (customPath) {
            db.SetBrowserConfig(argv[3], 0, Unescape(argv[4]));
            return 0;
        }
        const int64_t id = db.CreateProfile(Unescape(argv[3]));
        std::vector<bm::BookmarkRecord> records;
        for (int i = 4; i + 1 < argc; i += 2) {
            bm::BookmarkRecord record;
            record.url = argv[i];
            record.title = Unescape(argv[i + 1]);
            record.folder_path = L"Bookmarks bar";
            record.date_added = 1700000000;
            records.push_back(record);
        }
        if (!records.empty()) db.AddBookmarks(id, records);
        std::printf("%lld\n", static_cast<long long>(id));
        return 0;
    });
}
