// The import/export panel through the UI driver: exports of a saved profile and of a browser to
// JSON and HTML, a source that cannot be read, imports into a new and an existing profile with the
// snapshot first, a name that is taken, a failing database step, an HTML file without links, and
// what the file dialogs are asked and what they hand back.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "core/browsers.h"
#include "core/portable_export.h"
#include "tests/app/panel_fixture.h"
#include "tests/support/temp_dir.h"

namespace bm::test {
namespace {

class ImportExportPanelTest : public PanelFixture {
public:
    void SetUp() override {
        PanelFixture::SetUp();
        Show(&bm::ui::App::DrawImportExport);
        ui.Frame();
    }

    std::wstring ChromeFile() const { return Local() + L"\\Google\\Chrome\\User Data\\Default\\Bookmarks"; }

    // Opens a section ("Export" or "Import"); its button of the same name is the second match.
    void Open(const char* section) {
        ASSERT_TRUE(ui.Click(section));
        ui.Frame();
    }
    void Press(const char* button) {
        const std::vector<const UiItem*> found = ui.FindAll(button);
        ASSERT_EQ(found.size(), 2u) << button;
        const UiItem item = *found[1];
        ASSERT_TRUE(ui.ClickItem(item));
    }

    static void Set(char* field, size_t size, const std::wstring& text) {
        const std::string utf8 = ToUtf8(text);
        ASSERT_LT(utf8.size(), size);
        std::memcpy(field, utf8.c_str(), utf8.size() + 1);
    }
    void SetExportPath(const std::wstring& path) { Set(app.exportPath, sizeof app.exportPath, path); }
    void SetImportPath(const std::wstring& path) { Set(app.importPath, sizeof app.importPath, path); }
    void SetNewName(const std::wstring& name) { Set(app.importNewProfileName, sizeof app.importNewProfileName, name); }

    // A JSON export holding the records.
    std::wstring ExportFile(const std::wstring& name, const std::vector<BookmarkRecord>& records) {
        const std::wstring path = dir / name;
        std::wstring error;
        EXPECT_TRUE(ExportBookmarks(records, path, &error)) << ToUtf8(error);
        return path;
    }

