#include "core/file_io.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace bm {
namespace {

// Temporary files are named "<target>.orvtmp-<pid>-<n>-<16 hex digits>". The random part keeps a
// new name clear of a leftover from an earlier process that had the same id (Wine reuses ids).
constexpr wchar_t kTemporaryMarker[] = L".orvtmp-";

uint64_t RandomBits() {
    static std::atomic<uint64_t> state{[] {
        LARGE_INTEGER ticks{};
        QueryPerformanceCounter(&ticks);
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        return static_cast<uint64_t>(ticks.QuadPart) ^ (static_cast<uint64_t>(now.dwHighDateTime) << 32) ^
               now.dwLowDateTime ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 48);
    }()};
    // splitmix64: each call gets a different, well-mixed value.
    uint64_t z = state.fetch_add(0x9E3779B97F4A7C15ull) + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::wstring TemporaryPathBeside(const std::wstring& target) {
    static std::atomic<unsigned> counter{0};
    wchar_t random[17];
    const uint64_t bits = RandomBits();
    for (int i = 0; i < 16; ++i) random[i] = L"0123456789abcdef"[(bits >> (60 - 4 * i)) & 0xF];
    random[16] = 0;
    return target + kTemporaryMarker + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter.fetch_add(1)) + L"-" + random;
}

bool AllDigits(const std::wstring& text, size_t from, size_t to) {
    if (from >= to) return false;
    for (size_t i = from; i < to; ++i)
        if (text[i] < L'0' || text[i] > L'9') return false;
    return true;
}

bool AllLowerHex(const std::wstring& text, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (!((text[i] >= L'0' && text[i] <= L'9') || (text[i] >= L'a' && text[i] <= L'f'))) return false;
    return true;
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace

bool IsLeftoverTemporaryName(const std::wstring& name, const std::wstring& targetName) {
    const size_t markerLength = sizeof kTemporaryMarker / sizeof kTemporaryMarker[0] - 1;
    const size_t start = targetName.size() + markerLength;
    if (targetName.empty() || name.size() <= start) return false;
    if (!SameNameIgnoringCase(name.substr(0, targetName.size()), targetName)) return false;
    if (name.compare(targetName.size(), markerLength, kTemporaryMarker) != 0) return false;
    // "<pid>-<n>", as earlier releases named them, or "<pid>-<n>-<16 hex digits>".
    const size_t dash = name.find(L'-', start);
    if (dash == std::wstring::npos || !AllDigits(name, start, dash)) return false;
    const size_t second = name.find(L'-', dash + 1);
    if (second == std::wstring::npos) return AllDigits(name, dash + 1, name.size());
    return AllDigits(name, dash + 1, second) && name.size() - second - 1 == 16 &&
           AllLowerHex(name, second + 1, name.size());
}

bool RemoveLeftoverFile(const std::wstring& path, uint32_t attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return DeleteFileW(path.c_str()) != 0;
}

int RemoveLeftoverTemporaries(const std::wstring& target) {
    const size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
    const std::wstring targetName = slash == std::wstring::npos ? target : target.substr(slash + 1);
    if (targetName.empty()) return 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((target + kTemporaryMarker + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    int removed = 0;
    do {
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::wstring name = data.cFileName;
        if (!IsLeftoverTemporaryName(name, targetName)) continue;
        // A temporary file still being written is open without sharing, so this cannot remove it.
        if (RemoveLeftoverFile(folder + name, data.dwFileAttributes)) ++removed;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return removed;
}

namespace {

std::mutex& ObserverMutex() {
    static std::mutex mutex;
    return mutex;
}

FileStepObserver& Observer() {
    static FileStepObserver observer;
    return observer;
}

void Tell(FileStep step, const std::wstring& path, const std::wstring& source = {}, const std::string* bytes = nullptr,
          bool writeThrough = false, bool done = true) {
    FileStepEvent event;
    event.step = step;
    event.path = path;
    event.source = source;
    event.bytes = bytes;
    event.writeThrough = writeThrough;
    event.done = done;
    TellFileStep(event);
}

constexpr int kCreateAttempts = 8;

bool NameWasTaken(unsigned long code) { return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS; }

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
    // Written through: the new name is on disk before the caller's next step relies on it.
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!MoveFileExW(temporary.c_str(), target.c_str(), flags)) {
        const unsigned long code = GetLastError();
        DeleteFileW(temporary.c_str());
        return Fail(error, FileWriteStage::Replace, code);
    }
    Tell(FileStep::Rename, target, temporary, nullptr, (flags & MOVEFILE_WRITE_THROUGH) != 0);
    FlushFolderOf(target);
    return true;
}

// Data handed to the system sits in its cache until flushed: a power cut before that can leave the
// file empty or partly written even where its name is already on disk.
bool FlushToDisk(HANDLE file, const std::wstring& path, unsigned long& code) {
    if (!FlushFileBuffers(file)) {
        code = GetLastError();
        return false;
    }
    Tell(FileStep::Flush, path);
    return true;
}

}  // namespace

bool ReadFileBytes(const std::wstring& path, std::string& bytes, bool* missing) {
    if (missing) *missing = false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (missing) *missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        return false;
    }
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
    RemoveLeftoverTemporaries(path);
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    unsigned long createError = 0;
    for (int attempt = 0; attempt < kCreateAttempts && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = TemporaryPathBeside(path);
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            createError = GetLastError();
            if (!NameWasTaken(createError)) break;
        }
    }
    if (file == INVALID_HANDLE_VALUE) return Fail(error, FileWriteStage::Create, createError);

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
    Tell(FileStep::Write, temporary, {}, &bytes);
    unsigned long flushError = 0;
    if (!FlushToDisk(file, temporary, flushError)) {
        const unsigned long code = flushError;
        CloseHandle(file);
        DeleteFileW(temporary.c_str());
        return Fail(error, FileWriteStage::Flush, code);
    }
    CloseHandle(file);
    return MoveIntoPlace(temporary, path, error);
}

