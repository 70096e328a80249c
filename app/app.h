#pragma once
// The application object: owner of the window, the OpenGL context, the database, the browser and
// profile lists, the log, the sync worker and every panel's state for the life of the process.
//
// One class whose member functions live in one file per concern:
//   app.cpp                 construction, Init, LoadFonts, TeardownGL, Shutdown, destruction, g_app
//   main_loop.cpp           Run, WndProc
//   frame.cpp               RenderFrame, DrawFrame (layout and splitters)
//   settings.cpp            settings and interface-state persistence, refreshes
//   menu_bar.cpp            DrawMenuBar and the help dialogs
//   sync_worker.cpp         StartSync, Log, the worker, LoadBrowsersWithOverrides, RefreshRunningFlags
//   sync_requests.cpp       RequestSync, DrawCloseBrowsersDialog
//   panels/console.cpp      DrawConsoleLog
//   panels/dashboard.cpp    DrawDashboard
//   panels/action_hub.cpp   DrawActionHub
//   panels/backups.cpp      DrawBackupsPanel
//   panels/explorer.cpp     DrawBookmarkExplorer, ExplorerRowCount
//   panels/import_export.cpp DrawImportExport
//
// Every field is public: the panels, the loop and the tests work on them directly. Every index
// field is only a position in its list; lists change, so each user tests it against the size first.
//
// The App can live without a window: a test constructs it, opens `db` on a file of its own, fills
// the lists and draws DrawFrame() inside a Dear ImGui context of the test (tests/app/ui_driver.h).
// Init, Run and RenderFrame are the windowed path of the real program.

// The App's interface is Win32 (window, device and GL contexts, window placement, WndProc).
#include <windows.h>
#include <commdlg.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/backup_counts.h"
#include "app/explorer_loader.h"
#include "app/frame_pacer.h"
#include "app/outside_reads.h"
#include "sync/sync_engine.h"
#include "core/bookmark_record.h"
#include "core/browsers.h"
#include "database/app_database.h"

struct ImFont;
struct ImGuiContext;

namespace bm::ui {

struct ExplorerView;
struct ProbeItemRecorder;

// Window class, title and single-instance mutex of the program.
inline constexpr wchar_t kWindowClassName[] = L"OrvellaneWindowClass";
inline constexpr wchar_t kWindowTitle[] = L"Orvellane - Browser Bookmark Manager & Sync Tool";
inline constexpr wchar_t kSingleInstanceMutexName[] = L"Local\\Orvellane.Tallowmere.SingleInstance.8F3A1C2E-7B91-4D4A";

// The program's own wake-up message. wParam 0: redraw; wParam 1: save the settings, then redraw.
inline constexpr UINT kWakeMessage = WM_APP + 1;

// Asks the program for its interface state (a debugging and testing aid). wParam: the window that
// gets the answer, sent to it as WM_COPYDATA (dwData kProbeMessage) holding a UTF-8 JSON object.
inline constexpr UINT kProbeMessage = WM_APP + 2;

// Most lines the log keeps; older ones are dropped.
inline constexpr size_t kMaxLogLines = 500;

class App {
public:
    App();
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // ---- Start-up and shutdown (app.cpp) ----
    // The whole start-up; true when the window, the GL context and Dear ImGui stand. On false the
    // caller shows its message and ends with exit code 1; the destructor releases what was made.
    bool Init(HINSTANCE instance);
    // The four font sizes (Small, Medium, Large, Extra Large) into `fonts`; needs a Dear ImGui context.
    void LoadFonts();
    // Releases the GL context and the window's device context.
    void TeardownGL();
    // Opens or creates the database at `path` (AppDatabase::Open); on false *error says why.
    bool OpenDatabase(const std::wstring& path, std::wstring* error = nullptr);
    // The start-up's open. A file SQLite finds damaged is left as it is: the program goes on without
    // it (nothing is saved), with an "[ERROR] " line saying so. False, with the message box shown,
    // when the start cannot go on.
    bool OpenDatabaseAtStart(const std::wstring& path);
    // ---- Without the database (database_state.cpp) ----
    // Goes on without `db` (found damaged or unusable): says so in the log, what works and what
    // does not, and drops the profiles.
    void GoOnWithoutDatabase();
    // Once per run, when the check of the file that runs after the start has ended: a file it found
    // damaged or unusable is then left as at start. Called at the top of each frame.
    void NoteDatabaseCheck();
    // Orderly stop after Run: save settings, join the worker, release Dear ImGui, GL, window, database.
    void Shutdown();

