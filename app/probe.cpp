// The probe: the interface state of the last frame, sent as JSON to a window that asks for it. It
// lets a test (or a developer with a small tool) see what the real window shows without reading
// its pixels: the text fields, the items with their rectangles, the open popups, and where the last
// frame's time went.
#include <imgui.h>
#include <imgui_internal.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/imgui_item_hooks.h"

namespace bm::ui {

namespace {

// FNV-1a over the bytes: equal pictures give equal numbers.
uint64_t PictureHash(const std::vector<unsigned char>& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
    return hash;
}

}  // namespace

struct ProbeItemRecorder : ItemHookSink {
    struct Item {
        ImGuiID id = 0;
        std::string label;
        ImRect rect;
        ImGuiItemStatusFlags status = 0;
    };
    std::vector<Item> recording;
    std::vector<Item> lastFrame;

    void ItemAdd(ImGuiContext*, ImGuiID id, const ImRect& rect, const ImGuiLastItemData*) override {
        if (id == 0) return;
        recording.push_back({id, {}, rect, 0});
    }
    void ItemInfo(ImGuiContext*, ImGuiID id, const char* label, ImGuiItemStatusFlags flags) override {
        for (auto it = recording.rbegin(); it != recording.rend(); ++it) {
            if (it->id != id) continue;
            it->label = label ? label : "";
            it->status = flags;
            return;
        }
    }
};

bool App::AnswerProbe(HWND asker) {
    const bool starting = !probeItems;
    if (starting) {
        probeItems = std::make_shared<ProbeItemRecorder>();
        SetItemHookSink(probeItems.get());
    }

    nlohmann::json state;
    state["frames"] = framesDrawn;
    state["picture"] = std::to_string(PictureHash(framePacer.LastPicture()));
    state["explorerSearch"] = std::string(explorerSearch);
    state["explorerType"] = explorerType;
    state["explorerRows"] = ExplorerRowCount();
    state["sourceType"] = sourceType;
    state["fontSizeIndex"] = fontSizeIndex;
    state["frameMs"] = {{"newFrame", frameTimings.newFrame},   {"menuBar", frameTimings.menuBar},
                        {"dashboard", frameTimings.dashboard}, {"actionHub", frameTimings.actionHub},
                        {"backups", frameTimings.backups},     {"importExport", frameTimings.importExport},
                        {"explorer", frameTimings.explorer},   {"console", frameTimings.console},
                        {"dialogs", frameTimings.dialogs},     {"render", frameTimings.render},
                        {"gl", frameTimings.gl},               {"swap", frameTimings.swap},
                        {"total", frameTimings.total}};
    nlohmann::json items = nlohmann::json::array();
    for (const ProbeItemRecorder::Item& item : probeItems->lastFrame) {
        items.push_back({{"label", item.label},
                         {"x", item.rect.Min.x},
                         {"y", item.rect.Min.y},
                         {"w", item.rect.GetWidth()},
                         {"h", item.rect.GetHeight()},
                         {"status", item.status}});
    }
    state["items"] = items;
    nlohmann::json popups = nlohmann::json::array();
    if (ImGuiContext* context = imguiContext) {
        for (const ImGuiPopupData& popup : context->OpenPopupStack) {
            const ImGuiWindow* window = popup.Window;
            if (window == nullptr) {
                popups.push_back({{"name", ""}, {"shown", false}});
                continue;
            }
            popups.push_back({{"name", window->Name},
                              {"shown", window->WasActive && !window->Hidden},
                              {"w", window->Size.x},
                              {"h", window->Size.y}});
        }
    }
    state["popups"] = popups;

    const std::string text = state.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    COPYDATASTRUCT data = {};
    data.dwData = kProbeMessage;
    data.cbData = static_cast<DWORD>(text.size());
    data.lpData = const_cast<char*>(text.data());
    if (asker != nullptr && IsWindow(asker))
        SendMessageTimeoutW(asker, WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&data),
                            SMTO_ABORTIFHUNG, 5000, nullptr);
    return starting;
}

void App::ProbeFrameBegin() {
    if (!probeItems || !imguiContext) return;
    imguiContext->TestEngineHookItems = true;
    probeItems->recording.clear();
}

void App::ProbeFrameEnd() {
    if (!probeItems) return;
    probeItems->lastFrame.swap(probeItems->recording);
}

}  // namespace bm::ui
