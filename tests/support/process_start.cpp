#include "tests/support/process_start.h"

#include <cstdio>

#include "core/bookmark_record.h"

namespace bm::test {
namespace {

// Errors that no second try can mend.
bool Lasting(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_EXE_FORMAT:
        case ERROR_EXE_MACHINE_TYPE_MISMATCH:
        case ERROR_INVALID_PARAMETER:
        case ERROR_DIRECTORY:
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return true;
        default:
            return false;
    }
}

constexpr int kStartAttempts = 6;

}  // namespace

std::string DescribeSystemError(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length && text ? std::wstring(text, length) : L"(no text)";
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return "error " + std::to_string(code) + ": " + ToUtf8(message);
}

bool StartProcess(const std::wstring& exe, std::wstring commandLine, const std::wstring& folder, DWORD flags,
                  PROCESS_INFORMATION& info, std::string* failure) {
    std::string reason;
    for (int attempt = 1; attempt <= kStartAttempts; ++attempt) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::wstring line = commandLine;  // CreateProcessW may write into it
        info = {};
        if (CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                           folder.empty() ? nullptr : folder.c_str(), &startup, &info))
            return true;
        const DWORD code = GetLastError();
        reason = "cannot start " + ToUtf8(exe) + " (try " + std::to_string(attempt) + " of " +
                 std::to_string(kStartAttempts) + "): " + DescribeSystemError(code);
        std::fprintf(stderr, "%s\n", reason.c_str());
        std::fflush(stderr);
        if (Lasting(code)) break;
        Sleep(200u * attempt);  // a passing shortage: give the machine a moment
    }
    if (failure) *failure = reason;
    return false;
}

}  // namespace bm::test