    // ---- Message loop and frame (main_loop.cpp, frame.cpp) ----
    // Blocks in GetMessageW; draws one frame after the queue is empty when redrawPending is set.
    int Run();
    // One frame of the real program: back ends' NewFrame, DrawFrame, render, swap.
    void RenderFrame();
    // The frame's contents between ImGui::NewFrame and ImGui::Render: the root window with the menu
    // bar, the panels, the splitters and the close-browsers dialog. The test driver calls this.
    void DrawFrame();
    // Interface-thread work after a sync job has ended (profiles, running flags, explorer reload);
    // called by Run before it draws a frame. Does nothing while a job runs or when none has ended.
    void HandleFinishedSync();

    // ---- Probe (probe.cpp) ----
    // Sends the interface state of the last frame to `asker` (see kProbeMessage). Returns true when
    // this call started the recording of items, which the next frame fills.
    bool AnswerProbe(HWND asker);
    // Around each frame of RenderFrame: the item recording, when a probe has started it.
    void ProbeFrameBegin();
    void ProbeFrameEnd();

    // ---- Settings and interface state (settings.cpp) ----
    void LoadSettings();
    void SaveSettings();
    void SaveUiState();
    void LoadUiState();
    void SetSetting(const std::wstring& key, const std::wstring& value);
    void SetFontSize(int index);
    void RedetectBrowsers();
    // After each detection: logs every browser that now stands for another profile folder than at
    // the detection before (this run's or, after a start, the stored one), and remembers the folders
    // (detected_profiles.cpp).
    void NoteDetectedProfiles();
    // Both reloads keep every selection on the profile (by id) or browser (by key) it was on; a
    // selection whose profile is gone names none (kNoChoice) until the user chooses.
    int64_t RefreshProfiles();
    // Index of the default profile in `profiles`; 0 when none is set or it is not in the list.
    int DefaultProfileIndex() const;
    // BrowserKey of the entry at `index` of `browsers`; empty for an index outside the list.
    std::wstring BrowserIndexToKey(int index) const;
    // First index of `browsers` whose key equals `key` exactly; 0 for an empty or unknown key.
    int BrowserKeyToIndex(const std::wstring& key) const;

    // ---- Menu bar (menu_bar.cpp) ----
    void DrawMenuBar();

    // ---- Sync worker and log (sync_worker.cpp) ----
    // Starts the worker for one job; ignored while a job runs. Interface thread only.
    void StartSync(const SyncRequest& request);
    // Appends a time-stamped line (at most kMaxLogLines kept) and wakes the loop. Any thread.
    void Log(const std::wstring& text);

    // ---- Sync requests and the close-browsers dialog (sync_requests.cpp) ----
    void RequestSync(const SyncRequest& request);
    void DrawCloseBrowsersDialog();

    // ---- Panels (panels/*.cpp) ----
    void DrawConsoleLog();
    void DrawDashboard();
    // Set while the dashboard cannot read the browser configurations, so the failure is logged
    // once and not on every frame (each log line wakes the loop for another frame).
    bool dashboardConfigReadFailed = false;
    // The action hub, one function per section; the three of the sync form return true when a
    // choice was clicked (the interface state is then saved).
    void DrawActionHub();
    bool DrawSyncSource(const std::vector<std::string>& browserNames, const std::vector<std::string>& profileNames);
    bool DrawSyncDestination(const std::vector<std::string>& browserNames, const std::vector<std::string>& profileNames);
    bool DrawSyncMode();
    void DrawSyncNow();
    // True while the form names one browser as both source and single destination.
    bool SameBrowserBothEnds() const;
    void DrawConfirmReplaceDialog();
    void DrawProfileManager();
    void DrawProfileCopy(const std::vector<std::string>& profileNames);
    void DrawCustomPath(const std::vector<std::string>& browserNames);
    void AskToDeleteProfile(const ProfileRecord& profile);
    void DrawDeleteProfileDialog();
    // The backups panel: its header, then the file backups of a browser and the snapshots of a profile.
    void DrawBackupsPanel();
    void DrawFileBackups();
    void DrawProfileSnapshots();
    // The question before a restore, naming the backup or snapshot; the restore runs on its answer.
    void DrawRestoreQuestion();
    void DrawDeleteSnapshotDialog();
    void DrawBookmarkExplorer();
    // Rows the explorer has loaded (all of them, whatever the search lets through).
    size_t ExplorerRowCount() const;
    void DrawImportExport();
    void DrawReplaceExportDialog();

