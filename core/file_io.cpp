#include "core/file_io.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

namespace bm {
namespace {

std::wstring TemporaryPathBeside(const std::wstring& target) {
    static std::atomic<unsigned> counter{0};
    return target + L".orvtmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter.fetch_add(1));
}

bool Fail(FileWriteError* error, FileWriteStage stage, unsigned long code) {
    if (error) {
        error->stage = stage;
        error->code = code;
    }
    return false;
}

// A file that could not be opened for writing in place must not be replaced either: renaming over
// it would bypass its read-only flag or another program's lock.
unsigned long TargetRefusesWrites(const std::wstring& target) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return ERROR_ACCESS_DENIED;
    HANDLE probe = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        const unsigned long code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND ? 0 : code;
    }
    CloseHandle(probe);
    return 0;
}

bool MoveIntoPlace(const std::wstring& temporary, const std::wstring& target, FileWriteError* error) {
    if (const unsigned long refused = TargetRefusesWrites(target)) {
        DeleteFileW(temporary.c_str());
        return Fail(error, FileWriteStage::Replace, refused);
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const unsigned long code = GetLastError();
        DeleteFileW(temporary.c_str());
        return Fail(error, FileWriteStage::Replace, code);
    }
    return true;
}

}  // namespace

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) bytes.reserve(static_cast<size_t>(size.QuadPart));
    char buffer[1 << 16];
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return ok;
}

bool WriteFileReplacing(const std::wstring& path, const std::string& bytes, FileWriteError* error) {
    const std::wstring temporary = TemporaryPathBeside(path);
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail(error, FileWriteStage::Create, GetLastError());

    size_t written = 0;
    while (written < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 24));
        DWORD done = 0;
        if (!WriteFile(file, bytes.data() + written, chunk, &done, nullptr) || done != chunk) {
            const unsigned long last = GetLastError();
            const unsigned long code = last != 0 ? last : ERROR_DISK_FULL;
            CloseHandle(file);
            DeleteFileW(temporary.c_str());
            return Fail(error, FileWriteStage::Write, code);
        }
        written += done;
    }
    if (!FlushFileBuffers(file)) {
        const unsigned long code = GetLastError();
        CloseHandle(file);
        DeleteFileW(temporary.c_str());
        return Fail(error, FileWriteStage::Flush, code);
    }
    CloseHandle(file);
    return MoveIntoPlace(temporary, path, error);
}

bool CopyFileReplacing(const std::wstring& source, const std::wstring& target, FileWriteError* error) {
    const std::wstring temporary = TemporaryPathBeside(target);
    if (!CopyFileW(source.c_str(), temporary.c_str(), TRUE)) {
        const unsigned long code = GetLastError();
        DeleteFileW(temporary.c_str());
        return Fail(error, FileWriteStage::Create, code);
    }
    // The copy keeps the source's attributes; a read-only backup must not make the target read-only.
    const DWORD attributes = GetFileAttributesW(temporary.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(temporary.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return MoveIntoPlace(temporary, target, error);
}

std::wstring ExecutablePath() {
    // GetModuleFileNameW cuts the path to the buffer without saying so except by filling it.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return buffer.substr(0, length);
        if (buffer.size() >= 32768) return {};  // beyond any path Windows can hold
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring DescribeWriteError(const FileWriteError& error) {
    return L"error " + std::to_wstring(error.code);
}

}  // namespace bm
