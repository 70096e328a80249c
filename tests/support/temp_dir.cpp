#include "tests/support/temp_dir.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

#include "core/file_io.h"

namespace bm::test {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    std::wstring root(base);
    if (!root.empty() && root.back() == L'\\') root.pop_back();
    for (;;) {
        path_ = root + L"\\orvtest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter.fetch_add(1));
        if (CreateDirectoryW(path_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create a temporary folder");
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

std::wstring TempDir::operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

void MakeDirs(const std::wstring& path) {
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\' || path[i] == L'/') {
            std::wstring prefix = path.substr(0, i);
            if (prefix.size() > 2) CreateDirectoryW(prefix.c_str(), nullptr);
        }
    }
}

void WriteTextFile(const std::wstring& path, const std::string& bytes) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos) MakeDirs(path.substr(0, slash));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a test file");
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadTextFile(const std::wstring& path) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) throw std::runtime_error("cannot read a test file");
    return bytes;
}

bool PathExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void SetReadOnly(const std::wstring& path, bool readOnly) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    attributes = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    SetFileAttributesW(path.c_str(), attributes);
}

void RemoveTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetReadOnly(path, false);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace bm::test