    // ---- Fields, in this order ----
    HWND hwnd = nullptr;
    HDC hdc = nullptr;
    HGLRC hglrc = nullptr;
    bool redrawPending = true;  // the first frame is due
    bool leftPaneWidthValid = false;
    float leftPaneWidth = 0.0f;
    float consoleHeight = 150.0f;
    bool hasSavedPlacement = false;
    WINDOWPLACEMENT savedPlacement{};
    ImFont* fonts[4] = {nullptr, nullptr, nullptr, nullptr};  // Small, Medium, Large, Extra Large
    AppDatabase db;
    std::vector<BrowserInfo> browsers;
    std::vector<ProfileRecord> profiles;
    SyncEngine syncEngine;
    int32_t lightTheme = 0;  // 0 dark, 1 light
    int32_t fontSizeIndex = 1;
    bool autoBackup = true;
    bool confirmBeforeSync = true;
    std::mutex logMutex;
    std::deque<std::wstring> logLines;  // guarded by logMutex
    char explorerSearch[256] = {};
    std::atomic<bool> syncRunning{false};
    std::thread worker;
    int32_t sourceType = 0;  // 0 browser, 1 saved profile
    int32_t sourceIndex = 0;
    int32_t sourceOtherKindIndex = -1;  // the source choice of the kind not shown (-1: none)
    int32_t destMode = 0;  // 0 single browser, 1 all browsers, 2 target profile
    int32_t destBrowserIndex = 0;
    int32_t destProfileIndex = 0;
    int32_t writeMode = 0;  // 0 merge, 1 replace
    bool openConfirmReplace = false;
    SyncRequest pendingRequest;
    char newProfileName[128] = {};
    char customPath[512] = {};
    int32_t customBrowserIndex = 0;
    int64_t defaultProfileId = 0;  // 0 none
    int64_t renameProfileId = 0;   // 0 none
    char renameBuf[128] = {};
    int32_t copyFromProfileIndex = 0;
    int32_t copyToProfileIndex = 0;
    int32_t explorerType = 0;  // 0 browser, 1 saved profile
    int32_t explorerIndex = 0;
    int32_t explorerOtherKindIndex = -1;  // the explorer choice of the kind not shown (-1: none)
    bool explorerReloadPending = true;
    int32_t backupBrowserIndex = 0;
    int32_t backupProfileIndex = 0;
    int32_t ieSourceType = 0;  // 0 browser, 1 saved profile
    int32_t ieSourceIndex = 0;
    int32_t ieSourceOtherKindIndex = -1;  // the export source choice of the kind not shown (-1: none)
    int32_t ieDestProfileIndex = 0;
    char exportPath[512] = {};
    char importPath[512] = {};
    char importNewProfileName[128] = {};
    int32_t importAsNew = 1;  // 1 into a new profile, 0 into an existing one
    // An export waiting for the user to say that the file at its path may be replaced.
    struct PendingExport {
        std::vector<BookmarkRecord> records;
        std::wstring sourceName;
        std::wstring path;
        size_t fileBookmarks = 0;  // what the file there holds now
        bool fileReadable = false;
    } pendingExport;
    bool openReplaceExport = false;
    // What the last import said about a damaged file it read only in part (UTF-8); empty when sound.
    std::string importWarning;
    bool openAbout = false;
    bool openRestoreHelp = false;
    bool openCloseBrowsers = false;
    bool syncAfterClose = false;
    std::vector<std::wstring> closeQueueExe;    // executable names, no repeats
    std::vector<std::wstring> closeQueueNames;  // display names, same order