    std::vector<BookmarkRecord> Three() {
        return {Bookmark(L"https://a.example", L"A"), Bookmark(L"https://b.example", L"B"),
                Bookmark(L"https://c.example", L"C")};
    }
};

TEST_F(ImportExportPanelTest, ExportsAProfileAndABrowserAsJsonOrHtmlByExtension) {
    const int64_t work = app.db.CreateProfile(L"Work");
    ASSERT_EQ(app.db.AddBookmarks(work, {Bookmark(L"https://w1.example", L"W1"), Bookmark(L"https://w2.example", L"W2")}), 2);
    app.RefreshProfiles();
    WriteBookmarks(ChromeFile(), Three());
    DetectBrowsers();
    Open("Export");

    ASSERT_TRUE(ui.Click("Saved Profile##ie"));
    EXPECT_EQ(app.ieSourceType, 1);
    ASSERT_TRUE(ClickCombo("##ieSrcProfile", {"Export"}));
    ASSERT_TRUE(ui.Click("Work"));
    const std::wstring json = dir / L"work.json";
    SetExportPath(json);
    Press("Export");
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Exported 2 bookmark(s) from 'Work' to " + json});
    EXPECT_NE(ReadTextFile(json).find("\"format_version\""), std::string::npos);
    std::wstring error;
    EXPECT_EQ(ImportBookmarks(json, &error).size(), 2u);

    const std::wstring html = dir / L"work.html";
    SetExportPath(html);
    Press("Export");
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Exported 2 bookmark(s) from 'Work' to " + html});
    EXPECT_EQ(ReadTextFile(html).rfind("<!DOCTYPE NETSCAPE-Bookmark-file-1>", 0), 0u);
    const std::vector<BookmarkRecord> fromHtml = ImportBookmarks(html, &error);
    ASSERT_EQ(fromHtml.size(), 2u);
    EXPECT_EQ(fromHtml[0].url, L"https://w1.example");

    ASSERT_TRUE(ui.Click("Browser##ie"));
    ASSERT_TRUE(ClickCombo("##ieSrcBrowser", {"Export"}));
    ASSERT_TRUE(ui.Click("Google Chrome"));
    EXPECT_EQ(app.ieSourceIndex, 0);
    ASSERT_EQ(app.browsers[0].kind, BrowserKind::Chrome);
    const std::wstring chromeJson = dir / L"chrome.JSON";
    SetExportPath(chromeJson);
    Press("Export");
    EXPECT_EQ(NewLogLines(),
              std::vector<std::wstring>{L"[OK] Exported 3 bookmark(s) from 'Google Chrome' to " + chromeJson});
    const std::vector<BookmarkRecord> fromChrome = ImportBookmarks(chromeJson, &error);
    ASSERT_EQ(fromChrome.size(), 3u);
    EXPECT_EQ(fromChrome[2].title, L"C");
}

TEST_F(ImportExportPanelTest, UnreadableBrowserIsNoEmptyExportAndLeavesTheFileAlone) {
    DetectBrowsers();  // nothing installed in the tree
    Open("Export");
    const std::wstring target = dir / L"keep.json";
    WriteTextFile(target, "an earlier export");
    SetExportPath(target);
    Press("Export");
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[ERROR] Export failed: Bookmarks file was not found."});
    EXPECT_EQ(ReadTextFile(target), "an earlier export");

    // Firefox with a places database that is no database.
    int firefox = 0;
    while (app.browsers[static_cast<size_t>(firefox)].kind != BrowserKind::Firefox) ++firefox;
    app.browsers[static_cast<size_t>(firefox)].bookmarksPath = dir / L"places.sqlite";
    WriteTextFile(dir / L"places.sqlite", "not a database at all, just some text in a file");
    app.ieSourceIndex = firefox;
    Press("Export");
    const std::vector<std::wstring> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(L"[ERROR] Export failed: ", 0), 0u) << ToUtf8(lines[0]);
    EXPECT_EQ(ReadTextFile(target), "an earlier export");
}

TEST_F(ImportExportPanelTest, ATypedPathOverAnExportAsksFirstAndSaysThatAnEmptyExportLosesItsBookmarks) {
    const std::wstring file = ExportFile(L"chrome-export.json", Three());
    const std::string before = ReadTextFile(file);
    app.db.CreateProfile(L"Empty");
    app.RefreshProfiles();
    Open("Export");

    // Another kind of source is not the first entry of its list: it waits to be chosen.
    ASSERT_TRUE(ui.Click("Saved Profile##ie"));
    EXPECT_EQ(app.ieSourceIndex, -1);
    ASSERT_TRUE(ui.Click("##ieExportPath"));
    ui.Type(ToUtf8(file));
    EXPECT_EQ(ToWide(app.exportPath), file);
    Press("Export");
    EXPECT_TRUE(NewLogLines().empty());
    ASSERT_TRUE(ClickCombo("##ieSrcProfile", {"Export"}));
    ASSERT_TRUE(ui.Click("Empty"));

    Press("Export");
    ui.Frame(3);
    EXPECT_EQ(ReadTextFile(file), before);
    EXPECT_TRUE(Shows("already exists.")) << shownText;
    EXPECT_TRUE(Shows("It holds 3 bookmark(s).")) << shownText;
    EXPECT_TRUE(Shows("This export holds no bookmarks: replacing the file loses its 3 bookmark(s).")) << shownText;
    ASSERT_TRUE(ClickIn("Cancel", "Replace Export File"));
    EXPECT_EQ(ReadTextFile(file), before);
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"Export cancelled: " + file + L" was left as it was."});

    Press("Export");
    ui.Frame(3);
    ASSERT_TRUE(ClickIn("Replace the file", "Replace Export File"));
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Exported 0 bookmark(s) from 'Empty' to " + file});
    std::wstring error;
    EXPECT_TRUE(ImportBookmarks(file, &error).empty());
}

