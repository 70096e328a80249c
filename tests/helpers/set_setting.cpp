// Writes settings into an app_data.db before a test starts the program, through the program's own
// database code, so that the program starts with them.
//
//   orv_set_setting DATABASE KEY VALUE [KEY VALUE ...]
//
// Exit code 0 when every value was written, 1 for wrong arguments or a failed open or write.

#include <windows.h>

#include <cstdio>
#include <exception>

#include "database/app_database.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4 || (argc - 2) % 2 != 0) {
        std::fwprintf(stderr, L"usage: orv_set_setting DATABASE KEY VALUE [KEY VALUE ...]\n");
        return 1;
    }
    try {
        bm::AppDatabase db;
        if (!db.Open(argv[1])) {
            std::fwprintf(stderr, L"cannot open %ls\n", argv[1]);
            return 1;
        }
        for (int i = 2; i + 1 < argc; i += 2) db.SetSetting(argv[i], argv[i + 1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
