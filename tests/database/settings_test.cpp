// Per-browser configuration rows and key/value settings.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/database/database_test_support.h"

namespace bm {
namespace {

class SettingsTest : public test::DatabaseTest {};

TEST_F(SettingsTest, BrowserWithoutRowGetsEmptyConfigurationForItsKey) {
    const BrowserConfig config = db.GetBrowserConfig(L"vivaldi");
    EXPECT_EQ(config.id, 0);
    EXPECT_EQ(config.browser_key, L"vivaldi");
    EXPECT_EQ(config.custom_path, L"");
    EXPECT_EQ(config.bound_profile_id, 0);
}

TEST_F(SettingsTest, SetBrowserConfigUpsertsKeepingTheRowId) {
    db.SetBrowserConfig(L"chrome", 0, L"C:\\First\\Bookmarks");
    const int64_t firstId = db.GetBrowserConfig(L"chrome").id;
    EXPECT_GT(firstId, 0);
    db.SetBrowserConfig(L"firefox", 0, L"");
    db.SetBrowserConfig(L"chrome", 7, L"D:\\Caf\u00e9 \u65e5\u672c\\Bookmarks");

    const BrowserConfig config = db.GetBrowserConfig(L"chrome");
    EXPECT_EQ(config.id, firstId);
    EXPECT_EQ(config.browser_key, L"chrome");
    EXPECT_EQ(config.custom_path, L"D:\\Caf\u00e9 \u65e5\u672c\\Bookmarks");  // path and id not swapped
    EXPECT_EQ(config.bound_profile_id, 7);
    EXPECT_EQ(raw().Int("SELECT count(*) FROM browser_configs"), 2);
    EXPECT_EQ(raw().Text("SELECT typeof(custom_path) FROM browser_configs WHERE browser_key = 'firefox'"), "text");
    EXPECT_EQ(db.GetBrowserConfig(L"Chrome").id, 0);  // keys are case-sensitive
}

TEST_F(SettingsTest, DefaultProfileIdIsStoredAsDecimalText) {
    const struct {
        int64_t id;
        const char* text;
    } cases[] = {{12, "12"}, {-3, "-3"}, {0, "0"}, {INT64_MAX, "9223372036854775807"}, {INT64_MIN, "-9223372036854775808"}};
    EXPECT_EQ(db.GetDefaultProfileId(), 0);
    for (const auto& c : cases) {
        db.SetDefaultProfileId(c.id);
        EXPECT_EQ(raw().Text("SELECT value FROM app_settings WHERE key = 'defaultProfileId'"), c.text);
        EXPECT_EQ(db.GetDefaultProfileId(), c.id);
    }
    EXPECT_EQ(raw().Int("SELECT count(*) FROM app_settings"), 1);
    EXPECT_EQ(db.GetSetting(L"defaultProfileId", L"none"), L"-9223372036854775808");
}

TEST_F(SettingsTest, StoredDefaultProfileIdTextIsParsedLeniently) {
    const struct {
        const wchar_t* text;
        int64_t id;
    } cases[] = {
        {L"42", 42},
        {L" -7x", -7},
        {L"7abc", 7},
        {L"+5", 5},
        {L"\t\n 8", 8},
        {L"007", 7},
        {L"- 5", 0},
        {L"x", 0},
        {L"", 0},
        {L"9223372036854775807", INT64_MAX},
        {L"9223372036854775808", INT64_MAX},
        {L"99999999999999999999", INT64_MAX},
        {L"-9223372036854775808", INT64_MIN},
        {L"-99999999999999999999", INT64_MIN},
    };
    for (const auto& c : cases) {
        db.SetSetting(L"defaultProfileId", c.text);
        EXPECT_EQ(db.GetDefaultProfileId(), c.id) << ToUtf8(c.text);
    }
}

TEST_F(SettingsTest, GetSettingFallsBackOnlyWhenTheKeyIsMissing) {
    EXPECT_EQ(db.GetSetting(L"theme", L"dark"), L"dark");
    db.SetSetting(L"theme", L"light");
    const int64_t rowid = raw().Int("SELECT rowid FROM app_settings WHERE key = 'theme'");
    db.SetSetting(L"theme", L"");
    EXPECT_EQ(db.GetSetting(L"theme", L"dark"), L"");
    db.SetSetting(L"theme", L"Caf\u00e9 \U0001F600");
    EXPECT_EQ(db.GetSetting(L"theme", L"dark"), L"Caf\u00e9 \U0001F600");
    EXPECT_EQ(raw().Int("SELECT rowid FROM app_settings WHERE key = 'theme'"), rowid);
    EXPECT_EQ(raw().Int("SELECT count(*) FROM app_settings"), 1);
    EXPECT_EQ(db.GetSetting(L"Theme", L"default"), L"default");
}

}  // namespace
}  // namespace bm
