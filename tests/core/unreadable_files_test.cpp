// What each reader says about a file it cannot use: in the user's words (not found, in use by another
// program, empty, damaged and where), never a library's own text.

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "core/chromium_bookmarks.h"
#include "core/html_bookmarks.h"
#include "core/portable_export.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::TempDir;

struct Format {
    const char* name;
    const wchar_t* fileName;
    const wchar_t* subject;  // how the messages name the file
    bool json;
    std::function<std::vector<BookmarkRecord>(const std::wstring&, std::wstring*)> read;
};

const Format kFormats[] = {
    {"Chromium", L"Bookmarks", L"Bookmarks file", true,
     [](const std::wstring& path, std::wstring* error) { return ReadChromiumBookmarks(path, error); }},
    {"JsonExport", L"export.json", L"The file", true,
     [](const std::wstring& path, std::wstring* error) { return ImportBookmarks(path, error); }},
    {"Html", L"bookmarks.html", L"The file", false,
     [](const std::wstring& path, std::wstring* error) { return ImportBookmarks(path, error); }},
};

enum class Setup { Missing, Folder, HeldOpen, Contents };

struct Case {
    const char* name;
    Setup setup;
    std::string contents;
    std::wstring message;  // after the subject; for HTML where `htmlMessage` is null as well
    const wchar_t* htmlMessage = nullptr;
};

const std::wstring kEmpty =
    L" is empty: it holds no bookmarks, not even the outline a browser writes. It may have been cut short by a crash "
    L"or a full disk.";

const Case kCases[] = {
    {"NotFound", Setup::Missing, "", L" was not found."},
    {"AFolderInItsPlace", Setup::Folder, "", L" cannot be read: its path names a folder, not a file."},
    {"InUseByAnotherProgram", Setup::HeldOpen, "{}",
     L" is in use by another program and cannot be read; close that program and try again."},
    {"NoBytes", Setup::Contents, "", kEmpty},
    {"OnlyWhiteSpace", Setup::Contents, " \r\n\t\r\n", kEmpty},
    {"OnlyZeroBytes", Setup::Contents, std::string(4096, '\0'),
     L" is damaged: it holds only zero bytes where its bookmarks should be, as a file may after a crash or a failed "
     L"write."},
    {"CutShort", Setup::Contents, "{\n  \"roots\": {\n    \"bookmark_bar\": {\"children\": [",
     L" is damaged: it ends too early, as if cut short, after 49 bytes.",
     L"No <A HREF=...> bookmark entries found in this HTML file."},
    {"WrongFromALineOn", Setup::Contents, "{\n  \"roots\": x\n}",
     L" is damaged: it is not valid JSON from line 2, column 12 on.",
     L"No <A HREF=...> bookmark entries found in this HTML file."},
    {"NotUtf8", Setup::Contents, "{\"roots\": {\"b\xFF\": 1}}",
     L" is damaged: it holds text that is not valid UTF-8 at line 1, column 14.",
     L"No <A HREF=...> bookmark entries found in this HTML file."},
};

class UnreadableFile : public ::testing::TestWithParam<std::tuple<Format, Case>> {};

TEST_P(UnreadableFile, IsRefusedInWords) {
    const auto& [format, c] = GetParam();
    TempDir dir;
    const std::wstring path = dir / format.fileName;
    HANDLE held = INVALID_HANDLE_VALUE;
    switch (c.setup) {
        case Setup::Missing: break;
        case Setup::Folder: test::MakeDirs(path); break;
        case Setup::HeldOpen:
            test::WriteTextFile(path, c.contents);
            held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
            break;
        case Setup::Contents: test::WriteTextFile(path, c.contents); break;
    }
    std::wstring error;
    const std::vector<BookmarkRecord> records = format.read(path, &error);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);

    EXPECT_TRUE(records.empty());
    const std::wstring expected = !format.json && c.htmlMessage ? std::wstring(c.htmlMessage) : format.subject + c.message;
    EXPECT_EQ(error, expected);
    // No parser's or system's own text.
    for (const wchar_t* internal : {L"json.exception", L"parse error", L"syntax error", L"[", L"errno"})
        EXPECT_EQ(error.find(internal), std::wstring::npos) << ToUtf8(error);
}

INSTANTIATE_TEST_SUITE_P(Readers, UnreadableFile, ::testing::Combine(::testing::ValuesIn(kFormats), ::testing::ValuesIn(kCases)),
                         [](const ::testing::TestParamInfo<std::tuple<Format, Case>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace bm
