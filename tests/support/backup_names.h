#pragma once
// Makes backups of a file fail: folders stand under the backup names of the coming seconds.

#include <string>
#include <vector>

namespace bm::test {

// Occupies the backup names of `file` from one second back to `seconds` ahead (local time) with
// folders, so that copying to any of them fails with "access denied". (A read-only attribute on the
// folder would not do: Windows ignores it for creating files, and so does Wine.) Returns the names.
std::vector<std::wstring> BlockBackupNames(const std::wstring& file, int seconds);

}  // namespace bm::test
