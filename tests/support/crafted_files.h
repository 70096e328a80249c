#pragma once
// Bookmark files of deep folders with long names above many links, in each format's own layout: what
// browsers write at their limits, and small files made to need far more memory than their size.

#include <cstddef>
#include <string>

namespace bm::test {

// Netscape HTML: `levels` nested folders named `name`, `links` links in the innermost.
std::string CraftedHtmlFile(size_t levels, const std::string& name, size_t links);

// A Chromium Bookmarks file of the same tree under the bookmarks bar.
std::string CraftedChromiumFile(size_t levels, const std::string& name, size_t links);

// The program's JSON export: `links` bookmarks, each in `folderPath`.
std::string CraftedJsonFile(const std::string& folderPath, size_t links);

// An HTML file as Firefox exports it, about 210 bytes a link: the toolbar holding `levels` nested
// folders of `nameLength`-character names with `links` links in the innermost (30, 255 and 20000
// make the 4.2 MB file of a 7679-character path).
std::string BrowserLayoutHtmlFile(size_t levels, size_t nameLength, size_t links);

}  // namespace bm::test