TEST_F(ImportExportPanelTest, ExportStaysDisabledWithoutPathOrSourceAndSaysWhenThereIsNoProfile) {
    DetectBrowsers();
    WriteBookmarks(ChromeFile(), Three());
    Open("Export");
    Press("Export");  // no path
    ASSERT_TRUE(ui.Click("Saved Profile##ie"));
    EXPECT_EQ(nullptr, FindCombo("##ieSrcProfile", {"Export"}));
    ui.Frame();
    EXPECT_TRUE(Shows("No saved profiles yet - create one in the action hub or import a file.")) << shownText;
    SetExportPath(dir / L"none.json");
    Press("Export");  // no saved profile
    EXPECT_TRUE(NewLogLines().empty());
    EXPECT_FALSE(PathExists(dir / L"none.json"));
}

TEST_F(ImportExportPanelTest, ImportsIntoANewProfileThenIntoItAgainWithASnapshotEachTime) {
    app.db.CreateProfile(L"Other");
    app.RefreshProfiles();
    const std::wstring file = ExportFile(L"three.json", Three());
    Open("Import");
    SetImportPath(file);
    SetNewName(L"Imported");
    app.explorerReloadPending = false;
    Press("Import");

    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Imported into 'Imported': 3 added, 0 duplicate(s) skipped."});
    ASSERT_EQ(app.profiles.size(), 2u);  // listed by name: Imported, Other
    const ProfileRecord imported = app.profiles[0];
    EXPECT_EQ(imported.name, L"Imported");
    EXPECT_EQ(app.db.GetBookmarks(imported.id).size(), 3u);
    std::vector<SnapshotInfo> snapshots = app.db.ListSnapshots(imported.id);
    ASSERT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(snapshots[0].label, L"Auto-backup before import");
    EXPECT_EQ(snapshots[0].bookmark_count, 0);
    EXPECT_EQ(app.importNewProfileName[0], '\0');
    EXPECT_EQ(ToWide(app.importPath), file);
    EXPECT_TRUE(app.explorerReloadPending);
    EXPECT_NE(app.db.GetDefaultProfileId(), imported.id);
    Press("Import");  // no name now: disabled
    EXPECT_TRUE(NewLogLines().empty());

    ASSERT_TRUE(ui.Click("Existing Profile##ie"));
    ASSERT_TRUE(ClickCombo("##ieDstProfile", {"Import"}));
    ASSERT_TRUE(ui.Click("Imported"));
    EXPECT_EQ(app.ieDestProfileIndex, 0);
    Press("Import");
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Imported into 'Imported': 0 added, 3 duplicate(s) skipped."});
    snapshots = app.db.ListSnapshots(imported.id);
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(snapshots[0].bookmark_count + snapshots[1].bookmark_count, 3);
    EXPECT_EQ(app.profiles.size(), 2u);
}

TEST_F(ImportExportPanelTest, EmptyExportMakesTheProfileAndItsSnapshot) {
    const std::wstring file = ExportFile(L"empty.json", {});
    Open("Import");
    SetImportPath(file);
    SetNewName(L"Empty");
    Press("Import");
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Imported into 'Empty': 0 added, 0 duplicate(s) skipped."});
    ASSERT_EQ(app.profiles.size(), 1u);
    EXPECT_EQ(app.db.ListSnapshots(app.profiles[0].id).size(), 1u);
}

