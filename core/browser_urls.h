#pragma once
// Which URLs each browser keeps as a bookmark. Firefox's own insert refuses some texts, and Chromium
// drops some when it loads its file: written anyway, such a record is a bookmark the user never sees,
// while the program's own reader would read it back and count it as there.

#include <string>

namespace bm {

// Whether a Chromium-family browser keeps a bookmark of this URL when it loads its Bookmarks file.
bool ChromiumKeepsUrl(const std::wstring& url);

// Whether Firefox keeps a bookmark of this URL (its length aside: see kFirefoxMaxUrlLength).
bool FirefoxKeepsUrl(const std::wstring& url);

}  // namespace bm
