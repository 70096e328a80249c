#include "app/profile_names.h"

#include "core/bookmark_record.h"

namespace bm::ui {

std::wstring DuplicateProfileNameText(const std::wstring& name) {
    return L"A profile named '" + name + L"' already exists.";
}

std::wstring ProfileNameFailure(AppDatabase& db, const std::wstring& name, int64_t ownId, const std::exception& error) {
    // Asked again rather than read from the error text: SQLite's wording is no interface.
    try {
        for (const ProfileRecord& profile : db.ListProfiles())
            if (profile.name == name && profile.id != ownId) return DuplicateProfileNameText(name);
    } catch (const std::exception&) {
    }
    return ToWide(error.what());
}

}  // namespace bm::ui
