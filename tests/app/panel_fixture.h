#pragma once
// One panel of the App drawn alone in a window that fills the display, over real stores in a
// temporary tree (the database of AppSyncFixture, browser folders under dir\Local and dir\Roaming),
// with the close-browsers dialog drawn after it as the frame does. Each frame also keeps the text the
// panel rendered (Dear ImGui's log of rendered text), which the driver's items do not carry.

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <functional>
#include <string>

#include "app/app.h"
#include "core/browsers.h"
#include "tests/app/app_sync_fixture.h"
#include "tests/app/ui_driver.h"

namespace bm::test {

class PanelFixture : public AppSyncFixture {
public:
    void SetUp() override {
        AppSyncFixture::SetUp();
        app.dbOpen = true;  // the panels store their choices (App::SaveUiState)
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

    // Combos report no label to the driver: found by their id in the panel's window.
    bool ClickCombo(const char* label) {
        ImGuiWindow* window = ImGui::FindWindowByName("##panel");
        if (!window) return false;
        const ImGuiID id = window->GetID(label);
        for (const UiItem& item : ui.items()) {
            if (item.id == id) {
                const UiItem target = item;
                return ui.ClickItem(target);
            }
        }
        return false;
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
