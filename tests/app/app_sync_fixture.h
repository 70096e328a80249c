#pragma once
// A windowless App over a database in a temporary folder, with a message-only window that receives
// its wake-up posts, for the tests of the sync worker, the log and the sync requests.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "core/chromium_bookmarks.h"
#include "tests/support/temp_dir.h"

namespace bm::test {

class AppSyncFixture : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(app.OpenDatabase(dir / L"app_data.db"));
        wake = CreateWindowExW(0, L"STATIC", L"wake", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        ASSERT_NE(wake, nullptr);
        app.hwnd = wake;
    }

    void TearDown() override {
        if (app.worker.joinable()) app.worker.join();
        app.hwnd = nullptr;  // the window is the test's, not the App's
        DestroyWindow(wake);
    }

    // Pumps the wake-up posts until one arrives with the running flag clear. Fails (instead of
    // hanging) when none comes. Returns the wake-ups taken; the job's very last post may still be
    // on its way, so a test that counts them joins the worker and adds DrainWakeUps().
    int WaitForJobEnd() {
        int wakeUps = 0;
        const ULONGLONG giveUp = GetTickCount64() + 60000;
        for (;;) {
            MSG message;
            while (PeekMessageW(&message, wake, 0, 0, PM_REMOVE)) {
                if (message.message != bm::ui::kWakeMessage) continue;
                EXPECT_EQ(message.wParam, 0u);
                EXPECT_EQ(message.lParam, 0);
                ++wakeUps;
                if (!app.syncRunning.load()) return wakeUps;
            }
            const ULONGLONG now = GetTickCount64();
            if (now >= giveUp) {
                ADD_FAILURE() << "the job never posted its final wake-up";
                return wakeUps;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(giveUp - now), QS_POSTMESSAGE);
        }
    }

    // Removes the wake-ups already queued; returns how many there were.
    int DrainWakeUps() {
        int count = 0;
        MSG message;
        while (PeekMessageW(&message, wake, 0, 0, PM_REMOVE)) {
            if (message.message == bm::ui::kWakeMessage) ++count;
        }
        return count;
    }

    // The log without its time prefixes; every stored line must carry one.
    std::vector<std::wstring> LogTexts() {
        std::lock_guard<std::mutex> lock(app.logMutex);
        std::vector<std::wstring> texts;
        for (const std::wstring& line : app.logLines) {
            EXPECT_TRUE(HasTimePrefix(line)) << ToUtf8(line);
            texts.push_back(line.size() >= 11 ? line.substr(11) : line);
        }
        return texts;
    }

    static bool HasTimePrefix(const std::wstring& line) {
        if (line.size() < 11 || line[0] != L'[' || line[3] != L':' || line[6] != L':' || line[9] != L']' ||
            line[10] != L' ')
            return false;
        for (int i : {1, 2, 4, 5, 7, 8}) {
            if (line[i] < L'0' || line[i] > L'9') return false;
        }
        const int hours = (line[1] - L'0') * 10 + (line[2] - L'0');
        const int minutes = (line[4] - L'0') * 10 + (line[5] - L'0');
        const int seconds = (line[7] - L'0') * 10 + (line[8] - L'0');
        return hours < 24 && minutes < 60 && seconds < 60;
    }

    // A Chromium "Bookmarks" file holding the records.
    static void WriteBookmarks(const std::wstring& path, const std::vector<BookmarkRecord>& records) {
        MakeDirs(path.substr(0, path.find_last_of(L'\\')));
        int skipped = 0;
        std::wstring error;
        ASSERT_EQ(WriteChromiumBookmarks(path, records, &skipped, &error, true), static_cast<int>(records.size()))
            << ToUtf8(error);
    }

    static BookmarkRecord Bookmark(const std::wstring& url, const std::wstring& title) {
        BookmarkRecord record;
        record.url = url;
        record.title = title;
        record.folder_path = L"Bookmarks bar";
        record.date_added = 1700000000;
        return record;
    }

    // The local and roaming application-data folders of a browser test tree.
    std::wstring Local() const { return dir / L"Local"; }
    std::wstring Roaming() const { return dir / L"Roaming"; }

    TempDir dir;
    bm::ui::App app;
    HWND wake = nullptr;
};

}  // namespace bm::test
