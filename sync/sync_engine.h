#pragma once
// One sync job: load the bookmarks of a browser or saved profile and write them into one browser,
// every detected browser, or one saved profile, reporting each step as a log line.
// Headless: no window and no Dear ImGui, so it runs on the worker thread and in tests alike.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/bookmark_record.h"

namespace bm {

struct BrowserInfo;
class AppDatabase;

// One sync job as the action hub builds it; the worker owns its own copy for the whole job.
struct SyncRequest {
    int32_t sourceType = 0;         // 0 = a browser, 1 = a saved profile
    int32_t sourceBrowserKind = 7;  // BrowserKind of the source browser; 7 = none
    int64_t sourceProfileId = 0;    // the source profile when sourceType is 1
    std::wstring sourceName;        // display name of the source (used in the "Loaded " line of a profile)
    int32_t destMode = 0;           // 0 = single browser, 1 = all browsers, 2 = target profile
    int32_t destBrowserKind = 7;    // BrowserKind of the destination in mode 0; 7 = none
    int64_t destProfileId = 0;      // the destination profile in mode 2
    int32_t writeMode = 0;          // 1 = replace, anything else = merge
    bool autoBackup = true;         // back up / snapshot each destination before writing it
};

struct DestinationResult {
    std::wstring name;  // browser display name, or "Profile #<id>"
    bool ok = false;
    int32_t added = 0;
    int32_t duplicatesSkipped = 0;
    int32_t leftOut = 0;        // records the destination cannot keep (a URL it refuses, too long or unusable)
    int32_t keptShallower = 0;  // added, in a shallower folder: nested deeper than the destination holds
    std::wstring message;  // the text that follows the marker in the log line
};

struct SyncResult {
    bool ok = false;      // the source was loaded; false means nothing was written
    std::wstring error;   // why the source could not be loaded
    int32_t sourceCount = 0;
    std::vector<DestinationResult> destinations;  // in the order they were processed
};

// Receives one log line (without the time prefix), synchronously on the engine's thread.
using LogCallback = std::function<void(const std::wstring&)>;

// Stateless: every operation takes what it uses as parameters.
class SyncEngine {
public:
    SyncResult RunSync(const SyncRequest& request, const std::vector<BrowserInfo>& browsers, AppDatabase& db,
                       const LogCallback& log) const;

    bool LoadSource(const SyncRequest& request, const std::vector<BrowserInfo>& browsers, AppDatabase& db,
                    std::vector<BookmarkRecord>& records, std::wstring& error, const LogCallback& log) const;

    DestinationResult SyncToBrowser(const std::vector<BookmarkRecord>& records, const BrowserInfo& browser,
                                    bool replace, bool autoBackup, const LogCallback& log) const;

    DestinationResult SyncToProfile(const std::vector<BookmarkRecord>& records, int64_t profileId, bool replace,
                                    bool autoBackup, AppDatabase& db, const LogCallback& log) const;
};

}  // namespace bm