TEST_F(ImportExportPanelTest, FailuresMakeNoProfileAndSayWhatFailed) {
    const int64_t work = app.db.CreateProfile(L"Work");
    app.RefreshProfiles();
    Open("Import");

    // An HTML file without links.
    const std::wstring html = dir / L"nolinks.html";
    WriteTextFile(html, "<html><body><p>Nothing here</p></body></html>");
    SetImportPath(html);
    SetNewName(L"Fresh");
    Press("Import");
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{
                                 L"[ERROR] Import failed: No <A HREF=...> bookmark entries found in this HTML file."});

    // A name another profile has: the store refuses it, and nothing else happens.
    SetImportPath(ExportFile(L"three.json", Three()));
    SetNewName(L"Work");
    Press("Import");
    std::vector<std::wstring> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], L"[ERROR] Import failed: could not create profile 'Work': A profile named 'Work' already exists.");
    EXPECT_STREQ(app.importNewProfileName, "Work");
    EXPECT_TRUE(app.db.ListSnapshots(work).empty());
    EXPECT_TRUE(app.db.GetBookmarks(work).empty());

    // A step after the new profile was made fails: the profile goes again.
    Sql("CREATE TRIGGER no_snapshots BEFORE INSERT ON profile_backups BEGIN SELECT RAISE(ABORT, 'disk full'); END;");
    SetNewName(L"Half");
    Press("Import");
    lines = NewLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(L"[ERROR] Import failed: ", 0), 0u) << ToUtf8(lines[0]);
    EXPECT_NE(lines[0].find(L"disk full"), std::wstring::npos) << ToUtf8(lines[0]);
    const std::vector<ProfileRecord> left = app.db.ListProfiles();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, L"Work");
    EXPECT_EQ(app.profiles.size(), 1u);
}

TEST_F(ImportExportPanelTest, ADamagedHtmlFileImportsWhatCanBeReadAndSaysSoInTheLogAndThePanel) {
    const std::wstring whole = dir / L"whole.html";
    std::wstring error;
    ASSERT_TRUE(ExportBookmarks(Three(), whole, &error)) << ToUtf8(error);
    const std::string text = ReadTextFile(whole);
    const std::wstring cut = dir / L"cut.html";
    WriteTextFile(cut, text.substr(0, text.find("https://c.example") + 10));  // ends inside the third link
    Open("Import");
    SetImportPath(cut);
    SetNewName(L"Rescued");
    Press("Import");

    const std::vector<std::wstring> lines = NewLogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(L"[WARN] Imported into 'Rescued' from a damaged file: 2 added, 0 duplicate(s) skipped. "
                             L"The file ended early",
                             0),
              0u)
        << ToUtf8(lines[0]);
    ASSERT_EQ(app.profiles.size(), 1u);
    EXPECT_EQ(app.db.GetBookmarks(app.profiles[0].id).size(), 2u);
    ui.Frame();
    EXPECT_TRUE(Shows("The file ended early, in the middle of a tag.")) << shownText;

    // A sound file afterwards clears the note.
    SetImportPath(whole);
    SetNewName(L"Whole");
    Press("Import");
    EXPECT_EQ(NewLogLines(), std::vector<std::wstring>{L"[OK] Imported into 'Whole': 3 added, 0 duplicate(s) skipped."});
    ui.Frame();
    EXPECT_FALSE(Shows("The file ended early")) << shownText;
}

