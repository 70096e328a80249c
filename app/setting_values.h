#pragma once
// Tolerant readers of numeric settings: a missing key, a text that is no number, a number out of
// range, or a failing read all give the default.

#include <cstdint>
#include <string>

#include "database/app_database.h"

namespace bm::ui {

// Like wcstof / wcstol / wcstoll: leading white space skipped, the longest valid prefix taken.
float GetSettingFloat(AppDatabase& db, const std::wstring& key, float defaultValue);
int32_t GetSettingInt(AppDatabase& db, const std::wstring& key, int32_t defaultValue);
int64_t GetSettingInt64(AppDatabase& db, const std::wstring& key);  // default 0

// The stored text, or `defaultValue` when the key is absent or the read fails.
std::wstring GetSettingText(AppDatabase& db, const std::wstring& key, const std::wstring& defaultValue);

}  // namespace bm::ui