bool CopyFileReplacing(const std::wstring& source, const std::wstring& target, FileWriteError* error) {
    RemoveLeftoverTemporaries(target);
    std::wstring temporary;
    bool copied = false;
    unsigned long copyError = 0;
    for (int attempt = 0; attempt < kCreateAttempts && !copied; ++attempt) {
        temporary = TemporaryPathBeside(target);
        // Fails without touching an existing file of that name.
        copied = CopyFileW(source.c_str(), temporary.c_str(), TRUE) != FALSE;
        if (!copied) {
            copyError = GetLastError();
            if (!NameWasTaken(copyError)) {
                // A copy cut short by a full disk leaves a part of the file behind.
                DeleteFileW(temporary.c_str());
                break;
            }
        }
    }
    if (!copied) return Fail(error, FileWriteStage::Create, copyError);
    Tell(FileStep::Copy, temporary, source);
    // The copy keeps the source's attributes; a read-only backup must not make the target read-only.
    const DWORD attributes = GetFileAttributesW(temporary.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(temporary.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    // CopyFileW leaves the copy in the cache. A backup must be on disk before the write it guards
    // begins, and a restored file before it counts as restored.
    HANDLE copy = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy == INVALID_HANDLE_VALUE) {
        const unsigned long code = GetLastError();
        DeleteFileW(temporary.c_str());
        return Fail(error, FileWriteStage::Flush, code);
    }
    // CopyFileW keeps the source's times; a copy is dated when it is made, as any write is (the
    // browser detection takes the profile whose Bookmarks file was written last).
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    SetFileTime(copy, nullptr, nullptr, &now);
    unsigned long flushError = 0;
    const bool flushed = FlushToDisk(copy, temporary, flushError);
    CloseHandle(copy);
    if (!flushed) {
        DeleteFileW(temporary.c_str());
        return Fail(error, FileWriteStage::Flush, flushError);
    }
    return MoveIntoPlace(temporary, target, error);
}

FileStepObserver SetFileStepObserver(FileStepObserver observer) {
    std::lock_guard<std::mutex> lock(ObserverMutex());
    std::swap(Observer(), observer);
    return observer;
}

bool FileStepsObserved() {
    std::lock_guard<std::mutex> lock(ObserverMutex());
    return static_cast<bool>(Observer());
}

void TellFileStep(const FileStepEvent& event) {
    std::lock_guard<std::mutex> lock(ObserverMutex());
    if (Observer()) Observer()(event);
}

// Windows promises this for a write-through rename; where names reach the disk only when their
// folder is flushed (Linux file systems under Wine, for one), this does it.
bool FlushFolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return false;
    // "C:\" keeps its backslash; any other folder is named without one.
    const bool driveRoot = slash == 2 && path[1] == L':';
    const std::wstring folder = path.substr(0, driveRoot ? slash + 1 : slash);
    HANDLE handle = CreateFileW(folder.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool flushed = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    Tell(FileStep::FolderFlush, folder, {}, nullptr, false, flushed);
    return flushed;
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
