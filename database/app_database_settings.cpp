// Per-browser configuration rows and key/value settings.
#include "database/app_database.h"

#include <limits>
#include <string>

#include "core/sql_statement.h"
#include "database/database_failure.h"

namespace bm {
namespace {

// Leading white space, an optional sign, then decimal digits up to the first other character;
// no digit gives 0 and a value beyond 64 bits the nearest limit.
int64_t ParseProfileId(const std::wstring& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    // Accumulate toward the negative side, which holds one value more.
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        const int digit = text[i] - L'0';
        if (overflow) continue;
        if (value < (kMin + digit) / 10) {
            overflow = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (overflow) return negative ? kMin : std::numeric_limits<int64_t>::max();
    if (negative) return value;
    return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
}

}  // namespace

BrowserConfig AppDatabase::GetBrowserConfig(const std::wstring& browserKey) try {
    std::lock_guard<std::mutex> lock(mutex);
    Statement select = PrepareOrThrow(
        Connection(), "SELECT id, browser_key, custom_path, bound_profile_id FROM browser_configs WHERE browser_key = ?");
    BindText(select, 1, ToUtf8(browserKey));
    BrowserConfig config;
    if (StepRow(select)) {
        config.id = ColumnInt64(select, 0);
        config.browser_key = ToWide(ColumnText(select, 1));
        config.custom_path = ToWide(ColumnText(select, 2));
        config.bound_profile_id = ColumnInt64(select, 3);
    } else {
        config.browser_key = browserKey;
    }
    return config;
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

void AppDatabase::SetBrowserConfig(const std::wstring& browserKey, int64_t boundProfileId,
                                   const std::wstring& customPath) try {
    std::lock_guard<std::mutex> lock(mutex);
    Statement upsert = PrepareOrThrow(
        WritableConnection(),
        "INSERT INTO browser_configs(browser_key, custom_path, bound_profile_id) VALUES(?, ?, ?) ON CONFLICT(browser_key) "
        "DO UPDATE SET custom_path = excluded.custom_path, bound_profile_id = excluded.bound_profile_id");
    // The statement takes the path before the profile id.
    BindText(upsert, 1, ToUtf8(browserKey));
    BindText(upsert, 2, ToUtf8(customPath));
    BindInt64(upsert, 3, boundProfileId);
    StepRow(upsert);
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

int64_t AppDatabase::GetDefaultProfileId() try {
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto kept = keptSettings.find(L"defaultProfileId"); kept != keptSettings.end())
        return ParseProfileId(kept->second);
    Statement select = PrepareOrThrow(Connection(), "SELECT value FROM app_settings WHERE key = 'defaultProfileId'");
    if (!StepRow(select)) return 0;
    return ParseProfileId(ToWide(ColumnText(select, 0)));
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

void AppDatabase::SetDefaultProfileId(int64_t id) try {
    std::lock_guard<std::mutex> lock(mutex);
    if (KeepWhileChecking(L"defaultProfileId", std::to_wstring(id))) return;
    Statement upsert = PrepareOrThrow(
        WritableConnection(),
        "INSERT INTO app_settings(key, value) VALUES('defaultProfileId', ?) ON CONFLICT(key) DO UPDATE SET value = "
        "excluded.value");
    BindText(upsert, 1, std::to_string(id));
    StepRow(upsert);
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

std::wstring AppDatabase::GetSetting(const std::wstring& key, const std::wstring& defaultValue) try {
    std::lock_guard<std::mutex> lock(mutex);
    if (const auto kept = keptSettings.find(key); kept != keptSettings.end()) return kept->second;
    Statement select = PrepareOrThrow(Connection(), "SELECT value FROM app_settings WHERE key = ?");
    BindText(select, 1, ToUtf8(key));
    if (!StepRow(select)) return defaultValue;
    return ToWide(ColumnText(select, 0));
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

void AppDatabase::SetSetting(const std::wstring& key, const std::wstring& value) try {
    std::lock_guard<std::mutex> lock(mutex);
    // Kept in memory while the file's check runs: a click in the first seconds never waits for it.
    if (KeepWhileChecking(key, value)) return;
    Statement upsert = PrepareOrThrow(
        WritableConnection(),
        "INSERT INTO app_settings(key, value) VALUES(?, ?) ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    BindText(upsert, 1, ToUtf8(key));
    BindText(upsert, 2, ToUtf8(value));
    StepRow(upsert);
} catch (const SqlError& failure) {
    ThrowInUsersWords(failure);
}

}  // namespace bm
