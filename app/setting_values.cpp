#include "app/setting_values.h"

#include <cerrno>
#include <climits>
#include <cwchar>
#include <exception>

namespace bm::ui {

namespace {

// Parses with `convert` (a wcsto* function); false when no number could be read or it is out of range.
template <typename T, typename Convert>
bool ParseNumber(const std::wstring& text, Convert convert, T& out) {
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    errno = 0;
    const T value = convert(begin, &end);
    if (end == begin || errno == ERANGE) return false;
    out = value;
    return true;
}

}  // namespace

std::wstring GetSettingText(AppDatabase& db, const std::wstring& key, const std::wstring& defaultValue) {
    try {
        return db.GetSetting(key, defaultValue);
    } catch (const std::exception&) {
        return defaultValue;
    }
}

float GetSettingFloat(AppDatabase& db, const std::wstring& key, float defaultValue) {
    float value = defaultValue;
    return ParseNumber<float>(GetSettingText(db, key, L""), [](const wchar_t* s, wchar_t** e) { return std::wcstof(s, e); },
                              value)
               ? value
               : defaultValue;
}

int32_t GetSettingInt(AppDatabase& db, const std::wstring& key, int32_t defaultValue) {
    long long value = 0;
    const bool ok = ParseNumber<long long>(GetSettingText(db, key, L""),
                                           [](const wchar_t* s, wchar_t** e) { return std::wcstoll(s, e, 10); }, value);
    if (!ok || value < INT32_MIN || value > INT32_MAX) return defaultValue;
    return static_cast<int32_t>(value);
}

int64_t GetSettingInt64(AppDatabase& db, const std::wstring& key) {
    long long value = 0;
    const bool ok = ParseNumber<long long>(GetSettingText(db, key, L"0"),
                                           [](const wchar_t* s, wchar_t** e) { return std::wcstoll(s, e, 10); }, value);
    return ok ? static_cast<int64_t>(value) : 0;
}

}  // namespace bm::ui
