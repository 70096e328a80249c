// The real program, started as a process in a fresh folder: its window, a second instance, closing,
// what it leaves in app_data.db, failed starts with their reasons, its manifest, and that an idle
// window draws nothing.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/app.h"
#include "core/browsers.h"
#include "database/app_database.h"
#include "tests/support/firefox_fixture.h"
#include "tests/helpers/process_window.h"
#include "tests/support/process_start.h"
#include "tests/database/database_test_support.h"
#include "tests/support/temp_dir.h"

namespace {

using bm::test::TempDir;

constexpr DWORD kStartTimeoutMs = 30000;

// The build's orvellane.exe as this Windows process sees it (Linux paths are under Z:).
std::wstring BuiltProgram() {
    std::wstring path = L"Z:" + bm::ToWide(ORV_PROGRAM_UNIX_PATH);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// A started program; ended by the destructor if it still runs, so that none outlives its test.
class Program {
public:
    explicit Program(const std::wstring& exe) {
        const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
        started_ = bm::test::StartProcess(exe, L"\"" + exe + L"\"", folder, 0, info_, &failure_);
    }
    ~Program() {
        if (!started_) return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    bool started() const { return started_; }
    const std::string& failure() const { return failure_; }  // why it did not start
    DWORD pid() const { return info_.dwProcessId; }
    bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    // The exit code, or -1 when it has not ended within the time.
    long WaitExit(DWORD timeoutMs = kStartTimeoutMs) const {
        if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<long>(code);
    }
    // CPU time used so far, in milliseconds.
    double CpuMs() const {
        FILETIME created, exited, kernel, user;
        GetProcessTimes(info_.hProcess, &created, &exited, &kernel, &user);
        auto ms = [](const FILETIME& t) {
            return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
        };
        return ms(kernel) + ms(user);
    }

private:
    bool started_ = false;
    std::string failure_;
    PROCESS_INFORMATION info_ = {};
};

// The first visible top-level window of the process with the given class, waiting up to the timeout.
HWND WaitForWindow(const Program& program, const wchar_t* className, DWORD timeoutMs = kStartTimeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline && program.Running()) {
        if (HWND found = helpers::FindProcessWindow(program.pid(), className)) return found;
        Sleep(50);
    }
    return nullptr;
}

uint64_t FramesDrawn(HWND hwnd) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(GetPropW(hwnd, bm::ui::kFramesDrawnProperty)));
}

// Processor time the window's process has used so far, in milliseconds.
double ProcessCpuMs(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return 0;
    FILETIME created, exited, kernel, user;
    const bool ok = GetProcessTimes(process, &created, &exited, &kernel, &user) != 0;
    CloseHandle(process);
    if (!ok) return 0;
    auto ms = [](const FILETIME& t) { return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0; };
    return ms(kernel) + ms(user);
}

// Waits until the window has drawn and then stopped: no frame and next to no processor time in three
// rounds in a row. A program that is still at work uses processor time even when a busy machine
// holds its frames back, so a slow start is not taken for a quiet window.
uint64_t WaitUntilQuiet(HWND hwnd) {
    uint64_t last = FramesDrawn(hwnd);
    double cpu = ProcessCpuMs(hwnd);
    int quietRounds = 0;
    for (int i = 0; i < 400 && quietRounds < 3 && IsWindow(hwnd); ++i) {
        Sleep(250);
        const uint64_t now = FramesDrawn(hwnd);
        const double cpuNow = ProcessCpuMs(hwnd);
        quietRounds = (now == last && now > 0 && cpuNow - cpu < 5.0) ? quietRounds + 1 : 0;
        last = now;
        cpu = cpuNow;
    }
    return last;
}

// Waits until the window has drawn a frame past `frames` (or has gone); the new count.
uint64_t WaitForFrameAfter(HWND hwnd, uint64_t frames) {
    const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
    while (FramesDrawn(hwnd) == frames && IsWindow(hwnd) && GetTickCount64() < deadline) Sleep(25);
    return FramesDrawn(hwnd);
}

