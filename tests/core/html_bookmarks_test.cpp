#include "core/html_bookmarks.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include "core/chromium_bookmarks.h"  // kDeepestFolderNesting
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::ReadTextFile;
using test::TempDir;
using test::WriteTextFile;

BookmarkRecord Record(const std::wstring& url, const std::wstring& title, const std::wstring& folder, int64_t date) {
    BookmarkRecord record;
    record.url = url;
    record.title = title;
    record.folder_path = folder;
    record.date_added = date;
    return record;
}

// folder_path, url, title of each imported record.
using Entry = std::tuple<std::wstring, std::wstring, std::wstring>;

std::vector<Entry> Entries(const std::vector<BookmarkRecord>& records) {
    std::vector<Entry> entries;
    for (const BookmarkRecord& r : records) entries.emplace_back(r.folder_path, r.url, r.title);
    return entries;
}

TEST(HtmlExport, WritesTheTreeByteForByte) {
    TempDir dir;
    const std::vector<BookmarkRecord> records = {
        Record(L"https://a.example/?x=1&y=2", L"A <b>bold</b> 'q'", L"Bookmarks bar/Dev", 1700000000),
        Record(L"https://b.example/", L"", L"Bookmarks bar", 0),
        Record(L"https://c.example/", L"\u00C7a \u65E5\u672C", L"", 1600000005),  // no folder: the bar, as every store has it
        Record(L"https://d.example/", L"D", L"/Other \"stuff\"//", -11644473600),
        Record(L"https://e.example/", L"E", L"Bookmarks bar/Dev", 1650000007),
    };
    const std::wstring path = dir / L"out.html";
    std::wstring error = L"untouched";
    const int64_t exportStart = static_cast<int64_t>(std::time(nullptr));
    ASSERT_TRUE(ExportHtml(records, path, &error));
    const int64_t exportEnd = static_cast<int64_t>(std::time(nullptr));
    EXPECT_EQ(error, L"untouched");
    // Every date written is a real one: a folder's is its earliest bookmark's; where there is none
    // (no date, or Chromium's empty one), the time of the export.
    const std::string written = ReadTextFile(path);
    const size_t b = written.find("https://b.example/\" ADD_DATE=\"");
    ASSERT_NE(b, std::string::npos);
    const int64_t exportTime = std::stoll(written.substr(b + 30, 10));
    EXPECT_GE(exportTime, exportStart);
    EXPECT_LE(exportTime, exportEnd);
    const std::string t = std::to_string(exportTime);
    const std::string expected =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
        "<TITLE>Bookmarks</TITLE>\n"
        "<H1>Bookmarks</H1>\n"
        "<DL><p>\n"
        "    <DT><H3 ADD_DATE=\"1600000005\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks bar</H3>\n"
        "    <DL><p>\n"
        "        <DT><H3 ADD_DATE=\"1650000007\">Dev</H3>\n"
        "        <DL><p>\n"
        "            <DT><A HREF=\"https://a.example/?x=1&amp;y=2\" ADD_DATE=\"1700000000\">"
        "A &lt;b&gt;bold&lt;/b&gt; 'q'</A>\n"
        "            <DT><A HREF=\"https://e.example/\" ADD_DATE=\"1650000007\">E</A>\n"
        "        </DL><p>\n"
        "        <DT><A HREF=\"https://b.example/\" ADD_DATE=\"" + t + "\">https://b.example/</A>\n"
        "        <DT><A HREF=\"https://c.example/\" ADD_DATE=\"1600000005\">\xC3\x87" "a \xE6\x97\xA5\xE6\x9C\xAC</A>\n"
        "        <DT><H3 ADD_DATE=\"" + t + "\">Other &quot;stuff&quot;</H3>\n"
        "        <DL><p>\n"
        "            <DT><A HREF=\"https://d.example/\" ADD_DATE=\"" + t + "\">D</A>\n"
        "        </DL><p>\n"
        "    </DL><p>\n"
        "</DL><p>\n";
    EXPECT_EQ(written, expected);

    // And back: the folders, the unescaped texts, the URL as the title of the untitled link, and
    // every date as written.
    std::wstring warning = L"untouched";
    const std::vector<BookmarkRecord> back = ImportHtml(path, &error, &warning);
    EXPECT_EQ(error, L"untouched");
    EXPECT_EQ(warning, L"untouched");
    const std::vector<Entry> want = {
        {L"Bookmarks bar/Dev", L"https://a.example/?x=1&y=2", L"A <b>bold</b> 'q'"},
        {L"Bookmarks bar/Dev", L"https://e.example/", L"E"},
        {L"Bookmarks bar", L"https://b.example/", L"https://b.example/"},
        {L"Bookmarks bar", L"https://c.example/", L"\u00C7a \u65E5\u672C"},
        {L"Bookmarks bar/Other \"stuff\"", L"https://d.example/", L"D"},
    };
    EXPECT_EQ(Entries(back), want);
    std::vector<int64_t> dates;
    for (const BookmarkRecord& r : back) {
        EXPECT_EQ(r.id, 0);
        EXPECT_EQ(r.profile_id, 0);
        dates.push_back(r.date_added);
    }
    EXPECT_EQ(dates, (std::vector<int64_t>{1700000000, 1650000007, exportTime, 1600000005, exportTime}));
}

