// A seeded mutation run over the Netscape bookmark HTML import: no crash, no escaping exception, and
// a file cut short is never reported as plain success: it gives an error, or what could be read
// together with a warning.

#include <gtest/gtest.h>

#include <iostream>

#include "core/html_bookmarks.h"
#include "tests/support/mutator.h"
#include "tests/support/small_stack.h"
#include "tests/support/temp_dir.h"

namespace bm {
namespace {

using test::Mutant;
using test::Mutator;

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
    const std::vector<Mutant> cases = test::AllCutsThenRandom(original, mutator, 2000);
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
            if (!error.empty() && !records.empty()) run.Fault("records with an error", mutant);
            for (const BookmarkRecord& r : records)
                if (r.url.empty()) run.Fault("empty url", mutant);
        }
    });
    std::cout << run.Summary("HTML") << "\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("HTML");
}

}  // namespace
}  // namespace bm
