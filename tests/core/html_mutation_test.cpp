// A seeded mutation run over the Netscape bookmark HTML import: no crash, no escaping exception, a
// file cut short is never reported as plain success (it gives an error, or what could be read
// together with a warning), and no case reads as fewer links without an error or a warning unless
// it is still a well-formed file holding just those links.

#include <gtest/gtest.h>

#include <cctype>
#include <iostream>
#include <optional>

#include "core/html_bookmarks.h"
#include "tests/support/mutator.h"
#include "tests/support/small_stack.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::Mutant;
using test::Mutator;

// Whether `text` holds the tag `name` (lower case, e.g. "</a") at `at`: the name in any letter case,
// then white space or '>'.
bool TagAt(const std::string& text, size_t at, const std::string& name) {
    if (text.size() - at <= name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != name[i]) return false;
    const char next = text[at + name.size()];
    return next == '>' || next == ' ' || next == '\t' || next == '\r' || next == '\n';
}

// How many links a well-formed bookmark file holds, or nothing when it is not well-formed: every
// tag closed by '>', lists balanced and the outer one closed, every link and folder name closed
// before the next structural tag, every link with a quoted address, every folder name followed by
// its list. Browsers read such a file, and only such a file, as exactly its links: a case that
// loses links without being one is damage that must be reported.
std::optional<size_t> WellFormedLinks(const std::string& text) {
    size_t links = 0, depth = 0, lists = 0;
    bool inLink = false, inName = false, nameWaitsForList = false;
    for (size_t lt = text.find('<'); lt != std::string::npos; lt = text.find('<', lt + 1)) {
        const size_t gt = text.find('>', lt);
        if (gt == std::string::npos) return std::nullopt;
        const std::string tag = text.substr(lt, gt - lt + 1);
        const bool open = TagAt(text, lt, "<dl") || TagAt(text, lt, "<a") || TagAt(text, lt, "<h3");
        const bool close = TagAt(text, lt, "</dl") || TagAt(text, lt, "</a") || TagAt(text, lt, "</h3");
        if (!open && !close) continue;
        if (TagAt(text, lt, "</a")) {
            if (!inLink) return std::nullopt;
            inLink = false;
            ++links;
            continue;
        }
        if (TagAt(text, lt, "</h3")) {
            if (!inName) return std::nullopt;
            inName = false;
            nameWaitsForList = true;
            continue;
        }
        if (inLink || inName) return std::nullopt;
        if (TagAt(text, lt, "<dl")) {
            ++depth;
            ++lists;
            nameWaitsForList = false;
            continue;
        }
        if (nameWaitsForList) return std::nullopt;
        if (TagAt(text, lt, "</dl")) {
            if (depth == 0) return std::nullopt;
            --depth;
        } else if (TagAt(text, lt, "<a")) {
            std::string lower = tag;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const size_t href = lower.find(" href=");
            if (href == std::string::npos) return std::nullopt;
            const char quote = tag[href + 6];
            if (quote != '"' && quote != '\'') return std::nullopt;
            const size_t end = tag.find(quote, href + 7);
            if (end == std::string::npos || end == href + 7) return std::nullopt;
            inLink = true;
        } else {
            inName = true;
        }
    }
    if (depth != 0 || lists == 0 || inLink || inName || nameWaitsForList) return std::nullopt;
    return links;
}

// Shaped as browsers export it; it ends with the closing tag of the outermost list, so that every
// shorter prefix lacks at least part of that tag.
const char kHtmlFixture[] = R"(<!DOCTYPE NETSCAPE-Bookmark-file-1>
<!-- This is an automatically generated file.
     It will be read and overwritten.
     DO NOT EDIT! -->
<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">
<TITLE>Bookmarks</TITLE>
<H1>Bookmarks</H1>
<DL><p>
    <DT><H3 ADD_DATE="1700000000" LAST_MODIFIED="1700000000" PERSONAL_TOOLBAR_FOLDER="true">Bookmarks bar</H3>
    <DL><p>
        <DT><A HREF="https://docs.example.org/a?b=c&amp;d" ADD_DATE="1700000000">Docs &quot;quoted&quot;</A>
        <DT><H3 ADD_DATE="1700000000">Work</H3>
        <DL><p>
            <DT><A HREF="https://work.example/" ADD_DATE="1700000001">Work item</A>
            <DT><H3>Inner</H3>
            <DL><p>
                <DT><A HREF="https://deep.example/%C3%A4" ADD_DATE="1700000002">Tief &lt;3&gt;</A>
            </DL><p>
        </DL><p>
    </DL><p>
    <DT><H3 ADD_DATE="1700000000">Other bookmarks</H3>
    <DL><p>
        <DT><A HREF="https://пример.рф/" ADD_DATE="1700000003">Закладка</A>
        <DT><A HREF="https://m.example/" ADD_DATE="1700000004">Phone</A>
    </DL><p>
</DL>)";

TEST(MutationRun, NetscapeHtmlImport) {
    test::TempDir dir;
    const std::wstring file = dir / L"bookmarks.html";
    const std::string original = kHtmlFixture;
    test::WriteTextFile(file, original);
    {
        std::wstring error, warning;
        ASSERT_EQ(ImportHtml(file, &error, &warning).size(), 5u);
        ASSERT_EQ(error, L"");
        ASSERT_EQ(warning, L"");
    }

    Mutator mutator(0x5EED0005, {"<>/\"=&;# \npDLTAH",
                                 {{"<DL><p>", "</DL><p>"},
                                  {"<DT><H3>f</H3>\n<DL><p>\n", "</DL><p>\n"},
                                  {"<DT><H3>f</H3><DL><p><DT><A HREF=\"https://n.example/\">n</A>", "</DL><p>"}}});
    const std::vector<Mutant> cases = test::AllCutsThenRandom(original, mutator, 3700);
    test::MutationTally run;
    test::RunWithStack(test::kSmallStack, [&] {
        for (size_t i = 0; i < cases.size(); ++i) {
            const Mutant& mutant = cases[i];
            ++run.cases;
            // From memory, and every tenth case through a real file.
            const bool throughFile = i % 10 == 0;
            if (throughFile) test::WriteTextFile(file, mutant.bytes);
            std::wstring error, warning;
            std::vector<BookmarkRecord> records;
            try {
                records = throughFile ? ImportHtml(file, &error, &warning)
                                      : ParseHtmlBookmarks(mutant.bytes, &error, &warning);
            } catch (...) {
                run.Fault("import threw", mutant);
                continue;
            }
            const bool plain = error.empty() && warning.empty();
            ++(plain ? run.accepted : run.refused);
            if (plain && mutant.cutShort) run.Fault("cut short reported as plain success", mutant);
            if (plain) run.CheckNotLess(mutant, records.size(), 5, WellFormedLinks(mutant.bytes));
            if (!error.empty() && !records.empty()) run.Fault("records with an error", mutant);
            for (const BookmarkRecord& r : records)
                if (r.url.empty()) run.Fault("empty url", mutant);
        }
    });
    std::cout << run.Summary("HTML") << "\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("HTML");
    EXPECT_GT(run.accepted, 100u);
}

}  // namespace
}  // namespace bm