// Waits for the next message box of the process, returns its text and presses its OK button.
std::wstring DismissMessageBox(const Program& program) {
    HWND box = WaitForWindow(program, L"#32770");
    if (!box) return L"<no message box>";
    wchar_t text[2048] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 2048);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    // Wait until this box is gone, so that the next search finds the next one.
    const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
    while (IsWindow(box) && GetTickCount64() < deadline) Sleep(25);
    return text;
}

// Asks the program for its interface state (App::AnswerProbe) through a message-only window of
// this process that receives the answer.
class Probe {
public:
    Probe() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Receive;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"OrvellaneProbeReceiver";
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Probe() { DestroyWindow(window_); }

    // The state as JSON; null when no answer came.
    nlohmann::json Ask(HWND program) {
        for (int attempt = 0; attempt < 3 && answer_.empty() && IsWindow(program); ++attempt) {
            // The program answers with SMTO_ABORTIFHUNG, and to the system a thread that has not looked
            // at its queue for 5 s is hung: this one spends its time in waits between asks, which on a
            // busy machine last longer than that. Looking at the queue first keeps the answer coming.
            MSG pending;
            PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE);
            DWORD_PTR result = 0;
            SendMessageTimeoutW(program, bm::ui::kProbeMessage, reinterpret_cast<WPARAM>(window_), 0, SMTO_NORMAL,
                                10000, &result);
        }
        if (answer_.empty()) return nullptr;
        const std::string answer = std::move(answer_);
        answer_.clear();
        return nlohmann::json::parse(answer, nullptr, false);
    }

private:
    static LRESULT CALLBACK Receive(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_COPYDATA) {
            auto* self = reinterpret_cast<Probe*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            if (self && data->dwData == bm::ui::kProbeMessage)
                self->answer_.assign(static_cast<const char*>(data->lpData), data->cbData);
            return TRUE;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    HWND window_ = nullptr;
    std::string answer_;
};

// The rectangle's centre of the first item of the last frame with this label, as a mouse lParam.
LPARAM ItemCentre(const nlohmann::json& state, const std::string& label) {
    for (const auto& item : state["items"]) {
        if (item["label"] != label) continue;
        const int x = static_cast<int>(item["x"].get<double>() + item["w"].get<double>() / 2);
        const int y = static_cast<int>(item["y"].get<double>() + item["h"].get<double>() / 2);
        return MAKELPARAM(x, y);
    }
    ADD_FAILURE() << "no item " << label;
    return MAKELPARAM(-1, -1);
}

// A click as the system delivers it: move, press and release, all waiting in the queue at once.
void PostClick(HWND window, LPARAM at) {
    PostMessageW(window, WM_MOUSEMOVE, 0, at);
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(window, WM_LBUTTONUP, 0, at);
}

