#pragma once
// Whole-file reads and writes that never leave a half-written file behind.

#include <cstdint>
#include <functional>
#include <string>

namespace bm {

enum class FileWriteStage { None, Create, Write, Flush, Replace };

struct FileWriteError {
    FileWriteStage stage = FileWriteStage::None;
    unsigned long code = 0;  // the Windows error code of the failed step
};

// Reads the whole file without line-end translation. False when it cannot be opened or read;
// `missing` then tells whether that was because the file or its folder does not exist.
bool ReadFileBytes(const std::wstring& path, std::string& bytes, bool* missing = nullptr);

// Writes the bytes to a new file beside `path`, flushes it to disk and then puts it in place of
// `path` in one step. On any failure the temporary file is removed, `path` is as it was and
// false is returned with the step that failed.
bool WriteFileReplacing(const std::wstring& path, const std::string& bytes, FileWriteError* error = nullptr);

// Copies `source` to a new file beside `target`, flushes the copy to disk and then puts it in place of
// `target` in one step, as WriteFileReplacing does.
bool CopyFileReplacing(const std::wstring& source, const std::wstring& target, FileWriteError* error = nullptr);

// Whether `name` (a file name without folder) is one of the temporary files the two functions above
// make for a target named `targetName`: "<targetName>.orvtmp-<pid>-<n>", or the same followed by
// "-" and 16 lower-case hex digits.
bool IsLeftoverTemporaryName(const std::wstring& name, const std::wstring& targetName);

// Removes what interrupted writes of `target` left beside it: only files whose names match exactly
// and that no one holds open. Returns how many were removed. Both functions above call it first.
int RemoveLeftoverTemporaries(const std::wstring& target);

// Deletes a temporary that a cut-short write left, read-only flag and all (a copy of a read-only
// backup may have been cut off before its flag was cleared). `attributes` are the file's as found.
bool RemoveLeftoverFile(const std::wstring& path, uint32_t attributes);

// One step the two writers above have taken on disk, told to the observer (tests record the order
// of the steps to check what a power cut at any moment would leave).
enum class FileStep {
    Write,        // `bytes` written to the new file `path`; still in the system's cache
    Copy,         // `source` copied to the new file `path`; still in the system's cache
    Flush,        // what `path` holds is on disk
    Rename,       // `source` put in place of `path`; `writeThrough` when it was asked to be on disk on return
    FolderFlush,  // the entries of the folder `path` asked onto disk; `done` when the system said it did so
};

struct FileStepEvent {
    FileStep step = FileStep::Write;
    std::wstring path;
    std::wstring source;
    const std::string* bytes = nullptr;
    bool writeThrough = false;  // Rename: MOVEFILE_WRITE_THROUGH was among its flags
    bool done = true;           // FolderFlush: the folder could be opened and flushed
};

using FileStepObserver = std::function<void(const FileStepEvent&)>;

// Installs the observer that is told each step once it has succeeded (an empty one for none) and
// returns the previous one. Steps of all threads are told, one at a time.
FileStepObserver SetFileStepObserver(FileStepObserver observer);

// Whether an observer is installed, and telling it a step taken by a writer elsewhere (the SQLite
// copies), so that every step that puts a file in place is seen.
bool FileStepsObserved();
void TellFileStep(const FileStepEvent& event);

// Writes the entries of the folder that holds `path` to disk, as a rename needs where names reach the
// disk only with their folder. Best effort; false when the folder could not be opened or flushed.
bool FlushFolderOf(const std::wstring& path);

// The full path of the running program's executable, however long.
std::wstring ExecutablePath();

// "error N" texts for messages; Windows error codes are shown as decimal numbers.
std::wstring DescribeWriteError(const FileWriteError& error);

}  // namespace bm
