#pragma once
// Decides after each frame whether the loop must draw another one before it sleeps again.
//
// Dear ImGui hands queued input over one event at a time when events of one kind pile up (a key's
// down and up, a click's press and release), and some changes only show a frame or two after the
// input that caused them (a radio button's new value, a popup that measures itself before it is
// shown). Drawing exactly one frame per batch of messages leaves the screen behind the user until
// the next message arrives. So the loop keeps drawing while input is still queued, while a window
// is still measuring itself, and while each frame's draw data or interaction state (hovered, held
// and focused widget, open popups) differs from the frame before it; a frame equal to the one before
// it means the screen has settled.

#include <chrono>
#include <cstddef>
#include <iterator>
#include <vector>

struct ImDrawData;
struct ImGuiContext;

namespace bm::ui {

class FramePacer {
public:
    // How long the loop keeps drawing only because the picture is still changing, before it gives up
    // and waits for the next message: long enough for Dear ImGui's own fades (a modal's dimmed
    // background takes about 1/6 s), short enough that something changing on every frame does not
    // keep the loop awake.
    static constexpr double kMaxSettlingSeconds = 0.5;

    // Call after ImGui::Render (with that frame's draw data); true when another frame is due now.
    bool AfterFrame(ImGuiContext* context, const ImDrawData* drawData);

    // The bytes of the last frame's picture (see AppendDrawDataBytes).
    std::vector<unsigned char> LastPicture() const {
        return std::vector<unsigned char>(previous_.begin(), previous_.begin() + static_cast<std::ptrdiff_t>(pictureSize_));
    }

    // True while `context` holds input events it has not yet handed to a frame.
    static bool HasQueuedInput(ImGuiContext* context);

private:
    std::vector<unsigned char> previous_;
    std::vector<unsigned char> current_;
    size_t pictureSize_ = 0;  // the picture's part of previous_; the interaction state follows
    bool settling_ = false;
    std::chrono::steady_clock::time_point settlingSince_{};
};

// Appends everything that decides what `drawData` puts on screen (display rectangle, vertices,
// indices, commands) to `out`; equal bytes mean an equal picture.
void AppendDrawDataBytes(const ImDrawData* drawData, std::vector<unsigned char>& out);

}  // namespace bm::ui
