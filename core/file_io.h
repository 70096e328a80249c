#pragma once
// Whole-file reads and writes that never leave a half-written file behind.

#include <cstdint>
#include <string>

namespace bm {

enum class FileWriteStage { None, Create, Write, Flush, Replace };

struct FileWriteError {
    FileWriteStage stage = FileWriteStage::None;
    unsigned long code = 0;  // the Windows error code of the failed step
};

// Reads the whole file without line-end translation. False when it cannot be opened or read.
bool ReadFileBytes(const std::wstring& path, std::string& bytes);

// Writes the bytes to a new file beside `path`, flushes it to disk and then puts it in place of
// `path` in one step. On any failure the temporary file is removed, `path` is as it was and
// false is returned with the step that failed.
bool WriteFileReplacing(const std::wstring& path, const std::string& bytes, FileWriteError* error = nullptr);

// Copies `source` to a new file beside `target`, then puts it in place of `target` in one step.
bool CopyFileReplacing(const std::wstring& source, const std::wstring& target, FileWriteError* error = nullptr);

// The full path of the running program's executable, however long.
std::wstring ExecutablePath();

// "error N" texts for messages; Windows error codes are shown as decimal numbers.
std::wstring DescribeWriteError(const FileWriteError& error);

}  // namespace bm