TEST(HtmlImport, ReadsAPlausibleAddDateAndTakesTheTimeOfTheImportForAnyOther) {
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    struct Case {
        const char* attributes;
        int64_t date;  // -1: the time of the import
    } cases[] = {
        {" ADD_DATE=\"1700000000\"", 1700000000},
        {" add_date='1500000000' LAST_MODIFIED=\"1700000000\"", 1500000000},
        {" ADD_DATE=1400000000", 1400000000},                   // unquoted
        {" LAST_MODIFIED=\"1700000000\"", -1},                  // only the time it was changed
        {"", -1},                                               // none
        {" ADD_DATE=\"0\"", -1},                                // browsers' "no date"
        {" ADD_DATE=\"631151999\"", -1},                        // before 1990
        {" ADD_DATE=\"631152000\"", 631152000},                 // 1990-01-01
        {" ADD_DATE=\"-11644473600\"", -1},                     // Chromium's empty date
        {" ADD_DATE=\"1700000000000000\"", -1},                 // microseconds, not seconds
        {" ADD_DATE=\"99999999999\"", -1},                      // far in the future
        {" ADD_DATE=\"17e8\"", -1},
        {" DATA-ADD_DATE=\"1700000000\"", -1},                  // another attribute
        {" TITLE=\" ADD_DATE=1700000000\"", -1},                // inside another attribute's value
    };
    std::string file = "<DL><p>\n";
    for (const Case& c : cases) file += std::string("<DT><A HREF=\"https://x.example/\"") + c.attributes + ">x</A>\n";
    file += "</DL><p>\n";
    std::wstring error, warning;
    const std::vector<BookmarkRecord> records = ParseHtmlBookmarks(file, &error, &warning);
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    EXPECT_EQ(error, L"");
    EXPECT_EQ(warning, L"");
    ASSERT_EQ(records.size(), std::size(cases));
    for (size_t i = 0; i < records.size(); ++i) {
        if (cases[i].date >= 0) {
            EXPECT_EQ(records[i].date_added, cases[i].date) << cases[i].attributes;
        } else {
            EXPECT_GE(records[i].date_added, before) << cases[i].attributes;
            EXPECT_LE(records[i].date_added, after) << cases[i].attributes;
        }
    }
}

TEST(HtmlExport, EveryRootAndInterleavedOrderComeBack) {
    // Firefox's and Chromium's root names side by side, and folders whose bookmarks and sub-folders
    // alternate: the file keeps each root apart and each folder's children in the order they came.
    const std::vector<BookmarkRecord> records = {
        Record(L"https://m1/", L"Menu first", L"Bookmarks Menu", 1),
        Record(L"https://b1/", L"Bar first", L"Bookmarks bar", 1),
        Record(L"https://b2/", L"In A", L"Bookmarks bar/A", 1),
        Record(L"https://b3/", L"Bar after A", L"Bookmarks bar", 1),
        Record(L"https://b4/", L"In B", L"Bookmarks bar/B", 1),
        Record(L"https://b5/", L"Bar after B", L"Bookmarks bar", 1),
        Record(L"https://b6/", L"Back in A", L"Bookmarks bar/A/Deeper", 1),
        Record(L"https://o1/", L"Other", L"Other bookmarks/Reading", 1),
        Record(L"https://s1/", L"Mobile", L"Mobile bookmarks", 1),
        Record(L"https://m2/", L"Menu folder", L"Bookmarks Menu/Mobile apps (menu)", 1),
        Record(L"https://m3/", L"Menu last", L"Bookmarks Menu", 1),
        Record(L"https://x1/", L"Barbecue", L"Barbecue bookmarks", 1),
        Record(L"https://o2/", L"Unfiled", L"Other bookmarks", 1),
    };
    TempDir dir;
    std::wstring error;
    ASSERT_TRUE(ExportHtml(records, dir / L"roots.html", &error));
    std::wstring warning;
    const std::vector<Entry> want = {
        {L"Bookmarks Menu", L"https://m1/", L"Menu first"},
        {L"Bookmarks bar", L"https://b1/", L"Bar first"},
        {L"Bookmarks bar/A", L"https://b2/", L"In A"},
        {L"Bookmarks bar/A/Deeper", L"https://b6/", L"Back in A"},
        {L"Bookmarks bar", L"https://b3/", L"Bar after A"},
        {L"Bookmarks bar/B", L"https://b4/", L"In B"},
        {L"Bookmarks bar", L"https://b5/", L"Bar after B"},
        {L"Bookmarks bar/Barbecue bookmarks", L"https://x1/", L"Barbecue"},
        {L"Other bookmarks/Reading", L"https://o1/", L"Other"},
        {L"Other bookmarks", L"https://o2/", L"Unfiled"},
        {L"Mobile bookmarks", L"https://s1/", L"Mobile"},
        {L"Bookmarks Menu/Mobile apps (menu)", L"https://m2/", L"Menu folder"},
        {L"Bookmarks Menu", L"https://m3/", L"Menu last"},
    };
    EXPECT_EQ(Entries(ImportHtml(dir / L"roots.html", &error, &warning)), want);
    EXPECT_EQ(warning, L"");
    // Browsers find the roots by their markers; the menu is the file's top level, named by the H1.
    const std::string text = ReadTextFile(dir / L"roots.html");
    EXPECT_NE(text.find("<H1>Bookmarks Menu</H1>"), std::string::npos);
    EXPECT_NE(text.find("PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks bar</H3>"), std::string::npos);
    EXPECT_NE(text.find("UNFILED_BOOKMARKS_FOLDER=\"true\">Other bookmarks</H3>"), std::string::npos);
    EXPECT_NE(text.find("\n    <DT><A HREF=\"https://m1/\""), std::string::npos);
}