TEST_F(ImportExportPanelTest, FileDialogsAreAskedAsTheyShouldAndOnlyAChoiceChangesTheField) {
    app.hwnd = wake;
    std::vector<OPENFILENAMEW> asked;
    std::vector<std::wstring> filters;
    std::wstring answer = dir / L"chosen.html";
    BOOL result = 1;
    auto dialog = [&](OPENFILENAMEW* ofn) -> BOOL {
        asked.push_back(*ofn);
        std::wstring filter;
        for (const wchar_t* p = ofn->lpstrFilter; *p; p += wcslen(p) + 1) filter += std::wstring(p) + L"|";
        filters.push_back(filter);
        EXPECT_EQ(ofn->lpstrFile[0], L'\0');
        if (result == 1) wcscpy(ofn->lpstrFile, answer.c_str());
        return result;
    };
    app.saveFileDialog = dialog;
    app.openFileDialog = dialog;
    Open("Export");
    Open("Import");

    ASSERT_TRUE(ui.Click("Browse...##export"));
    EXPECT_EQ(ToWide(app.exportPath), answer);
    answer = dir / L"picked.json";
    ASSERT_TRUE(ui.Click("Browse...##import"));
    EXPECT_EQ(ToWide(app.importPath), answer);
    result = 0;
    ASSERT_TRUE(ui.Click("Browse...##import"));
    EXPECT_EQ(ToWide(app.importPath), answer);

    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].hwndOwner, wake);
    EXPECT_EQ(asked[0].nMaxFile, 512u);
    EXPECT_STREQ(asked[0].lpstrTitle, L"Export bookmarks to file");
    EXPECT_STREQ(asked[0].lpstrDefExt, L"json");
    // "Export" itself asks before it replaces a file, so the dialog does not ask a second time.
    EXPECT_EQ(asked[0].Flags, static_cast<DWORD>(OFN_PATHMUSTEXIST));
    EXPECT_EQ(filters[0], L"Orvellane JSON (*.json)|*.json|Netscape Bookmark HTML (*.html)|*.html|");
    EXPECT_EQ(asked[1].hwndOwner, wake);
    EXPECT_EQ(asked[1].nMaxFile, 512u);
    EXPECT_STREQ(asked[1].lpstrTitle, L"Import bookmarks from file");
    EXPECT_EQ(asked[1].lpstrDefExt, nullptr);
    EXPECT_EQ(asked[1].Flags, static_cast<DWORD>(OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST));
    EXPECT_EQ(filters[1], L"Bookmark exports (*.json;*.html;*.htm)|*.json;*.html;*.htm|All files|*.*|");

    // A path longer than the field is cut, never inside a character.
    result = 1;
    answer = L"C:\\x" + std::wstring(300, L'\u00e9');  // 604 bytes in UTF-8
    ASSERT_TRUE(ui.Click("Browse...##import"));
    EXPECT_EQ(std::strlen(app.importPath), 510u);  // 511 would end inside the 254th character
    EXPECT_EQ(ToWide(app.importPath), answer.substr(0, 257));
}

}  // namespace
}  // namespace bm::test

namespace bm::test {
namespace {

// Waits for the top-level dialog with the title, gives its file-name box `path` (when not empty) and
// presses OK, or else Cancel. False when no such dialog came.
bool AnswerDialog(const wchar_t* title, const std::wstring& path) {
    const ULONGLONG giveUp = GetTickCount64() + 30000;
    HWND dialog = nullptr;
    while (!(dialog = FindWindowW(L"#32770", title))) {
        if (GetTickCount64() > giveUp) return false;
        Sleep(20);
    }
    if (path.empty()) {
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return true;
    }
    // The file-name box: an edit (edt1) in some versions, a combo box with an edit (cmb13) in others.
    for (int id : {0x480, 0x47C}) SetDlgItemTextW(dialog, id, path.c_str());
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return true;
}

TEST_F(ImportExportPanelTest, RealDialogsHandBackTheChosenFileAndCancelChangesNothing) {
    const std::wstring file = ExportFile(L"three.json", Three());
    Open("Import");
    SetImportPath(L"typed.json");

    bool answered = false;
    std::thread cancel([&] { answered = AnswerDialog(L"Import bookmarks from file", L""); });
    ASSERT_TRUE(ui.Click("Browse...##import"));
    cancel.join();
    ASSERT_TRUE(answered);
    EXPECT_STREQ(app.importPath, "typed.json");

    std::thread choose([&] { answered = AnswerDialog(L"Import bookmarks from file", file); });
    ASSERT_TRUE(ui.Click("Browse...##import"));
    choose.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(ToLower(ToWide(app.importPath)), ToLower(file));

    Open("Export");
    const std::wstring target = dir / L"new.html";
    std::thread save([&] { answered = AnswerDialog(L"Export bookmarks to file", target); });
    ASSERT_TRUE(ui.Click("Browse...##export"));
    save.join();
    ASSERT_TRUE(answered);
    EXPECT_EQ(ToLower(ToWide(app.exportPath)), ToLower(target));
}

}  // namespace
}  // namespace bm::test
