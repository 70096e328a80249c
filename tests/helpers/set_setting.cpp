// Writes settings into an app_data.db before a test starts the program, through the program's own
// database code, so that the program starts with them.
//
//   orv_set_setting DATABASE KEY VALUE [KEY VALUE ...]
//
// Exit code 0 when every value was written, 1 for wrong arguments or a failed open or write.

#include <windows.h>

#include <cstdio>

#include "tests/helpers/database_write.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 4 || (argc - 2) % 2 != 0) {
        std::fwprintf(stderr, L"usage: orv_set_setting DATABASE KEY VALUE [KEY VALUE ...]\n");
        return 1;
    }
    return helpers::WriteDatabase(argv[1], [&](bm::AppDatabase& db) {
        for (int i = 2; i + 1 < argc; i += 2) db.SetSetting(argv[i], argv[i + 1]);
        return 0;
    });
}
