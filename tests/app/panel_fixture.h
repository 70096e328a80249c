#pragma once
// One panel of the App drawn alone in a window that fills the display, over real stores in a
// temporary tree (the database of AppSyncFixture, browser folders under dir\Local and dir\Roaming),
// with the close-browsers dialog drawn after it as the frame does. Each frame also keeps the text the
// panel rendered (Dear ImGui's log of rendered text), which the driver's items do not carry.

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <functional>
#include <initializer_list>
#include <string>

#include "app/app.h"
#include "sqlite3.h"
#include "core/browsers.h"
#include "tests/app/app_sync_fixture.h"
#include "tests/app/ui_driver.h"

namespace bm::test {

class PanelFixture : public AppSyncFixture {
public:
    void SetUp() override {
        AppSyncFixture::SetUp();
        app.dbOpen = true;  // the panels store their choices (App::SaveUiState)
        // The panels' tests look at what the explorer's loads give; the wait for a load is the
        // explorer test's own.
        app.waitForExplorerLoads = true;
    }

    // `panel` is one of the App's Draw* members.
    void Show(void (bm::ui::App::*panel)()) {
        ui.SetDraw([this, panel] {
            const ImGuiViewport* viewport = ImGui::GetMainViewport();
            ImGui::SetNextWindowPos(viewport->Pos);
            ImGui::SetNextWindowSize(viewport->Size);
            ImGui::Begin("##panel", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoSavedSettings);
            if (captureText) ImGui::LogToBuffer(0);  // 0: opens no tree node by itself
            (app.*panel)();
            if (captureText) {
                shownText = ImGui::GetCurrentContext()->LogBuffer.c_str();
                ImGui::LogFinish();
            }
            ImGui::End();
            app.DrawCloseBrowsersDialog();
        });
    }

    // The seven browsers of the test tree, detected or not as the tree stands now.
    void DetectBrowsers() { app.browsers = DetectBrowsersIn(Local(), Roaming()); }

    // Combos report no label to the driver: found by their id in the panel's window, inside the
    // id scopes given (e.g. the tree node "Export" they are drawn under).
    const UiItem* FindCombo(const char* label, std::initializer_list<const char*> scopes = {}) const {
        ImGuiWindow* window = ImGui::FindWindowByName("##panel");
        if (!window) return nullptr;
        ImGuiID seed = window->ID;
        for (const char* scope : scopes) seed = ImHashStr(scope, 0, seed);
        const ImGuiID id = ImHashStr(label, 0, seed);
        for (const UiItem& item : ui.items()) {
            if (item.id == id) return &item;
        }
        return nullptr;
    }
    bool ClickCombo(const char* label, std::initializer_list<const char*> scopes = {}) {
        const UiItem* found = FindCombo(label, scopes);
        if (!found) return false;
        const UiItem target = *found;
        return ui.ClickItem(target);
    }

    // Clicks the item of that label drawn in the window (a dialog) of that name.
    bool ClickIn(const std::string& label, const std::string& window) {
        for (const UiItem* item : ui.FindAll(label)) {
            if (item->window != window) continue;
            const UiItem target = *item;
            return ui.ClickItem(target);
        }
        return false;
    }

    // Runs one statement on the database file beside the App's own connection.
    void Sql(const std::string& statement) {
        sqlite3* conn = nullptr;
        ASSERT_EQ(sqlite3_open(ToUtf8(dir / L"app_data.db").c_str(), &conn), SQLITE_OK);
        char* message = nullptr;
        EXPECT_EQ(sqlite3_exec(conn, statement.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
        sqlite3_free(message);
        sqlite3_close(conn);
    }

    bool Shows(const std::string& text) const { return shownText.find(text) != std::string::npos; }

    // The log lines added since the last call, without their time prefixes.
    std::vector<std::wstring> NewLogLines() {
        std::vector<std::wstring> all = LogTexts();
        std::vector<std::wstring> fresh(all.begin() + static_cast<std::ptrdiff_t>(logSeen), all.end());
        logSeen = all.size();
        return fresh;
    }

    UiDriver ui;
    // Rendering text for the log turns Dear ImGui's clipping off; tests of clipping clear this.
    bool captureText = true;
    std::string shownText;
    size_t logSeen = 0;
};

}  // namespace bm::test