TEST(HtmlExport, FolderDepthFarBeyondTheImportBoundNeitherRecursesNorGrowsQuadratically) {
    std::wstring deep = L"Bookmarks bar";
    for (int i = 0; i < 5000; ++i) deep += L"/f";
    TempDir dir;
    std::wstring error;
    ASSERT_TRUE(ExportHtml({Record(L"https://deep/", L"Deep", deep, 1)}, dir / L"deep.html", &error));
    const std::string text = ReadTextFile(dir / L"deep.html");
    EXPECT_LT(text.size(), 5000u * 3 * (64 * 4 + 30));  // indentation stops growing
    EXPECT_NE(text.find("<DT><A HREF=\"https://deep/\""), std::string::npos);
    // Such a file is deeper than any browser writes: it is refused on import, with a reason.
    EXPECT_TRUE(ImportHtml(dir / L"deep.html", &error).empty());
    EXPECT_NE(error.find(L"more than 1000 levels below a root"), std::wstring::npos);
}

// HTML cannot carry a NUL: a title loses it, an address gets the escape both browsers store it as.
TEST(HtmlExport, NulInTitleIsDroppedAndInAddressEscaped) {
    TempDir dir;
    const std::wstring path = dir / L"zero-char.html";
    ASSERT_TRUE(ExportHtml({Record(std::wstring(L"https://n.example/a\0b", 21), std::wstring(L"Be\0fore", 7),
                                   L"Bookmarks bar", 1700000000)},
                           path, nullptr));
    const std::string text = ReadTextFile(path);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_NE(text.find("HREF=\"https://n.example/a%00b\""), std::string::npos);
    EXPECT_NE(text.find(">Before</A>"), std::string::npos);
    const std::vector<BookmarkRecord> back = ImportHtml(path);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].url, L"https://n.example/a%00b");
    EXPECT_EQ(back[0].title, L"Before");
}

TEST(HtmlExport, EmptyListGivesAnEmptyOuterList) {
    TempDir dir;
    ASSERT_TRUE(ExportHtml({}, dir / L"empty.html", nullptr));
    EXPECT_EQ(ReadTextFile(dir / L"empty.html"),
              "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
              "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
              "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n</DL><p>\n");
}

