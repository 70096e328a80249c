#pragma once
// The two looks of the program (0 dark, the default; 1 light) and the fixed accent colours of the panels.

#include <imgui.h>

namespace bm::ui {

// The look in force: 0 dark, 1 light. Written only by ApplyTheme; read by the palette getters.
extern int g_theme;

// Sets the style's sizes and its 42 themed colours for the look; every other style value is left alone.
void ApplyTheme(int theme);

// Accent colours; each returns its light variant while g_theme is 1, else its dark one.
ImVec4 AccentColor();      // ACTION HUB title
ImVec4 TealColor();        // BACKUPS & RESTORE title
ImVec4 GreenTitleColor();  // IMPORT / EXPORT title
ImVec4 DangerColor();      // BOOKMARK EXPLORER title, "RUNNING"
ImVec4 WarningColor();     // DASHBOARD and CONSOLE LOG titles, locked and skipped lines
ImVec4 TextColor();        // ordinary log lines
ImVec4 ErrorColor();       // error and aborted log lines
ImVec4 SuccessColor();     // "[OK]" lines, "Found", "Closed"
ImVec4 MutedColor();       // "Not found"
ImVec4 CautionColor();     // warnings in the action hub

}  // namespace bm::ui