// A key pressed and released; the loop's TranslateMessage makes the WM_CHAR of a letter.
void PostKey(HWND window, UINT vk) {
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    PostMessageW(window, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageW(window, WM_KEYUP, vk, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

bool PopupShown(const nlohmann::json& state, const std::string& namePart) {
    for (const auto& popup : state["popups"])
        if (popup["name"].get<std::string>().find(namePart) != std::string::npos && popup["shown"].get<bool>()) return true;
    return false;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        exe = dir / L"orvellane.exe";
        ASSERT_TRUE(CopyFileW(BuiltProgram().c_str(), exe.c_str(), FALSE)) << bm::ToUtf8(BuiltProgram());
    }
    TempDir dir;
    std::wstring exe;
};

TEST_F(ProgramTest, RunsOneInstanceClosesCleanlyAndSavesItsState) {
    RECT placed = {};
    {
        Program first(exe);
        ASSERT_TRUE(first.started()) << first.failure();
        HWND window = WaitForWindow(first, bm::ui::kWindowClassName);
        ASSERT_NE(window, nullptr) << "no window of class OrvellaneWindowClass";
        wchar_t title[128] = {};
        GetWindowTextW(window, title, 128);
        EXPECT_STREQ(title, bm::ui::kWindowTitle);
        WaitUntilQuiet(window);
        EXPECT_GT(FramesDrawn(window), 0u);

        Program second(exe);
        ASSERT_TRUE(second.started()) << second.failure();
        EXPECT_EQ(second.WaitExit(), 0);
        EXPECT_TRUE(first.Running());
        EXPECT_TRUE(IsWindow(window));

        WINDOWPLACEMENT placement = {};
        placement.length = sizeof(placement);
        ASSERT_TRUE(GetWindowPlacement(window, &placement));
        placed = placement.rcNormalPosition;

        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(first.WaitExit(), 0);
    }

    {
        bm::AppDatabase db;
        ASSERT_TRUE(db.Open(dir / L"app_data.db"));
        auto stored = [&db](const wchar_t* key) { return db.GetSetting(key, L"<absent>"); };
        EXPECT_EQ(stored(L"theme"), L"dark");
        EXPECT_EQ(stored(L"font_size"), L"1");
        EXPECT_EQ(stored(L"auto_backup"), L"1");
        EXPECT_EQ(stored(L"confirm_before_sync"), L"1");
        EXPECT_EQ(stored(L"console_height"), L"150.000000");
        EXPECT_NE(stored(L"left_pane_width"), L"<absent>");
        EXPECT_EQ(stored(L"win_left"), std::to_wstring(placed.left));
        EXPECT_EQ(stored(L"win_top"), std::to_wstring(placed.top));
        EXPECT_EQ(stored(L"win_right"), std::to_wstring(placed.right));
        EXPECT_EQ(stored(L"win_bottom"), std::to_wstring(placed.bottom));
        EXPECT_EQ(stored(L"win_show"), L"1");
        EXPECT_EQ(stored(L"ui_dest_mode"), L"0");
        EXPECT_EQ(stored(L"ui_ie_import_as_new"), L"1");
        EXPECT_EQ(stored(L"ui_copy_to_profile"), L"0");
        // A different place for the next start.
        db.SetSetting(L"win_left", L"40");
        db.SetSetting(L"win_top", L"30");
        db.SetSetting(L"win_right", std::to_wstring(40 + 1000));
        db.SetSetting(L"win_bottom", std::to_wstring(30 + 700));
    }

    // The next start opens at the saved place.
    Program again(exe);
    HWND window = WaitForWindow(again, bm::ui::kWindowClassName);
    ASSERT_NE(window, nullptr);
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    ASSERT_TRUE(GetWindowPlacement(window, &placement));
    EXPECT_EQ(placement.rcNormalPosition.left, 40);
    EXPECT_EQ(placement.rcNormalPosition.top, 30);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(again.WaitExit(), 0);
}

// A backup of a places.sqlite killed midway leaves a copy of the history beside it: the start removes it.
TEST_F(ProgramTest, CopiesLeftBesideABrowsersFileByKilledBackupsAreGoneOnceItHasStarted) {
    const std::wstring places = dir / L"firefox\\places.sqlite";
    bm::test::MakeDirs(dir / L"firefox");
    bm::test::CreateFirefoxPlaces(places);
    const std::wstring copy = places + L".backup_20260101_000000.bak.orvdbcopy-12-3456-0";
    bm::test::WriteTextFile(copy, "https://visited.example/");
    bm::test::WriteTextFile(copy + L"-journal", "https://visited.example/");
    {
        bm::AppDatabase db;
        ASSERT_TRUE(db.Open(dir / L"app_data.db"));
        db.SetBrowserConfig(bm::BrowserKey(bm::BrowserKind::Firefox), 0, places);
    }
    Program program(exe);
    ASSERT_TRUE(program.started()) << program.failure();
    HWND window = WaitForWindow(program, bm::ui::kWindowClassName);
    ASSERT_NE(window, nullptr);
    WaitUntilQuiet(window);
    ASSERT_GT(FramesDrawn(window), 0u);  // the start is over
    EXPECT_FALSE(bm::test::PathExists(copy));
    EXPECT_FALSE(bm::test::PathExists(copy + L"-journal"));
    EXPECT_TRUE(bm::test::PathExists(places));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitExit(), 0);
}

TEST_F(ProgramTest, IdleWindowDrawsNothingAndUsesNoProcessor) {
    Program program(exe);
    HWND window = WaitForWindow(program, bm::ui::kWindowClassName);
    ASSERT_NE(window, nullptr);
    const uint64_t before = WaitUntilQuiet(window);
    const double cpuBefore = program.CpuMs();
    Sleep(3000);
    EXPECT_EQ(FramesDrawn(window), before);
    EXPECT_LT(program.CpuMs() - cpuBefore, 150.0) << "ms of processor time in 3 s of idling";

    // Any message is a reason to draw: the loop is asleep, not stuck.
    PostMessageW(window, bm::ui::kWakeMessage, 0, 0);
    WaitForFrameAfter(window, before);
    EXPECT_EQ(FramesDrawn(window), before + 1);

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.WaitExit(), 0);
}

