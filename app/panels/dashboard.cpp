// DASHBOARD: the known browsers, found or not, running or not, and their bound profiles.
#include "app/app.h"

#include <imgui.h>

#include <exception>
#include <string>

#include "app/theme.h"

namespace bm::ui {

namespace {

// Shows `text` as the tooltip of the item just drawn while it is hovered.
void TooltipForLastItem(const std::string& text) {
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", text.c_str());
}

}  // namespace

void App::DrawDashboard() {
    ImGui::TextColored(WarningColor(), "DASHBOARD");
    ImGui::TextDisabled("Detected browsers, process lock status & profile bindings");
    ImGui::Spacing();

    const ImGuiTableFlags tableFlags = ImGuiTableFlags_Resizable | ImGuiTableFlags_Reorderable |
                                       ImGuiTableFlags_RowBg | ImGuiTableFlags_Borders |
                                       ImGuiTableFlags_SizingStretchProp;
    if (ImGui::BeginTable("##browserGrid", 4, tableFlags, ImVec2(0, 0))) {
        ImGui::TableSetupColumn("Browser", ImGuiTableColumnFlags_WidthStretch, 1.4f);
        ImGui::TableSetupColumn("Detected", ImGuiTableColumnFlags_WidthStretch, 0.9f);
        ImGui::TableSetupColumn("Process Lock", ImGuiTableColumnFlags_WidthStretch, 1.1f);
        ImGui::TableSetupColumn("Bound Profile", ImGuiTableColumnFlags_WidthStretch, 1.0f);
        ImGui::TableHeadersRow();

        bool configReadFailed = false;
        for (const BrowserInfo& browser : browsers) {
            const std::string name = ToUtf8(browser.displayName);
            ImGui::TableNextRow();

            ImGui::TableSetColumnIndex(0);
            ImGui::TextUnformatted(name.c_str());
            if (browser.hasCustomPath) {
                ImGui::SameLine();
                ImGui::TextDisabled("(custom)");
            }

            ImGui::TableSetColumnIndex(1);
            if (browser.detected) {
                ImGui::TextColored(SuccessColor(), "Found");
                if (!outsideReads.FileExists(browser.bookmarksPath)) {
                    ImGui::SameLine();
                    ImGui::TextDisabled("(empty)");
                    TooltipForLastItem(name +
                                       " is installed, but it has no bookmarks file yet\n"
                                       "(no bookmarks have been saved in that profile).\n"
                                       "Syncing to it will create the file.");
                }
            } else {
                ImGui::TextColored(MutedColor(), "Not found");
                if (browser.running) {
                    ImGui::SameLine();
                    ImGui::TextDisabled("(?)");
                    TooltipForLastItem(name +
                                       " is running, but its profile folder wasn't found.\n"
                                       "This usually means a portable or custom install.\n"
                                       "Use 'Custom / Portable Browser Path' below to point at it directly.");
                }
            }

            ImGui::TableSetColumnIndex(2);
            if (browser.running) {
                ImGui::TextColored(DangerColor(), "RUNNING");
                ImGui::SameLine();
                ImGui::PushID(static_cast<int>(browser.kind));
                if (ImGui::SmallButton("Close")) {
                    // Arms the close-browsers dialog for this browser alone; nothing starts afterwards.
                    closeQueueExe = {browser.exeName};
                    closeQueueNames = {browser.displayName};
                    openCloseBrowsers = true;
                    syncAfterClose = false;
                }
                ImGui::PopID();
            } else {
                ImGui::TextColored(SuccessColor(), "Closed");
            }

            ImGui::TableSetColumnIndex(3);
            const ProfileRecord* bound = nullptr;
            try {
                const BrowserConfig& config = outsideReads.Config(db, BrowserKey(browser.kind));
                for (const ProfileRecord& profile : profiles) {
                    if (profile.id == config.bound_profile_id) {
                        bound = &profile;
                        break;
                    }
                }
            } catch (const std::exception& e) {
                if (!configReadFailed && !dashboardConfigReadFailed)
                    Log(L"[ERROR] Could not read the browser configurations: " + ToWide(e.what()));
                configReadFailed = true;
            }
            if (bound != nullptr)
                ImGui::TextUnformatted(ToUtf8(bound->name).c_str());
            else
                ImGui::TextDisabled("--");
        }
        dashboardConfigReadFailed = configReadFailed;
        ImGui::EndTable();
    }

    ImGui::Spacing();
    ImGui::TextDisabled("Tip: browsers often stay in Task Manager after you close the window. Use Close, then Refresh.");
}

}  // namespace bm::ui
