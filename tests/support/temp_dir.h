#pragma once
// Test helpers: a private temporary folder removed with everything in it, and small file utilities.

#include <string>

namespace bm::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + "\\" + relative
    std::wstring operator/(const std::wstring& relative) const;

private:
    std::wstring path_;
};

// Creates the parent folders as needed and writes the bytes exactly.
void WriteTextFile(const std::wstring& path, const std::string& bytes);
std::string ReadTextFile(const std::wstring& path);
bool PathExists(const std::wstring& path);
void MakeDirs(const std::wstring& path);
void SetReadOnly(const std::wstring& path, bool readOnly);
// Removes a file or a folder tree, clearing read-only flags first.
void RemoveTree(const std::wstring& path);

}  // namespace bm::test
