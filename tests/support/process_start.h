#pragma once
// Starting the processes tests run (helpers, stand-in browsers, the real program).

#include <windows.h>

#include <string>

namespace bm::test {

// The system's text for an error code, "error N: text".
std::string DescribeSystemError(DWORD code);

// CreateProcessW, tried again when a start fails for a reason that passes on a busy machine (memory,
// handles or the file taken for a moment); each failed try is printed to stderr with its reason.
// False when the process never started; `failure` then says why.
bool StartProcess(const std::wstring& exe, std::wstring commandLine, const std::wstring& folder, DWORD flags,
                  PROCESS_INFORMATION& info, std::string* failure = nullptr);

}  // namespace bm::test
