// A seeded mutation run over the Netscape bookmark HTML import: no crash, no escaping exception, a
// file cut short is never reported as plain success (it gives an error, or what could be read
// together with a warning), and every case read without an error or a warning is a sound file read
// exactly as an independent, browser-like reading of it reads it.

#include <gtest/gtest.h>

#include <cctype>
#include <cwctype>
#include <utility>
#include <vector>
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

// An independent reading of a bookmark file, as a browser's HTML parser tokenizes it (quoted
// attribute values may hold '>', a '<' that no letter follows is text, comments end at "-->", a
// TITLE's content is text), with the program's rules for roots on top. It reads only a sound file,
// and gives nothing for any other: every tag closed, lists balanced and the outer one closed, every
// link and folder name closed before the next tag, every link with a quoted HREF, every folder name
// followed by its list, and no text, address or attribute holding what browsers' exporters always
// escape (raw '<', '>' or '"' in a title or name; a control character or '"' in an address, and a
// space, '<' or '>' in one but of an opaque scheme, a bookmarklet's; '<', '>' or a line break in
// another attribute).
namespace reference {

struct Attribute {
    std::string name, value;
    bool quoted = false, spaced = false;
};

struct Token {
    enum Kind { kText, kStart, kEnd } kind = kText;
    std::string name;  // lower case
    std::vector<Attribute> attributes;
    std::string text;  // a text token as written
};

bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The tokens of `text`, or nothing when it ends inside a tag, a comment or a raw-text element.
std::optional<std::vector<Token>> Tokens(const std::string& text) {
    std::vector<Token> tokens;
    size_t i = 0;
    auto addText = [&](size_t from, size_t to) {
        if (to <= from) return;
        if (tokens.empty() || tokens.back().kind != Token::kText) tokens.push_back({});
        tokens.back().text += text.substr(from, to - from);
    };
    while (i < text.size()) {
        const size_t lt = text.find('<', i);
        if (lt == std::string::npos) {
            addText(i, text.size());
            break;
        }
        addText(i, lt);
        const char next = lt + 1 < text.size() ? text[lt + 1] : '\0';
        if (text.compare(lt, 4, "<!--") == 0) {
            size_t end;
            if (text.compare(lt + 4, 1, ">") == 0) end = lt + 2;
            else if (text.compare(lt + 4, 2, "->") == 0) end = lt + 3;
            else end = text.find("-->", lt + 4);
            if (end == std::string::npos) return std::nullopt;
            i = end + 3;
            continue;
        }
        const bool end = next == '/';
        const size_t nameAt = lt + (end ? 2 : 1);
        if (nameAt >= text.size() || !IsLetter(text[nameAt])) {
            if (next == '!' || next == '?' || end) {  // a bogus comment, up to the next '>'
                const size_t gt = text.find('>', lt);
                if (gt == std::string::npos) return std::nullopt;
                i = gt + 1;
            } else {
                addText(lt, lt + 1);
                i = lt + 1;
            }
            continue;
        }
        Token tag;
        tag.kind = end ? Token::kEnd : Token::kStart;
        size_t p = nameAt;
        while (p < text.size() && !IsWhite(text[p]) && text[p] != '/' && text[p] != '>') tag.name += Lower(text[p++]);
        for (;;) {
            while (p < text.size() && (IsWhite(text[p]) || text[p] == '/')) ++p;
            if (p >= text.size()) return std::nullopt;
            if (text[p] == '>') break;
            Attribute attribute;
            attribute.name += Lower(text[p++]);
            while (p < text.size() && !IsWhite(text[p]) && text[p] != '/' && text[p] != '>' && text[p] != '=')
                attribute.name += Lower(text[p++]);
            const size_t afterName = p;
            while (p < text.size() && IsWhite(text[p])) ++p;
            if (p < text.size() && text[p] == '=') {
                attribute.spaced = p != afterName || (p + 1 < text.size() && IsWhite(text[p + 1]));
                ++p;
                while (p < text.size() && IsWhite(text[p])) ++p;
                if (p < text.size() && (text[p] == '"' || text[p] == '\'')) {
                    const size_t close = text.find(text[p], p + 1);
                    if (close == std::string::npos) return std::nullopt;
                    attribute.value = text.substr(p + 1, close - p - 1);
                    attribute.quoted = true;
                    p = close + 1;
                } else {
                    while (p < text.size() && !IsWhite(text[p]) && text[p] != '>') attribute.value += text[p++];
                }
            }
            tag.attributes.push_back(attribute);
        }
        i = p + 1;
        const bool rawText = tag.kind == Token::kStart &&
                             (tag.name == "title" || tag.name == "style" || tag.name == "script" || tag.name == "textarea");
        const std::string rawName = tag.name;
        tokens.push_back(std::move(tag));
        if (rawText) {
            // Text up to its own end tag, which the loop then reads.
            size_t close = i;
            for (;; ++close) {
                close = text.find("</", close);
                if (close == std::string::npos) return std::nullopt;
                bool named = text.size() - close - 2 >= rawName.size();
                for (size_t k = 0; named && k < rawName.size(); ++k) named = Lower(text[close + 2 + k]) == rawName[k];
                const size_t after = close + 2 + rawName.size();
                if (named && (after >= text.size() || IsWhite(text[after]) || text[after] == '/' || text[after] == '>'))
                    break;
            }
            addText(i, close);
            i = close;
        }
    }
    return tokens;
}

// The five entities exporters write, each with its ';'.
std::wstring Decode(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        bool decoded = false;
        for (const auto& [entity, c] : {std::pair<const char*, char>{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'},
                                         {"&quot;", '"'}, {"&#39;", '\''}}) {
            const size_t length = std::char_traits<char>::length(entity);
            if (raw.compare(i, length, entity) == 0) {
                out += c;
                i += length - 1;
                decoded = true;
                break;
            }
        }
        if (!decoded) out += raw[i];
    }
    return ToWide(out);
}

const Attribute* Find(const Token& tag, const std::string& name) {
    for (const Attribute& a : tag.attributes)
        if (a.name == name) return &a;
    return nullptr;
}

// A scheme other than the special ones, whose addresses keep space, '<' and '>' as typed.
bool Opaque(const std::wstring& url) {
    const size_t colon = url.find(L':');
    if (colon == 0 || colon == std::wstring::npos || !std::iswalpha(url[0]) || url[0] > 0x7F) return false;
    for (size_t k = 1; k < colon; ++k)
        if (url[k] > 0x7F || !(std::iswalnum(url[k]) || url[k] == L'+' || url[k] == L'-' || url[k] == L'.')) return false;
    const std::wstring scheme = ToLower(url.substr(0, colon));
    for (const wchar_t* special : {L"http", L"https", L"ftp", L"ws", L"wss", L"file"})
        if (scheme == special) return false;
    return true;
}

bool SoundAttributes(const Token& tag) {
    for (const Attribute& a : tag.attributes) {
        if (a.name.find_first_of("<\"'") != std::string::npos) return false;
        const bool bookmarklet = a.name == "href" && Opaque(Decode(a.value));
        if (a.value.find_first_of(bookmarklet ? "\r\n" : "<>\r\n") != std::string::npos) return false;
    }
    return true;
}

const char* Marker(const Token& h3) {
    for (const auto& [name, key] : {std::pair<const char*, const char*>{"personal_toolbar_folder", "bookmark_bar"},
                                    {"unfiled_bookmarks_folder", "other"}}) {
        const Attribute* a = Find(h3, name);
        if (a && ToLower(ToWide(a->value)) != L"false") return key;
    }
    return nullptr;
}

std::optional<std::vector<BookmarkRecord>> Reading(const std::string& bytes) {
    const auto tokens = Tokens(bytes);
    if (!tokens) return std::nullopt;
    struct List {
        std::wstring name;
        bool root = false;
    };
    std::vector<List> lists;
    size_t listsSeen = 0;
    std::vector<BookmarkRecord> links;
    std::vector<bool> atTop;
    bool inLink = false, inName = false, inHeading = false, headingSeen = false, pending = false;
    bool toolbarMarked = false, unfiledMarked = false;
    const char* pendingMarker = nullptr;
    std::string raw;
    std::wstring pendingName, heading, url;
    for (const Token& t : *tokens) {
        if (t.kind == Token::kText) {
            if (inLink || inName || inHeading) raw += t.text;
            continue;
        }
        const bool start = t.kind == Token::kStart;
        // The heading names the top level's root when its text is closed by its own end tag; it
        // gives no structure, so a heading left open is no damage.
        if (inHeading) {
            inHeading = false;
            if (!start && t.name == "h1") {
                heading = Decode(raw);
                continue;
            }
        }
        if ((inLink && !(t.kind == Token::kEnd && t.name == "a")) || (inName && !(t.kind == Token::kEnd && t.name == "h3")))
            return std::nullopt;  // a tag inside a title or folder name
        if (start && t.name == "a") {
            if (pending) return std::nullopt;
            const Attribute* href = Find(t, "href");
            if (!href || !href->quoted || href->spaced || href->value.empty() || !SoundAttributes(t)) return std::nullopt;
            url = Decode(href->value);
            const bool opaque = Opaque(url);
            for (wchar_t c : url)
                if (c < 0x20 || c == 0x7F || c == L'"' || (!opaque && (c == L' ' || c == L'<' || c == L'>')))
                    return std::nullopt;
            inLink = true;
            raw.clear();
        } else if (!start && t.name == "a") {
            if (!inLink || raw.find_first_of("<>\"") != std::string::npos) return std::nullopt;
            std::wstring path;
            for (const List& list : lists) {
                if (list.name.empty()) continue;
                if (!path.empty()) path += L'/';
                path += list.name;
            }
            links.push_back({0, 0, url, Decode(raw), path, 0});
            atTop.push_back(lists.size() < 2 || !lists[1].root);
            inLink = false;
        } else if (start && t.name == "h3") {
            if (pending || !SoundAttributes(t)) return std::nullopt;
            pendingMarker = Marker(t);
            inName = true;
            raw.clear();
        } else if (!start && t.name == "h3") {
            if (!inName || raw.find_first_of("<>\"") != std::string::npos) return std::nullopt;
            pendingName = Decode(raw);
            pending = true;
            inName = false;
        } else if (start && t.name == "h1" && !headingSeen) {
            inHeading = headingSeen = true;
            raw.clear();
        } else if (start && t.name == "dl") {
            List list{pending ? pendingName : L"", false};
            if (lists.size() == 1) {
                const std::wstring key = pending && pendingMarker ? ToWide(pendingMarker) : CanonicalRootKey(list.name);
                if (!key.empty()) {
                    list.root = true;
                    if (pending && pendingMarker) {
                        (key == L"bookmark_bar" ? toolbarMarked : unfiledMarked) = true;
                        if (CanonicalRootKey(list.name) != key) list.name = RootLabel(key);
                    }
                }
            }
            lists.push_back(list);
            ++listsSeen;
            pending = false;
            pendingMarker = nullptr;
        } else if (!start && t.name == "dl") {
            if (pending || lists.empty()) return std::nullopt;
            lists.pop_back();
        } else if (!start && (t.name == "h3" || t.name == "a")) {
            return std::nullopt;
        }
    }
    if (!lists.empty() || listsSeen == 0 || inLink || inName || pending) return std::nullopt;
    std::wstring topRoot = !CanonicalRootKey(heading).empty() ? heading
                           : unfiledMarked                   ? L"Bookmarks Menu"
                           : toolbarMarked                   ? L"Other bookmarks"
                                                             : L"";
    if (!topRoot.empty())
        for (size_t k = 0; k < links.size(); ++k)
            if (atTop[k]) links[k].folder_path = links[k].folder_path.empty() ? topRoot : topRoot + L'/' + links[k].folder_path;
    return links;
}

}  // namespace reference

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
        const std::vector<BookmarkRecord> records = ImportHtml(file, &error, &warning);
        ASSERT_EQ(records.size(), 5u);
        ASSERT_EQ(error, L"");
        ASSERT_EQ(warning, L"");
        // The judge reads the fixture as the import does.
        test::MutationTally check;
        check.CheckSame({}, records, 5, reference::Reading(original));
        ASSERT_EQ(check.Faults(), 0u) << check.Summary("fixture");
    }

    Mutator mutator(0x5EED0005, {"<>/\"=&;# \npDLTAH",
                                 {{"<DL><p>", "</DL><p>"},
                                  {"<DT><H3>f</H3>\n<DL><p>\n", "</DL><p>\n"},
                                  {"<DT><H3>f</H3><DL><p><DT><A HREF=\"https://n.example/\">n</A>", "</DL><p>"}}});
    const std::vector<Mutant> cases = test::AllCutsThenRandom(original, mutator, 10000);
    test::MutationTally run;
    size_t warned = 0;  // read with a warning (counted among the refused)
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
            if (error.empty() && !warning.empty()) ++warned;
            if (plain && mutant.cutShort) run.Fault("cut short reported as plain success", mutant);
            if (plain) run.CheckSame(mutant, records, 5, reference::Reading(mutant.bytes));
            if (!error.empty() && !records.empty()) run.Fault("records with an error", mutant);
            for (const BookmarkRecord& r : records)
                if (r.url.empty()) run.Fault("empty url", mutant);
        }
    });
    std::cout << run.Summary("HTML") << "\n  (" << warned << " of the refused read with a warning, "
              << run.refused - warned << " with an error)\n";
    EXPECT_EQ(run.Faults(), 0u) << run.Summary("HTML");
    EXPECT_GT(run.accepted, 100u);
}

}  // namespace
}  // namespace bm
