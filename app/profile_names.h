#pragma once
// What the user reads when the profile store refuses a name.

#include <cstdint>
#include <exception>
#include <string>

#include "database/app_database.h"

namespace bm::ui {

// "A profile named '<name>' already exists." when a profile other than `ownId` (0: none) holds the
// name; otherwise the store's own error text. Never throws.
std::wstring ProfileNameFailure(AppDatabase& db, const std::wstring& name, int64_t ownId, const std::exception& error);

std::wstring DuplicateProfileNameText(const std::wstring& name);

}  // namespace bm::ui