    // ---- Bookkeeping beyond the panel state ----
    // What a profile's or a snapshot's "Delete" asks about before anything goes (0: no question).
    int64_t deleteProfileId = 0;
    std::wstring deleteProfileName;
    size_t deleteProfileBookmarks = 0;
    size_t deleteProfileSnapshots = 0;
    bool openDeleteProfile = false;
    int64_t deleteSnapshotId = 0;
    std::wstring deleteSnapshotText;  // the snapshot as its row shows it, with its profile's name
    bool openDeleteSnapshot = false;
    // The restore waiting for its answer: a snapshot (snapshotId not 0) or a browser's file backup.
    struct PendingRestore {
        int64_t snapshotId = 0;
        std::wstring profileName;
        int64_t snapshotBookmarks = 0;
        int64_t bookmarksNow = 0;  // what the profile holds when asked; -1: cannot be read
        BrowserKind targetKind = BrowserKind::None;  // a file's: its count comes from the counting thread
        std::wstring browserName;
        std::wstring exeName;  // the browser's process, looked for again at the answer
        std::wstring targetPath;
        std::wstring backupPath;
        std::wstring backupTime;
        std::wstring what;  // the row as the list shows it
    } pendingRestore;
    bool openRestoreQuestion = false;
    // What each file backup holds, counted off the interface thread (the rows say "counting..." until then).
    BackupCounts backupCounts;
    // The backups list read last, so that a list read afresh has its counts checked again.
    int backupListReadsSeen = -1;
    // The profile folder each browser stood for at the last detection, by browser key.
    std::map<std::wstring, std::wstring> detectedProfileFolders;
    // A name the profile store refused, shown under the "Create" field and in the rename dialog
    // until the next attempt.
    std::string createProfileError;
    std::string renameProfileError;
    // The explorer's memory of the last frame's choice; -1 so that the first frame loads.
    int32_t explorerLastType = -1;
    int32_t explorerLastIndex = -1;
    // The Dear ImGui context Init created (tests bring their own, which the App never destroys).
    ImGuiContext* imguiContext = nullptr;
    // True while `db` holds an open connection (set by OpenDatabase, cleared by Shutdown).
    bool dbOpen = false;
    // The program runs without app_data.db (damaged or unusable): browsers without custom paths, no profiles.
    bool withoutDatabase = false;
    bool dbCheckNoted = false;
    // Set once Init has succeeded; settings are saved over the stored ones only after that.
    bool startupComplete = false;
    // Frames drawn by RenderFrame; published on the window as the property kFramesDrawnProperty.
    uint64_t framesDrawn = 0;
    // The common file dialogs of the import/export panel. Empty: GetSaveFileNameW / GetOpenFileNameW.
    // Tests put a function here, since the real dialogs wait for a user.
    std::function<BOOL(OPENFILENAMEW*)> saveFileDialog;
    std::function<BOOL(OPENFILENAMEW*)> openFileDialog;
    // The fallback fonts' files, read once by LoadFonts; the atlas reads glyphs from them on demand.
    std::vector<std::shared_ptr<std::vector<char>>> fallbackFontData;
    // The panels' reads of the database, the disk and the process list, kept between frames.
    OutsideReads outsideReads;
    // Whether the loop draws again before it sleeps (main_loop.cpp).
    FramePacer framePacer;
    // Where the last frame's time went, in milliseconds (frame.cpp); the probe reports it.
    struct FrameTimings {
        double newFrame = 0, menuBar = 0, dashboard = 0, actionHub = 0, backups = 0, importExport = 0,
               explorer = 0, console = 0, dialogs = 0, render = 0, gl = 0, swap = 0, total = 0;
    } frameTimings;
    // Items of the last frame (label and rectangle) for the probe; null until a probe asks.
    std::shared_ptr<ProbeItemRecorder> probeItems;
    // The explorer's loaded rows as UTF-8 texts and the rows the search lets through; defined and
    // filled by panels/explorer.cpp.
    std::shared_ptr<ExplorerView> explorerView;
    // Reads the explorer's rows off the interface thread; the view it makes replaces explorerView.
    ExplorerLoader explorerLoader;
    // Each load is waited for inside the frame that asks for it, as before the loader: for tests
    // that look at what a load gives rather than at the wait. The program never sets it.
    bool waitForExplorerLoads = false;
};

// The window property that carries App::framesDrawn (a debugging aid: proves that idle is idle).
inline constexpr wchar_t kFramesDrawnProperty[] = L"OrvellaneFramesDrawn";

// The one App of the process, for the window procedure. Set by Init, cleared by Shutdown and the
// destructor; null before and after.
extern App* g_app;

// The window procedure of the class "OrvellaneWindowClass".
LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Where the program keeps its database: "app_data.db" in the folder of `exePath` ("." when the
// path holds no '\\' or '/').
std::wstring DatabasePathFor(const std::wstring& exePath);
// The file names LoadFonts looks for in the Windows Fonts folder to merge behind the main font, in
// groups of which the first present is taken (Japanese, Chinese, Korean, symbols, emoji).
const std::vector<std::vector<const wchar_t*>>& FallbackFontGroups();
// The start-up message for a database that cannot be used: the fixed sentence first, then the reason.
std::wstring DatabaseFailureMessage(const std::wstring& reason);
// The log's words for a start without app_data.db (what happened, what works, what does not), and
// for a read-only app_data.db.
std::wstring DatabaseTroubleMessage(DatabaseTrouble trouble, const std::wstring& reason);
std::wstring ReadOnlyDatabaseMessage();
// The font scale for a window's DPI: dpi / 96, and 1 when that is below 0.75 (so also for 0).
float FontScaleForDpi(unsigned dpi);

// Built from the detection plus the custom paths stored in `db`, with running flags (sync_worker.cpp).
// `withOverrides` false: the detected places only, for a run without the database.
std::vector<BrowserInfo> LoadBrowsersWithOverrides(AppDatabase& db, bool withOverrides = true);
// Sets each entry's running flag from a fresh process test (sync_worker.cpp).
void RefreshRunningFlags(std::vector<BrowserInfo>& browsers);
// The body of the worker thread for one job: its own copy of the request and of the browser list
// as they stood when the job started (sync_worker.cpp).
void SyncWorker(App* app, SyncRequest request, std::vector<BrowserInfo> browsers);

}  // namespace bm::ui