TEST(HtmlEntities, EscapeAndUnescape) {
    EXPECT_EQ(HtmlEscape(L"a&b<c>d\"e'f"), L"a&amp;b&lt;c&gt;d&quot;e'f");
    // HTML text cannot hold a NUL: browsers' parsers drop it, so the export does.
    EXPECT_EQ(HtmlEscape(std::wstring(L"Be\0fore", 7)), L"Before");
    const struct {
        std::wstring in, out;
    } cases[] = {
        {L"&amp;lt;", L"&lt;"},  // one pass: the result is not decoded again
        {L"&#39;;", L"';"},
        {L"&nbsp; &#x27; &#34; &AMP;", L"&nbsp; &#x27; &#34; &AMP;"},
        {L"&quot;x&quot; &gt;&lt; &amp;", L"\"x\" >< &"},
        {L"& &amp &", L"& &amp &"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(HtmlUnescape(c.in), c.out) << ToUtf8(c.in);
}

TEST(HtmlImport, ScannerCases) {
    const struct {
        const char* name;
        std::string body;
        std::vector<Entry> want;
    } cases[] = {
        {"lower-case tags", R"(<dl><p><dt><h3 add_date="0">Dev</h3><dl><p><dt><a href="https://l/">Low</a></dl></dl>)",
         {{L"Dev", L"https://l/", L"Low"}}},
        {"apostrophe-quoted HREF, case kept", "<DL><DT><A HREF='https://A/Q' ADD_DATE=\"1\">Apos</A></DL>",
         {{L"", L"https://A/Q", L"Apos"}}},
        {"unquoted HREF and no HREF are skipped up to their closing tag",
         R"(<A HREF=https://u/>Unquoted <A NAME="n">no href</A><A HREF = "https://s/">spaced</A><A HREF="https://k/">Kept</A>)",
         {{L"", L"https://k/", L"Kept"}}},
        {"the HREF attribute, not a name that ends in href", R"(<A data-href="https://data/" HREF="https://real/">D</A>)",
         {{L"", L"https://real/", L"D"}}},
        {"tab after A, tags inside the title", "<A\tHREF=\"https://t/\">a <b>bold</b> one</A>",
         {{L"", L"https://t/", L"a <b>bold</b> one"}}},
        {"an unclosed quote runs on to the next, as in a browser", R"(<A HREF="https://x/>X</A><A HREF="https://y/">Y</A>)",
         {{L"", L"https://x/>X</A><A HREF=", L"Y"}}},
        {"a bookmarklet's '>' inside its quoted address", R"js(<A HREF="javascript:if(1>0)alert('<b> x')">B</A>)js",
         {{L"", L"javascript:if(1>0)alert('<b> x')", L"B"}}},
        {"a link without its closing tag does not swallow the next one",
         "<DL><DT><A HREF=\"https://1/\">One\n<DT><A HREF=\"https://2/\">Two</A></DL>",
         {{L"", L"https://1/", L""}, {L"", L"https://2/", L"Two"}}},
        {"closing tags match in any case",
         R"(<a href="https://m1/">m1</A><A HREF="https://m2/">m2</a><A HREF="https://m3/">m3</A>)",
         {{L"", L"https://m1/", L"m1"}, {L"", L"https://m2/", L"m2"}, {L"", L"https://m3/", L"m3"}}},
        {"a heading without a list is no folder; of two headings the second names the list",
         R"(<DL><DT><H3>Lone</H3><DT><A HREF="https://a/">A</A><H3>First</H3><H3>Second</H3><DL><A HREF="https://b/">B</A></DL></DL>)",
         {{L"", L"https://a/", L"A"}, {L"Second", L"https://b/", L"B"}}},
        {"a heading without its closing tag gives an unnamed folder and keeps its links",
         R"(<DL><H3>Broken<DL><A HREF="https://h/">H</A></DL></DL>)", {{L"", L"https://h/", L"H"}}},
        {"surplus </DL> is ignored",
         R"(</DL></DL><DL><H3>F</H3><DL></DL></DL></DL><A HREF="https://s1/">S1</A><H3>G</H3><DL><A HREF="https://s2/">S2</A>)",
         {{L"", L"https://s1/", L"S1"}, {L"G", L"https://s2/", L"S2"}}},
        {"missing </DL> leaves later links in the deeper folder",
         R"(<DL><H3>F</H3><DL><A HREF="https://a/">A</A><H3>G</H3><DL><A HREF="https://b/">B</A></DL><A HREF="https://c/">C</A>)",
         {{L"F", L"https://a/", L"A"}, {L"F/G", L"https://b/", L"B"}, {L"F", L"https://c/", L"C"}}},
        {"entities in url, title and folder name",
         R"(<H3>R&amp;D &#39;x&#39;</H3><DL><A HREF="https://e/?a=1&amp;b=2">&amp;lt; &#39;; &nbsp; &#x27; &quot;q&quot;</A></DL>)",
         {{L"R&D 'x'", L"https://e/?a=1&b=2", L"&lt; '; &nbsp; &#x27; \"q\""}}},
        {"a '/' in a folder name stays in the path", R"(<H3>A/B</H3><DL><A HREF="https://p/">P</A></DL>)",
         {{L"A/B", L"https://p/", L"P"}}},
        {"root marker in any letter case",
         R"(<DL><DT><H3 personal_toolbar_folder="TRUE">Bar</H3><DL><A HREF="https://t/">T</A></DL><A HREF="https://o/">O</A></DL>)",
         {{L"Bookmarks bar", L"https://t/", L"T"}, {L"Other bookmarks", L"https://o/", L"O"}}},
        {"a marker set to false in any letter case marks nothing",
         R"(<DL><DT><H3 PERSONAL_TOOLBAR_FOLDER="FALSE">Bar</H3><DL><A HREF="https://f/">F</A></DL></DL>)",
         {{L"Bar", L"https://f/", L"F"}}},
        {"invalid UTF-8 becomes U+FFFD", "<A HREF=\"https://i/\">a\xFF" "b</A>", {{L"", L"https://i/", L"a\uFFFDb"}}},
        {"a link without closing tag at the end of the file", R"(<A HREF="https://end/">End)",
         {{L"", L"https://end/", L""}}},
    };
    TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        const std::wstring path = dir / (L"case" + std::to_wstring(n++) + L".html");
        WriteTextFile(path, c.body);
        std::wstring error;
        EXPECT_EQ(Entries(ImportHtml(path, &error)), c.want) << c.name;
        EXPECT_EQ(error, L"") << c.name;
    }
}

TEST(HtmlImport, FilesWithoutLinksAndUnreadableFiles) {
    TempDir dir;
    const std::wstring noLinks = L"No <A HREF=...> bookmark entries found in this HTML file.";
    const struct {
        const char* name;
        std::string body;
    } cases[] = {
        {"folders only", "<DL><p><DT><H3>A</H3><DL><p><DT><H3>B</H3><DL><p></DL><p></DL><p></DL><p>"},
        {"links without usable url", "<A HREF=x>x</A><A>y</A>"},
        {"a JSON export under an html name", R"({"bookmarks":[{"url":"https://x/","title":"<A HREF>"}]})"},
    };
    for (const auto& c : cases) {
        WriteTextFile(dir / L"f.html", c.body);
        std::wstring error;
        EXPECT_TRUE(ImportHtml(dir / L"f.html", &error).empty()) << c.name;
        EXPECT_EQ(error, noLinks) << c.name;
        EXPECT_TRUE(ImportHtml(dir / L"f.html", nullptr).empty()) << c.name;
    }
    std::wstring error;
    EXPECT_TRUE(ImportHtml(dir / L"missing.html", &error).empty());
    EXPECT_EQ(error, L"The file was not found.");
    EXPECT_TRUE(ImportHtml(dir / L"missing.html", nullptr).empty());
}

std::string CrLfLines(const std::vector<std::string>& lines) {
    std::string file;
    for (const std::string& line : lines) file += line + "\r\n";
    return file;
}

// Laid out as Chromium's exporter writes it: Windows line ends, the bar as a folder marked
// PERSONAL_TOOLBAR_FOLDER, the contents of "Other bookmarks" (and of the mobile root) at the top level.
TEST(HtmlImport, ChromiumExportLayout) {
    const std::string file = CrLfLines({
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>",
        "<!-- This is an automatically generated file.",
        "     It will be read and overwritten.",
        "     DO NOT EDIT! -->",
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">",
        "<TITLE>Bookmarks</TITLE>",
        "<H1>Bookmarks</H1>",
        "<DL><p>",
        "    <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000500\" PERSONAL_TOOLBAR_FOLDER=\"true\">"
        "Lesezeichenleiste</H3>",
        "    <DL><p>",
        "        <DT><A HREF=\"https://news.example.com/\" ADD_DATE=\"1700000001\" "
        "ICON=\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAABAAAAAQCAYAAAAf8/9hAAAA\">News</A>",
        "        <DT><H3 ADD_DATE=\"1700000002\" LAST_MODIFIED=\"1700000003\">Work</H3>",
        "        <DL><p>",
        "            <DT><A HREF=\"https://wiki.example.com/page?a=1&amp;b=2\" ADD_DATE=\"1700000004\">"
        "Wiki &amp; Docs</A>",
        "        </DL><p>",
        "        <DT><A HREF=\"https://after.example/\" ADD_DATE=\"1700000005\">After the folder</A>",
        "    </DL><p>",
        "    <DT><A HREF=\"https://other.example/\" ADD_DATE=\"1700000009\">Other</A>",
        "    <DT><H3 ADD_DATE=\"1700000006\" LAST_MODIFIED=\"0\">Mobile apps (menu)</H3>",
        "    <DL><p>",
        "        <DT><A HREF=\"https://x.example/\u00fc\" ADD_DATE=\"1700000007\">\xC3\x9Cn\xC3\xAF"
        "code \xE2\x9C\x93</A>",
        "    </DL><p>",
        "</DL><p>",
    });
    TempDir dir;
    WriteTextFile(dir / L"bookmarks_12_10_26.html", file);
    std::wstring error;
    std::wstring warning;
    const std::vector<Entry> want = {
        {L"Bookmarks bar", L"https://news.example.com/", L"News"},  // a localised bar name: the marker decides
        {L"Bookmarks bar/Work", L"https://wiki.example.com/page?a=1&b=2", L"Wiki & Docs"},
        {L"Bookmarks bar", L"https://after.example/", L"After the folder"},
        {L"Other bookmarks", L"https://other.example/", L"Other"},
        {L"Other bookmarks/Mobile apps (menu)", L"https://x.example/\u00fc", L"\u00dcn\u00efcode \u2713"},
    };
    EXPECT_EQ(Entries(ImportHtml(dir / L"bookmarks_12_10_26.html", &error, &warning)), want);
    EXPECT_EQ(error, L"");
    EXPECT_EQ(warning, L"");
    for (const Entry& entry : want) {
        const std::wstring root = ParseFolderPath(std::get<0>(entry)).root_key;
        EXPECT_EQ(root, std::get<0>(entry).rfind(L"Bookmarks bar", 0) == 0 ? L"bookmark_bar" : L"other");
    }
}

// Laid out as Firefox's exporter writes it: the H1 names the menu, whose items are the top level;
// the toolbar and unfiled roots follow as marked folders; separators, descriptions, tags, keywords.
TEST(HtmlImport, FirefoxExportLayout) {
    const std::string file =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
        "<!-- This is an automatically generated file.\n"
        "     It will be read and overwritten.\n"
        "     DO NOT EDIT! -->\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\"\n"
        "      content=\"default-src 'self'; script-src 'none'; img-src data: *; object-src 'none'\"></meta>\n"
        "<TITLE>Bookmarks</TITLE>\n"
        "<H1>Bookmarks Menu</H1>\n"
        "\n"
        "<DL><p>\n"
        "    <DT><A HREF=\"https://menu.example/Case?Q=Kept\" ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000001\" "
        "SHORTCUTURL=\"kw\">Menu item</A>\n"
        "    <HR>    <DT><H3 ADD_DATE=\"1700000002\" LAST_MODIFIED=\"1700000003\">Mobile apps (menu)</H3>\n"
        "    <DL><p>\n"
        "        <DT><A HREF=\"https://app.example/\" ADD_DATE=\"1700000004\">App</A>\n"
        "        <DD>A description\n"
        "    </DL><p>\n"
        "    <DT><H3 ADD_DATE=\"1700000005\" LAST_MODIFIED=\"1700000006\" PERSONAL_TOOLBAR_FOLDER=\"true\">"
        "Bookmarks Toolbar</H3>\n"
        "    <DL><p>\n"
        "        <DT><A HREF=\"https://toolbar.example/\" ADD_DATE=\"1700000007\" TAGS=\"a,b\">Toolbar</A>\n"
        // Firefox writes a bookmarklet's address as it is kept, '<', '>' and spaces unescaped.
        "        <DT><A HREF=\"javascript:(function(){if(1>0)alert('<b>x</b> %22y%22')})()\" ADD_DATE=\"1700000012\" "
        "ICON=\"data:image/png;base64,iVBORw0KGgo=\">Mark &amp; &quot;q&quot; &#39;s&#39; &lt;b&gt;</A>\n"
        "    </DL><p>\n"
        "    <DT><H3 ADD_DATE=\"1700000008\" LAST_MODIFIED=\"1700000009\" UNFILED_BOOKMARKS_FOLDER=\"true\">"
        "Other Bookmarks</H3>\n"
        "    <DL><p>\n"
        "        <DT><H3 ADD_DATE=\"1700000010\">Barbecue bookmarks</H3>\n"
        "        <DL><p>\n"
        "            <DT><A HREF=\"https://grill.example/\" ADD_DATE=\"1700000011\">Grill</A>\n"
        "        </DL><p>\n"
        "    </DL><p>\n"
        "</DL>\n";
    TempDir dir;
    WriteTextFile(dir / L"bookmarks.html", file);
    std::wstring error;
    std::wstring warning;
    const std::vector<Entry> want = {
        {L"Bookmarks Menu", L"https://menu.example/Case?Q=Kept", L"Menu item"},
        {L"Bookmarks Menu/Mobile apps (menu)", L"https://app.example/", L"App"},
        {L"Bookmarks Toolbar", L"https://toolbar.example/", L"Toolbar"},
        {L"Bookmarks Toolbar", L"javascript:(function(){if(1>0)alert('<b>x</b> %22y%22')})()", L"Mark & \"q\" 's' <b>"},
        {L"Other Bookmarks/Barbecue bookmarks", L"https://grill.example/", L"Grill"},
    };
    const std::vector<BookmarkRecord> records = ImportHtml(dir / L"bookmarks.html", &error, &warning);
    EXPECT_EQ(Entries(records), want);
    EXPECT_EQ(warning, L"");
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(ParseFolderPath(records[0].folder_path).root_key, L"other");
    EXPECT_EQ(ParseFolderPath(records[1].folder_path).segments, std::vector<std::wstring>{L"Mobile apps (menu)"});
    EXPECT_EQ(ParseFolderPath(records[2].folder_path).root_key, L"bookmark_bar");
    EXPECT_EQ(ParseFolderPath(records[4].folder_path).segments, std::vector<std::wstring>{L"Barbecue bookmarks"});

    // A localised Firefox names its menu in its own language: the unfiled marker still tells that the
    // top level is the menu.
    std::string localised = file;
    localised.replace(localised.find("<H1>Bookmarks Menu</H1>"), 23, "<H1>Lesezeichen-Men\xC3\xBC</H1>");
    WriteTextFile(dir / L"localised.html", localised);
    const std::vector<BookmarkRecord> again = ImportHtml(dir / L"localised.html", &error, &warning);
    ASSERT_EQ(again.size(), 5u);
    EXPECT_EQ(again[0].folder_path, L"Bookmarks Menu");
    EXPECT_EQ(again[1].folder_path, L"Bookmarks Menu/Mobile apps (menu)");
}

// The program's exports before root markers: top-level folders named after the roots, top-level links
// without a folder. They read as they always did.
TEST(HtmlImport, EarlierOwnExportsReadAsBefore) {
    const std::string file =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
        "<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n"
        "    <DT><A HREF=\"https://top/\" ADD_DATE=\"5\">Top</A>\n"
        "    <DT><H3 ADD_DATE=\"0\">Bookmarks bar</H3>\n    <DL><p>\n"
        "        <DT><A HREF=\"https://bar/\" ADD_DATE=\"5\">Bar</A>\n    </DL><p>\n"
        "    <DT><H3 ADD_DATE=\"0\">Other bookmarks</H3>\n    <DL><p>\n"
        "        <DT><A HREF=\"https://other/\" ADD_DATE=\"5\">Other</A>\n    </DL><p>\n"
        "    <DT><H3 ADD_DATE=\"0\">Work</H3>\n    <DL><p>\n"
        "        <DT><A HREF=\"https://work/\" ADD_DATE=\"5\">Work</A>\n    </DL><p>\n"
        "</DL><p>\n";
    TempDir dir;
    WriteTextFile(dir / L"old.html", file);
    std::wstring warning;
    EXPECT_EQ(Entries(ImportHtml(dir / L"old.html", nullptr, &warning)),
              (std::vector<Entry>{{L"", L"https://top/", L"Top"},
                                  {L"Bookmarks bar", L"https://bar/", L"Bar"},
                                  {L"Other bookmarks", L"https://other/", L"Other"},
                                  {L"Work", L"https://work/", L"Work"}}));
    EXPECT_EQ(warning, L"");
}

TEST(HtmlImport, DamagedFilesGiveWhatCanBeReadAndSaySo) {
    const std::string sound =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<H1>Bookmarks</H1>\n<DL><p>\n"
        "    <DT><H3>F</H3>\n    <DL><p>\n        <DT><A HREF=\"https://a/\">A</A>\n"
        "        <DT><A HREF=\"https://b/\">B</A>\n    </DL><p>\n"
        "    <DT><A HREF=\"https://c/\">C</A>\n</DL><p>\n";
    const struct {
        const char* name;
        std::string body;
        std::vector<Entry> want;
        const wchar_t* says;  // part of the warning; nullptr for a sound file
    } cases[] = {
        {"sound", sound, {{L"F", L"https://a/", L"A"}, {L"F", L"https://b/", L"B"}, {L"", L"https://c/", L"C"}}, nullptr},
        {"cut inside a tag", sound.substr(0, sound.find("https://b/") + 5), {{L"F", L"https://a/", L"A"}},
         L"The file ended early, in the middle of a tag."},
        {"cut after a whole line", sound.substr(0, sound.find("        <DT><A HREF=\"https://b/")),
         {{L"F", L"https://a/", L"A"}}, L"The file ended early: 2 folder list(s) were never closed."},
        {"cut inside a title", sound.substr(0, sound.find(">B<") + 2),
         {{L"F", L"https://a/", L"A"}, {L"F", L"https://b/", L""}}, L"without their closing tag"},
        {"a list end too many", "<DL><p></DL><p></DL><p><DT><A HREF=\"https://x/\">X</A>", {{L"", L"https://x/", L"X"}},
         L"The file is unbalanced: 1 folder list end(s) without a start."},
        {"a missing list end", "<DL><p><DT><H3>F</H3><DL><p><DT><A HREF=\"https://x/\">X</A></DL><p>",
         {{L"F", L"https://x/", L"X"}}, L"1 folder list(s) were never closed."},
        {"a heading without its end", "<DL><p><DT><H3>F<DL><p><DT><A HREF=\"https://x/\">X</A></DL><p></DL><p>",
         {{L"", L"https://x/", L"X"}}, L"1 link(s) or folder name(s) without their closing tag."},
        {"cut to nothing but a tag start", "<DL><p><DT><A HREF=\"https://x/", {}, L"in the middle of a tag"},
        // Damage that loses a link or a folder without leaving a list or tag open.
        {"a link's start tag misspelt", "<DL><p><DT><Q HREF=\"https://q/\">Q</A><DT><A HREF=\"https://x/\">X</A></DL><p>",
         {{L"", L"https://x/", L"X"}}, L"1 closing tag(s) of a link or folder name without its start."},
        {"an address without its quotes", "<DL><p><DT><A HREF=#https://q/#>Q</A><DT><A HREF=\"https://x/\">X</A></DL><p>",
         {{L"", L"https://x/", L"X"}}, L"The file is damaged: 1 link(s) without an address."},
        {"a folder name without its list",
         "<DL><p><DT><H3>F</H3><DT><A HREF=\"https://x/\">X</A></DL><p>", {{L"", L"https://x/", L"X"}},
         L"The file is damaged: 1 folder name(s) without the folder's list."},
        // Markup taken for text: what browsers always escape, met raw, says where.
        {"markup in a title", "<DL><p>\n<DT><A HREF=\"https://a/\"><p>\n >Docs \"quoted\"</A></DL><p>",
         {{L"", L"https://a/", L"<p>\n >Docs \"quoted\""}},
         L"The file is damaged: 1 title(s) or folder name(s) hold markup or quotes that browsers always escape (the "
         L"first on line 2)."},
        {"a tag cut inside its attributes", "<DL><p>\n\n<DT><A HREF=\"https://d/\" ADD_DA>TE=\"1700000002\">Tief &lt;3&gt;</A></DL><p>",
         {{L"", L"https://d/", L"TE=\"1700000002\">Tief <3>"}}, L"(the first on line 3)"},
        {"markup in a folder name",
         "<DL><p><DT><H3>Bookmarks bar/\n </00000\">Work</H3><DL><p><DT><A HREF=\"https://w/\">W</A></DL><p></DL><p>",
         {{L"Bookmarks bar/\n </00000\">Work", L"https://w/", L"W"}}, L"hold markup or quotes"},
        {"markup in an address", "<DL><p><DT><A HREF=\"https://docs<H3 ADD_DATE=\"1700000000\">D</A></DL><p>",
         {{L"", L"https://docs<H3 ADD_DATE=", L"D"}},
         L"The file is damaged: 1 address(es) hold characters that no browser keeps in an address (the first on line "
         L"1)."},
        {"a space in an address", "<DL><p><DT><A HREF=\"https://exa mple/\">S</A></DL><p>",
         {{L"", L"https://exa mple/", L"S"}}, L"no browser keeps in an address"},
        {"a quote lost: the link after it runs into a value, as in a browser",
         "<DL><p><DT><A HREF=\"https://a/\" ADD_DATE=\"1>A</A>\n<DT><A HREF=\"https://b/\">B</A></DL><p>",
         {{L"", L"https://a/", L"B"}},
         L"The file is damaged: 1 tag(s) whose quotes do not pair, so that a browser reads other links or folders "
         L"there (the first on line 1)."},
        {"a control character in a list's tag name",
         "<DL><p><DT><H3>F</H3><D\x01L><p><DT><A HREF=\"https://x/\">X</A></DL><p></DL><p>", {{L"", L"https://x/", L"X"}},
         L"1 folder name(s) without the folder's list."},
        {"a title never closed", "<TITLE>Bookmarks<DL><p><DT><A HREF=\"https://x/\">X</A></DL><p>",
         {{L"", L"https://x/", L"X"}}, L"its TITLE (or another element whose content is text) is never closed"},
    };
    TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        const std::wstring path = dir / (L"damaged" + std::to_wstring(n++) + L".html");
        WriteTextFile(path, c.body);
        std::wstring error;
        std::wstring warning;
        EXPECT_EQ(Entries(ImportHtml(path, &error, &warning)), c.want) << c.name;
        if (c.says) {
            EXPECT_NE(warning.find(c.says), std::wstring::npos) << c.name << ": " << ToUtf8(warning);
            EXPECT_NE(warning.find(L"Only what could be read was imported"), std::wstring::npos) << c.name;
        } else {
            EXPECT_EQ(warning, L"") << c.name;
        }
        EXPECT_EQ(error.empty(), !c.want.empty()) << c.name;
        // The same bytes in memory read the same way.
        std::wstring memoryWarning;
        EXPECT_EQ(Entries(ParseHtmlBookmarks(c.body, nullptr, &memoryWarning)), c.want) << c.name;
        EXPECT_EQ(memoryWarning, warning) << c.name;
    }
}

TEST(HtmlImport, NestingIsBoundedWithoutRecursion) {
    auto nested = [](const std::string& outer, size_t depth, int links) {
        std::string file = outer;
        for (size_t i = 0; i < depth; ++i) file += "<DT><H3>f</H3><DL><p>";
        for (int i = 0; i < links; ++i) file += "<DT><A HREF=\"https://l/" + std::to_string(i) + "\">L</A>";
        for (size_t i = 0; i < depth; ++i) file += "</DL><p>";
        return file;
    };
    // Folders are counted below their root, as the stores count them: a list without a root (the
    // bookmarks bar's, by the rule of every store), Firefox's menu at the top level, a marked root.
    const std::string layouts[] = {"", "<H1>Bookmarks Menu</H1><DL><p>",
                                   "<DL><p><DT><H3 PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks bar</H3><DL><p>"};
    TempDir dir;
    for (const std::string& outer : layouts) {
        std::wstring error;
        std::wstring warning;
        // As deep as is accepted: every link, with its whole path.
        WriteTextFile(dir / L"deepest.html", nested(outer, kDeepestFolderNesting, 50));
        const std::vector<BookmarkRecord> records = ImportHtml(dir / L"deepest.html", &error, &warning);
        ASSERT_EQ(records.size(), 50u) << outer << ": " << ToUtf8(error);
        EXPECT_EQ(FoldersBelowRoot(records.back().folder_path), kDeepestFolderNesting) << outer;
        // One level more, and a hundred thousand levels: refused with the reason, nothing imported.
        for (size_t depth : {kDeepestFolderNesting + 1, size_t{100000}}) {
            WriteTextFile(dir / L"deeper.html", nested(outer, depth, 2000));
            error.clear();
            EXPECT_TRUE(ImportHtml(dir / L"deeper.html", &error).empty()) << depth;
            EXPECT_EQ(error, L"The file nests folders more than 1000 levels below a root, deeper than any browser "
                             L"writes; nothing was imported.")
                << outer << " " << depth;
        }
    }
}

TEST(HtmlExport, FailureLeavesTheTargetAsItWas) {
    TempDir dir;
    const std::vector<BookmarkRecord> records = {Record(L"https://a/", L"A", L"", 1)};
    std::wstring error;
    EXPECT_FALSE(ExportHtml(records, dir / L"no such folder\\out.html", &error));
    EXPECT_EQ(error, L"Could not open destination file for writing.");
    EXPECT_FALSE(ExportHtml(records, dir / L"no such folder\\out.html", nullptr));

    const std::wstring target = dir / L"kept.html";
    WriteTextFile(target, "previous export");
    test::SetReadOnly(target, true);
    error.clear();
    EXPECT_FALSE(ExportHtml(records, target, &error));
    EXPECT_EQ(error, L"Could not open destination file for writing.");
    test::SetReadOnly(target, false);
    EXPECT_EQ(ReadTextFile(target), "previous export");

    // Held open by another program without sharing.
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ExportHtml(records, target, &error));
    CloseHandle(held);
    EXPECT_EQ(ReadTextFile(target), "previous export");

    // No temporary file is left beside it.
    int files = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir / L"*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++files;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace bm