TEST_F(ProgramTest, DatabaseThatCannotBeCreatedEndsTheStartWithCodeOneAndSQLitesReason) {
    // A folder where the file should be: it can be neither opened nor created.
    ASSERT_TRUE(CreateDirectoryW((dir / L"app_data.db").c_str(), nullptr));
    Program program(exe);
    ASSERT_TRUE(program.started()) << program.failure();
    EXPECT_EQ(DismissMessageBox(program),
              L"Failed to open or create app_data.db next to the executable.\n\n"
              L"SQLite could not open or create it: unable to open database file.");
    EXPECT_EQ(DismissMessageBox(program), L"Failed to initialize Orvellane.");
    EXPECT_EQ(program.WaitExit(), 1);
}

// A file of another kind beside the program: the SQL is run on a new database; "#" writes bytes
// that are no database.
void MakeFile(const std::wstring& path, const std::string& setup) {
    if (setup == "#") {
        bm::test::WriteTextFile(path, std::string(4096, 'x'));
        return;
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(bm::ToUtf8(path).c_str(), &raw), SQLITE_OK);
    const int rc = sqlite3_exec(raw, setup.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    ASSERT_EQ(rc, SQLITE_OK);
}

TEST_F(ProgramTest, DatabaseThatIsNotOursOrNewerIsNamedInTheMessageAndLeftUnchanged) {
    struct Case {
        const char* name;
        std::string setup;
        const wchar_t* reason;
    };
    const Case cases[] = {
        {"another program's", "CREATE TABLE moz_places(id INTEGER PRIMARY KEY, url TEXT);",
         L"It belongs to another program: it holds tables that are not Orvellane's ('moz_places')."},
        {"a newer schema", "PRAGMA application_id = 1332901484; PRAGMA user_version = 9;",
         L"It was made by a newer version of Orvellane (schema version 9; this version knows up to 2)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring path = dir / L"app_data.db";
        DeleteFileW(path.c_str());
        MakeFile(path, c.setup);
        const std::string before = bm::test::ReadTextFile(path);
        Program program(exe);
        ASSERT_TRUE(program.started()) << program.failure();
        EXPECT_EQ(DismissMessageBox(program), L"Failed to open or create app_data.db next to the executable.\n\n" +
                                                  std::wstring(c.reason) + L" The file was left unchanged.");
        EXPECT_EQ(DismissMessageBox(program), L"Failed to initialize Orvellane.");
        EXPECT_EQ(program.WaitExit(), 1);
        EXPECT_EQ(bm::test::ReadTextFile(path), before);
    }
}

// A damaged page in app_data.db, or a file whose start is no database: the window opens all the
// same, and closing it writes nothing into the file (a clean close saves the settings into a sound one).
TEST_F(ProgramTest, DamagedDatabaseIsLeftUntouchedWhileTheProgramRuns) {
    for (const bool pageDamaged : {true, false}) {
        SCOPED_TRACE(pageDamaged ? "a damaged page" : "bytes that are no database");
        const std::wstring path = dir / L"app_data.db";
        DeleteFileW(path.c_str());
        std::string damaged;
        if (pageDamaged) {
            damaged = bm::test::MakeDamagedDatabase(path, bm::test::DamagedPage::BookmarksRoot);
        } else {
            MakeFile(path, "#");
            damaged = bm::test::ReadTextFile(path);
        }
        Program program(exe);
        ASSERT_TRUE(program.started());
        HWND window = WaitForWindow(program, bm::ui::kWindowClassName);
        ASSERT_NE(window, nullptr) << "no window of class OrvellaneWindowClass";
        WaitUntilQuiet(window);
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(program.WaitExit(), 0);
        EXPECT_TRUE(bm::test::ReadTextFile(path) == damaged);
        EXPECT_FALSE(bm::test::PathExists(path + L"-journal"));
    }
}

TEST(ProgramManifest, DeclaresLongPathAwareness) {
    HMODULE image =
        LoadLibraryExW(BuiltProgram().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // the application manifest
    ASSERT_NE(found, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
    const std::string manifest(bytes, SizeofResource(image, found));
    FreeLibrary(image);
    const size_t element = manifest.find(
        "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>");
    ASSERT_NE(element, std::string::npos) << manifest;
    // Windows reads it only inside the application's windowsSettings.
    EXPECT_LT(manifest.find("<windowsSettings>"), element) << manifest;
    EXPECT_GT(manifest.find("</windowsSettings>"), element) << manifest;
    EXPECT_NE(manifest.find("<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">"), std::string::npos);
}

// The window under real input: each batch of messages below is posted at once, as the system
// queues fast input, and nothing follows it. What the last frame drawn shows must already be final:
// one more frame, forced afterwards, draws the same picture.
class ProgramInputTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        program = std::make_unique<Program>(exe);
        window = WaitForWindow(*program, bm::ui::kWindowClassName);
        ASSERT_NE(window, nullptr);
        WaitUntilQuiet(window);
        ASSERT_FALSE(probe.Ask(window).is_null());  // starts the item recording
        WaitUntilQuiet(window);
    }
    void TearDown() override {
        if (program && window) {
            PostMessageW(window, WM_CLOSE, 0, 0);
            EXPECT_EQ(program->WaitExit(), 0);
        }
    }

    // The state once the window has stopped drawing.
    nlohmann::json Settled() {
        WaitUntilQuiet(window);
        return probe.Ask(window);
    }

    // True when a forced frame draws the same picture as the last one the loop drew by itself.
    void ExpectScreenWasCurrent(const nlohmann::json& before) {
        const uint64_t frames = before["frames"].get<uint64_t>();
        PostMessageW(window, bm::ui::kWakeMessage, 0, 0);
        WaitForFrameAfter(window, frames);
        const nlohmann::json after = Settled();
        EXPECT_EQ(after["picture"], before["picture"])
            << "the screen was behind the last input; frames " << frames << " -> " << after["frames"].get<uint64_t>()
            << ", popups " << before["popups"].dump() << " -> " << after["popups"].dump();
    }

    std::unique_ptr<Program> program;
    HWND window = nullptr;
    Probe probe;
};

TEST_F(ProgramInputTest, TenKeysInOneBatchAreAllInTheFieldAndThenTheWindowIdles) {
    const nlohmann::json start = Settled();
    PostClick(window, ItemCentre(start, "##explorerSearch"));
    Settled();
    for (char c = 'A'; c <= 'J'; ++c) PostKey(window, static_cast<UINT>(c));

    const nlohmann::json typed = Settled();
    EXPECT_EQ(typed["explorerSearch"], "abcdefghij");
    ExpectScreenWasCurrent(typed);

    // Settled again: no frame at all while nothing happens.
    const uint64_t frames = FramesDrawn(window);
    Sleep(1500);
    EXPECT_EQ(FramesDrawn(window), frames);
}

TEST_F(ProgramInputTest, ClickedRadioButtonIsShownSelectedWithoutAMouseMove) {
    const nlohmann::json start = Settled();
    ASSERT_EQ(start["explorerType"], 0);
    PostClick(window, ItemCentre(start, "Saved Profile##exp"));
    const nlohmann::json clicked = Settled();
    EXPECT_EQ(clicked["explorerType"], 1);
    ExpectScreenWasCurrent(clicked);
}

TEST_F(ProgramInputTest, MenuOpensAndModalAppearsAtItsFinalSizeOnTheClick) {
    PostClick(window, ItemCentre(Settled(), "Help"));
    const nlohmann::json menu = Settled();
    EXPECT_TRUE(PopupShown(menu, "##Menu_")) << menu["popups"].dump();
    ExpectScreenWasCurrent(menu);

    PostClick(window, ItemCentre(Settled(), "About Orvellane"));
    const nlohmann::json about = Settled();
    EXPECT_TRUE(PopupShown(about, "About Orvellane")) << about["popups"].dump();
    ExpectScreenWasCurrent(about);
}

}  // namespace
