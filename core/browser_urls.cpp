#include "core/browser_urls.h"

#include <ada.h>

#include "core/bookmark_record.h"

namespace bm {
namespace {

// Both browsers parse a bookmark's address with a WHATWG-style URL parser and drop what it refuses.
bool ParsesAsUrl(const std::wstring& url) {
    if (url.empty() || url.find(L'\0') != std::wstring::npos) return false;
    return static_cast<bool>(ada::parse<ada::url_aggregator>(ToUtf8(url)));
}

}  // namespace

bool ChromiumKeepsUrl(const std::wstring& url) { return ParsesAsUrl(url); }

bool FirefoxKeepsUrl(const std::wstring& url) { return ParsesAsUrl(url); }

}  // namespace bm
