// The menu bar of the root window, the F5 refresh, and the two help dialogs.
#include "app/app.h"

#include <imgui.h>
#include <imgui_internal.h>  // IsPopupOpen by id

#include "app/panels/fit.h"
#include "app/theme.h"

namespace bm::ui {

namespace {

const char* const kFontSizeNames[4] = {"Small", "Medium", "Large", "Extra Large"};

// A menu of the menu bar that opens on a click on its title, as Windows menus do, also when the
// mouse passed over the title on its way from another open menu. Dear ImGui opens a menu on that
// hover and then takes the click on its title for "close again", so the click meant to open it
// only closes the bar. Here a click closes a menu only when a click opened it; a menu that the
// hover opened stays open. The menu bar's state storage keeps which menu a click opened.
bool BeginBarMenu(const char* label) {
    ImGuiStorage* storage = ImGui::GetStateStorage();
    const ImGuiID clickedKey = ImGui::GetID("##menuOpenedByClick");
    const ImGuiID id = ImGui::GetID(label);
    const bool wasOpen = ImGui::IsPopupOpen(id, ImGuiPopupFlags_None);
    const bool open = ImGui::BeginMenu(label);
    if (!ImGui::IsMouseClicked(ImGuiMouseButton_Left)) return open;
    if (open) {
        if (!wasOpen) storage->SetInt(clickedKey, static_cast<int>(id));
    } else if (wasOpen) {
        // Closed by this click on its title.
        if (static_cast<ImGuiID>(storage->GetInt(clickedKey, 0)) != id) {
            ImGui::OpenPopup(id);
            storage->SetInt(clickedKey, static_cast<int>(id));
        } else {
            storage->SetInt(clickedKey, 0);
        }
    } else if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenBlockedByPopup)) {
        storage->SetInt(clickedKey, static_cast<int>(id));  // opens in the next frame
    }
    return open;
}

void Refresh(App& app) {
    app.RedetectBrowsers();
    app.RefreshProfiles();
    app.explorerReloadPending = true;
    app.Log(L"Dashboard refreshed.");
}

}  // namespace

void App::DrawMenuBar() {
    if (ImGui::IsKeyPressed(ImGuiKey_F5, false)) Refresh(*this);

    if (ImGui::BeginMenuBar()) {
        if (BeginBarMenu("File")) {
            // Dear ImGui shows "&" as it is (no mnemonics): one, not two.
            if (ImGui::MenuItem("Refresh browsers & profiles", "F5", false)) Refresh(*this);
            ImGui::Separator();
            if (ImGui::MenuItem("Exit") && hwnd) PostMessageW(hwnd, WM_CLOSE, 0, 0);
            ImGui::EndMenu();
        }
        if (BeginBarMenu("View")) {
            const int theme = lightTheme;
            if (ImGui::MenuItem("Dark theme", nullptr, theme == 0) && theme != 0) {
                lightTheme = 0;
                ApplyTheme(0);
                SetSetting(L"theme", L"dark");
            }
            if (ImGui::MenuItem("Light theme", nullptr, theme == 1) && theme != 1) {
                lightTheme = 1;
                ApplyTheme(1);
                SetSetting(L"theme", L"light");
            }
            ImGui::Separator();
            if (ImGui::BeginMenu("Font size")) {
                for (int i = 0; i < 4; ++i)
                    if (ImGui::MenuItem(kFontSizeNames[i], nullptr, fontSizeIndex == i) && fontSizeIndex != i)
                        SetFontSize(i);
                ImGui::EndMenu();
            }
            ImGui::EndMenu();
        }
        if (BeginBarMenu("Settings")) {
            bool confirm = confirmBeforeSync;
            if (ImGui::MenuItem("Confirm before replace sync", nullptr, &confirm)) {
                confirmBeforeSync = confirm;
                SetSetting(L"confirm_before_sync", confirm ? L"1" : L"0");
            }
            bool backup = autoBackup;
            if (ImGui::MenuItem("Automatic backup before writes", nullptr, &backup)) {
                autoBackup = backup;
                SetSetting(L"auto_backup", backup ? L"1" : L"0");
            }
            ImGui::TextDisabled("Replace sync always backs up, even if this is off.");
            ImGui::EndMenu();
        }
        if (BeginBarMenu("Help")) {
            if (ImGui::MenuItem("How to restore backups")) openRestoreHelp = true;
            if (ImGui::MenuItem("About Orvellane")) openAbout = true;
            ImGui::EndMenu();
        }
        ImGui::EndMenuBar();
    }

    if (openRestoreHelp) {
        ImGui::OpenPopup("How to restore backups");
        openRestoreHelp = false;
    }
    CenterNextDialog();
    if (ImGui::BeginPopupModal("How to restore backups", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::TextUnformatted("A backup is created automatically before every sync write while");
        ImGui::TextUnformatted("Settings > Automatic backup before writes is on; a Replace sync always makes one.");
        ImGui::Spacing();
        ImGui::TextUnformatted("To restore a browser:");
        ImGui::BulletText("Scroll the left panel to BACKUPS & RESTORE.");
        ImGui::BulletText("Choose the browser in the dropdown.");
        ImGui::BulletText("If it is RUNNING, click Close first.");
        ImGui::BulletText("Click Restore next to the timestamp you want.");
        ImGui::Spacing();
        ImGui::TextUnformatted("To restore a saved profile:");
        ImGui::BulletText("Use the profile dropdown in the same section.");
        ImGui::BulletText("Click Restore next to a snapshot.");
        ImGui::Spacing();
        if (ImGui::Button("Close", ImVec2(120, 0))) ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
    }

    if (openAbout) {
        ImGui::OpenPopup("About Orvellane");
        openAbout = false;
    }
    CenterNextDialog();
    if (ImGui::BeginPopupModal("About Orvellane", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
        ImGui::TextUnformatted("Orvellane");
        ImGui::Spacing();
        ImGui::TextUnformatted("Portable browser bookmark manager & sync tool");
        ImGui::Spacing();
        ImGui::TextDisabled("Version 1.0.0");
        ImGui::Spacing();
        if (ImGui::Button("Close", ImVec2(120, 0))) ImGui::CloseCurrentPopup();
        ImGui::EndPopup();
    }
}

}  // namespace bm::ui
