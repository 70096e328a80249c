// A job and its start when memory runs out: one allocation made to fail at a time, at every point
// of a real job and of StartSync, never ends the process, always ends the job (closing line, flag
// cleared, wake-up posted) and never leaves a profile half-written.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "app/app.h"
#include "tests/app/app_sync_fixture.h"

namespace {

// Which allocations may fail: those of the interface (test) thread or those of every other thread.
enum class FailOn : int { Nothing, InterfaceThread, OtherThreads };

std::atomic<int> g_failOn{static_cast<int>(FailOn::Nothing)};
std::atomic<DWORD> g_interfaceThread{0};
std::atomic<long> g_countdown{0};  // the allocation that reaches 0 fails

bool ShouldFail() {
    const auto mode = static_cast<FailOn>(g_failOn.load());
    if (mode == FailOn::Nothing) return false;
    const bool onInterface = GetCurrentThreadId() == g_interfaceThread.load();
    if (onInterface != (mode == FailOn::InterfaceThread)) return false;
    return g_countdown.fetch_sub(1) == 1;
}

void* Allocate(std::size_t size) {
    if (ShouldFail()) throw std::bad_alloc();
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace bm::test {
namespace {

class SyncOutOfMemoryTest : public AppSyncFixture {
public:
    void SetUp() override {
        AppSyncFixture::SetUp();
        g_interfaceThread = GetCurrentThreadId();
        source = app.db.CreateProfile(L"Source");
        target = app.db.CreateProfile(L"Target");
        ASSERT_EQ(app.db.AddBookmarks(source, {Bookmark(L"https://a.example", L"A"), Bookmark(L"https://b.example", L"B")}),
                  2);
        request.sourceType = 1;
        request.sourceProfileId = source;
        request.sourceName = L"Source";
        request.destMode = 2;
        request.destProfileId = target;
        // No snapshot: its JSON document cannot be destroyed without memory (the library then ends
        // the process), which no caller can prevent.
        request.autoBackup = false;
    }
    void TearDown() override {
        g_failOn = static_cast<int>(FailOn::Nothing);
        AppSyncFixture::TearDown();
    }

    void Arm(FailOn where, long nth) {
        g_countdown = nth;
        g_failOn = static_cast<int>(where);
    }
    // True when the armed allocation was reached (and failed).
    bool Disarm() {
        g_failOn = static_cast<int>(FailOn::Nothing);
        return g_countdown.load() <= 0;
    }

    int64_t source = 0;
    int64_t target = 0;
    SyncRequest request;
};

TEST_F(SyncOutOfMemoryTest, AnyFailedAllocationInsideAJobEndsTheJobAndNothingElse) {
    int caughtByTheWorker = 0;
    long nth = 1;
    for (; nth < 5000; ++nth) {
        {
            std::lock_guard<std::mutex> lock(app.logMutex);
            app.logLines.clear();
        }
        DrainWakeUps();
        Arm(FailOn::OtherThreads, nth);
        app.StartSync(request);
        WaitForJobEnd();
        app.HandleFinishedSync();
        const bool reached = Disarm();
        ASSERT_FALSE(app.syncRunning.load()) << "allocation " << nth;

        const std::vector<std::wstring> lines = LogTexts();
        const size_t size = lines.size();
        for (size_t i = 0; i < size; ++i) {
            if (lines[i].rfind(L"[ERROR] Sync stopped by an unexpected failure", 0) == 0) {
                ++caughtByTheWorker;
                ASSERT_EQ(i + 2, size) << "allocation " << nth;
                EXPECT_EQ(lines[i], L"[ERROR] Sync stopped by an unexpected failure: std::bad_alloc.") << "allocation " << nth;
                EXPECT_EQ(lines[i + 1], L"--- Sync aborted ---") << "allocation " << nth;
            }
        }
        // A profile is written in one transaction: all of it or nothing.
        const size_t stored = app.db.GetBookmarks(target).size();
        ASSERT_TRUE(stored == 0 || stored == 2) << "allocation " << nth << ": " << stored;
        if (!reached) break;  // the job made fewer allocations than nth: every point was tried
    }
    EXPECT_LT(nth, 5000) << "the sweep never got past the job's allocations";
    EXPECT_GT(caughtByTheWorker, 0) << "no failure reached the worker's own handler";
    EXPECT_EQ(app.db.GetBookmarks(target).size(), 2u);  // the last, undisturbed job wrote it
}

TEST_F(SyncOutOfMemoryTest, AWorkerThatCannotBeStartedLeavesNoJobRunning) {
    int refused = 0;
    long nth = 1;
    for (; nth < 100; ++nth) {
        DrainWakeUps();
        Arm(FailOn::InterfaceThread, nth);
        app.StartSync(request);
        const bool reached = Disarm();
        if (!reached) {
            WaitForJobEnd();  // this time the worker started
            app.HandleFinishedSync();
            break;
        }
        ++refused;
        EXPECT_FALSE(app.syncRunning.load()) << "allocation " << nth;
        EXPECT_FALSE(app.worker.joinable()) << "allocation " << nth;
        const std::vector<std::wstring> lines = LogTexts();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind(L"[ERROR] Could not start the sync", 0), 0u) << ToUtf8(lines.back());
    }
    EXPECT_GT(refused, 0);
    EXPECT_LT(nth, 100);
    // Still usable: the next request runs normally.
    EXPECT_EQ(LogTexts().back(), L"--- Sync finished: 1 destination(s) processed ---");
}

}  // namespace
}  // namespace bm::test
