#include "tests/support/backup_names.h"

#include <windows.h>

#include "core/file_backup.h"
#include "tests/support/temp_dir.h"

namespace bm::test {

std::vector<std::wstring> BlockBackupNames(const std::wstring& file, int seconds) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER start;
    start.LowPart = now.dwLowDateTime;
    start.HighPart = now.dwHighDateTime;
    std::vector<std::wstring> blocked;
    for (int second = -1; second <= seconds; ++second) {
        ULARGE_INTEGER at = start;
        at.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(second) * 10000000LL);
        FILETIME utc{at.LowPart, at.HighPart}, local;
        SYSTEMTIME s;
        FileTimeToLocalFileTime(&utc, &local);
        FileTimeToSystemTime(&local, &s);
        blocked.push_back(MakeBackupPathAt(file, {s.wYear, s.wMonth, s.wDay, s.wHour, s.wMinute, s.wSecond}));
        MakeDirs(blocked.back());
    }
    return blocked;
}

}  // namespace bm::test
