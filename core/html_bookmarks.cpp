#include "core/html_bookmarks.h"

#include <algorithm>
#include <ctime>
#include <string_view>

#include "core/file_io.h"
#include "core/read_failure.h"

namespace bm {
namespace {

const std::string kIndentUnit = "    ";

// Deep folders stop indenting further, so the file grows with its contents and not with the
// square of its depth.
constexpr size_t kMaxIndentLevel = 64;

std::string Indent(size_t level) {
    std::string text;
    for (size_t i = 0; i < level && i < kMaxIndentLevel; ++i) text += kIndentUnit;
    return text;
}

bool StartsWithAt(std::wstring_view text, size_t pos, const wchar_t* prefix) {
    return text.compare(pos, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

// Whether `text` holds `prefix` (lower case) at `pos`, 'A'..'Z' matched as their lower case: the
// tags are searched in place instead of in a lower-cased copy of the whole file.
bool StartsWithCaseless(std::wstring_view text, size_t pos, std::wstring_view prefix) {
    if (pos > text.size() || text.size() - pos < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        wchar_t c = text[pos + i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

// Whether the tag at `pos` is named exactly `name` (lower case; "/a" for an end tag), in any letter
// case, as an HTML parser reads tag names: up to white space, '/' or '>'. "<DLx>" or "<D\1L>" is
// another element, not a list.
bool TagNameIs(std::wstring_view text, size_t pos, std::wstring_view name) {
    if (pos >= text.size() || text[pos] != L'<' || !StartsWithCaseless(text, pos + 1, name)) return false;
    const size_t after = pos + 1 + name.size();
    return after >= text.size() || IsSpace(text[after]) || text[after] == L'/' || text[after] == L'>';
}

bool IsLinkOpening(std::wstring_view text, size_t pos) { return TagNameIs(text, pos, L"a"); }

// Tags that give a file its structure; a link title or folder name never legitimately holds one.
bool IsStructuralTag(std::wstring_view text, size_t pos) {
    return IsLinkOpening(text, pos) || TagNameIs(text, pos, L"h3") || TagNameIs(text, pos, L"dl") ||
           TagNameIs(text, pos, L"/dl");
}

// The '>' that ends the start or end tag at `lt`, as an HTML parser finds it: a '>' inside a quoted
// attribute value belongs to the value (Firefox writes bookmarklets' addresses unescaped). npos when
// the text ends first.
size_t TagEnd(std::wstring_view text, size_t lt) {
    size_t i = lt + 1;
    if (i < text.size() && text[i] == L'/') ++i;  // an end tag
    while (i < text.size() && !IsSpace(text[i]) && text[i] != L'>' && text[i] != L'/') ++i;  // the tag's name
    while (i < text.size()) {
        while (i < text.size() && (IsSpace(text[i]) || text[i] == L'/')) ++i;
        if (i >= text.size()) return std::wstring_view::npos;
        if (text[i] == L'>') return i;
        ++i;  // an attribute name may begin with '='
        while (i < text.size() && !IsSpace(text[i]) && text[i] != L'/' && text[i] != L'>' && text[i] != L'=') ++i;
        while (i < text.size() && IsSpace(text[i])) ++i;
        if (i >= text.size() || text[i] != L'=') continue;
        ++i;
        while (i < text.size() && IsSpace(text[i])) ++i;
        if (i < text.size() && (text[i] == L'"' || text[i] == L'\'')) {
            const size_t end = text.find(text[i], i + 1);
            if (end == std::wstring_view::npos) return std::wstring_view::npos;
            i = end + 1;
        } else {
            while (i < text.size() && !IsSpace(text[i]) && text[i] != L'>') ++i;
        }
    }
    return std::wstring_view::npos;
}

// The end tag `close` (lower case, "/a") after `from`, in any letter case. A link or folder whose
// closing tag is missing would otherwise swallow the links after it, so the search gives up (npos)
// at the next link, heading or list tag.
size_t FindClosing(std::wstring_view text, size_t from, std::wstring_view close) {
    for (size_t p = text.find(L'<', from); p != std::wstring_view::npos; p = text.find(L'<', p + 1)) {
        if (TagNameIs(text, p, close)) return p;
        if (IsStructuralTag(text, p)) return std::wstring_view::npos;
    }
    return std::wstring_view::npos;
}

// One attribute of a start tag as an HTML parser reads it.
struct TagAttribute {
    std::wstring_view name;
    std::wstring_view value;
    bool hasValue = false;
    bool quoted = false;     // the value is in double quotes or apostrophes
    bool spaced = false;     // white space around its '='
};

// Every attribute of the start tag `tag` ('<' to '>' as TagEnd found them), in order, into
// `attributes` (one list reused for every tag of a file); values are stepped over whole, so a name
// inside another attribute's value is no attribute.
const std::vector<TagAttribute>& AttributesOf(std::wstring_view tag, std::vector<TagAttribute>& attributes) {
    attributes.clear();
    size_t i = 1;
    while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != L'>' && tag[i] != L'/') ++i;
    while (i < tag.size()) {
        while (i < tag.size() && (IsSpace(tag[i]) || tag[i] == L'/')) ++i;
        if (i >= tag.size() || tag[i] == L'>') break;
        TagAttribute attribute;
        const size_t start = i++;
        while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != L'/' && tag[i] != L'>' && tag[i] != L'=') ++i;
        attribute.name = tag.substr(start, i - start);
        const size_t afterName = i;
        while (i < tag.size() && IsSpace(tag[i])) ++i;
        if (i < tag.size() && tag[i] == L'=') {
            attribute.hasValue = true;
            attribute.spaced = i != afterName;
            ++i;
            if (i < tag.size() && IsSpace(tag[i])) attribute.spaced = true;
            while (i < tag.size() && IsSpace(tag[i])) ++i;
            if (i < tag.size() && (tag[i] == L'"' || tag[i] == L'\'')) {
                const wchar_t quote = tag[i++];
                size_t end = tag.find(quote, i);
                if (end == std::wstring_view::npos) end = tag.size();
                attribute.value = tag.substr(i, end - i);
                attribute.quoted = true;
                i = end + 1;
            } else {
                const size_t valueStart = i;
                while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != L'>') ++i;
                attribute.value = tag.substr(valueStart, i - valueStart);
            }
        }
        attributes.push_back(attribute);
    }
    return attributes;
}

bool NameIs(std::wstring_view name, std::wstring_view lower) {
    return name.size() == lower.size() && StartsWithCaseless(name, 0, lower);
}

// The link's address: the value of its HREF attribute written as browsers write it, in quotes right
// after "HREF=". An unquoted or spaced value, or none, gives none.
std::wstring_view QuotedHref(const std::vector<TagAttribute>& attributes) {
    for (const TagAttribute& attribute : attributes) {
        if (!NameIs(attribute.name, L"href")) continue;
        return attribute.quoted && !attribute.spaced ? attribute.value : std::wstring_view{};
    }
    return {};
}

std::wstring Unescape(std::wstring_view text) {
    // Most titles and addresses hold no entity at all.
    if (text.find(L'&') == std::wstring_view::npos) return std::wstring(text);
    static const struct {
        const wchar_t* entity;
        wchar_t character;
    } kEntities[] = {{L"&amp;", L'&'}, {L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&quot;", L'"'}, {L"&#39;", L'\''}};
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        bool decoded = false;
        if (text[i] == L'&') {
            for (const auto& entry : kEntities) {
                if (StartsWithAt(text, i, entry.entity)) {
                    out += entry.character;
                    i += std::char_traits<wchar_t>::length(entry.entity);
                    decoded = true;
                    break;
                }
            }
        }
        if (!decoded) out += text[i++];
    }
    return out;
}

const char* RootMarker(const std::wstring& key) {
    if (key == L"bookmark_bar") return "PERSONAL_TOOLBAR_FOLDER";
    if (key == L"other") return "UNFILED_BOOKMARKS_FOLDER";
    return nullptr;  // browsers have no marker for the mobile root
}

// Whether the tag carries the attribute `name` (lower case, matched in any case) with a value other
// than false (in any case).
bool HasTrueAttribute(const std::vector<TagAttribute>& attributes, std::wstring_view name) {
    for (const TagAttribute& attribute : attributes)
        if (NameIs(attribute.name, name)) return !NameIs(attribute.value, L"false");
    return false;
}

// The folders a name makes once paths are split at '/' (SplitPath): its non-empty pieces.
size_t SegmentsOf(std::wstring_view name) {
    size_t segments = 0;
    bool inSegment = false;
    for (wchar_t c : name) {
        if (c == L'/') inSegment = false;
        else if (!inSegment) inSegment = true, ++segments;
    }
    return segments;
}

// The first of those pieces, or nothing.
std::wstring_view FirstSegmentOf(std::wstring_view name) {
    const size_t start = name.find_first_not_of(L'/');
    if (start == std::wstring_view::npos) return {};
    const size_t end = name.find(L'/', start);
    return name.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start);
}

// The value of the attribute `name` (lower case, matched in any case) of a start tag, quoted or not;
// attribute values are stepped over whole, so a name inside another attribute's value never matches.
bool FindAttribute(std::wstring_view tag, std::wstring_view name, std::wstring_view& value) {
    size_t i = 1;
    while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != L'>') ++i;  // the tag's own name
    while (i < tag.size()) {
        while (i < tag.size() && (IsSpace(tag[i]) || tag[i] == L'/')) ++i;
        if (i >= tag.size() || tag[i] == L'>') return false;
        const size_t start = i;
        while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != L'=' && tag[i] != L'>') ++i;
        const bool matches = i - start == name.size() && StartsWithCaseless(tag, start, name);
        while (i < tag.size() && IsSpace(tag[i])) ++i;
        std::wstring_view found;
        if (i < tag.size() && tag[i] == L'=') {
            ++i;
            while (i < tag.size() && IsSpace(tag[i])) ++i;
            if (i < tag.size() && (tag[i] == L'"' || tag[i] == L'\'')) {
                const wchar_t quote = tag[i++];
                size_t end = tag.find(quote, i);
                if (end == std::wstring_view::npos) end = tag.size();
                found = tag.substr(i, end - i);
                i = end + 1;
            } else {
                const size_t valueStart = i;
                while (i < tag.size() && !IsSpace(tag[i]) && tag[i] != L'>') ++i;
                found = tag.substr(valueStart, i - valueStart);
            }
        }
        if (matches) {
            value = found;
            return true;
        }
    }
    return false;
}

// The tag's ADD_DATE when it is a plausible date, else `fallback`.
int64_t AddDate(std::wstring_view tag, int64_t now, int64_t fallback) {
    std::wstring_view value;
    if (!FindAttribute(tag, L"add_date", value) || value.empty() || value.size() > 18) return fallback;
    int64_t seconds = 0;
    for (wchar_t c : value) {
        if (c < L'0' || c > L'9') return fallback;
        seconds = seconds * 10 + (c - L'0');
    }
    return IsPlausibleHtmlDate(seconds, now) ? seconds : fallback;
}

// Whether the address begins with a scheme (a letter, then letters, digits, '+', '-' or '.', then
// ':') other than those whose addresses the URL parser of every browser writes with space, '<', '>'
// and '"' percent-encoded: such an address (a bookmarklet's javascript:) keeps them as typed.
bool HasOpaqueScheme(std::wstring_view url) {
    size_t i = 0;
    while (i < url.size() && (IsAsciiLetter(url[i]) || (i > 0 && ((url[i] >= L'0' && url[i] <= L'9') || url[i] == L'+' ||
                                                                  url[i] == L'-' || url[i] == L'.'))))
        ++i;
    if (i == 0 || i >= url.size() || url[i] != L':') return false;
    for (std::wstring_view scheme : {L"http:", L"https:", L"ftp:", L"ws:", L"wss:", L"file:"})
        if (i + 1 == scheme.size() && StartsWithCaseless(url, 0, scheme)) return false;
    return true;
}

// Whether a decoded address holds what no browser writes into one: a control character or line
// break (the URL parser removes or encodes them), a double quote (exporters encode it), and, but in
// an address of an opaque scheme, a space, '<' or '>'.
bool IsDamagedAddress(std::wstring_view url) {
    const bool opaque = HasOpaqueScheme(url);
    for (wchar_t c : url) {
        if (c < 0x20 || c == 0x7F || c == L'"') return true;
        if (!opaque && (c == L' ' || c == L'<' || c == L'>')) return true;
    }
    return false;
}

// Whether a title or folder name as written holds what exporters always escape.
bool HoldsRawMarkup(std::wstring_view raw) { return raw.find_first_of(L"<>\"") != std::wstring_view::npos; }

// Whether a start tag's attributes pair their quotes as browsers write them: no value but a
// bookmarklet's address holds a line break, '<' or '>', which a quote lost or added elsewhere in
// the tag draws into a value.
bool HasBrokenAttribute(const std::vector<TagAttribute>& attributes) {
    for (const TagAttribute& attribute : attributes) {
        if (NameIs(attribute.name, L"href") && HasOpaqueScheme(attribute.value)) {
            if (attribute.value.find_first_of(L"\r\n") != std::wstring_view::npos) return true;
            continue;
        }
        if (attribute.value.find_first_of(L"<>\r\n") != std::wstring_view::npos) return true;
        if (attribute.name.find_first_of(L"<\"'") != std::wstring_view::npos) return true;
    }
    return false;
}

// What a sound file never holds, counted while it is read.
struct HtmlDamage {
    bool cutInTag = false;
    size_t unclosedLists = 0;
    size_t strayListEnds = 0;
    size_t unclosedItems = 0;
    size_t linksWithoutAddress = 0;  // an <A> without a quoted HREF: browsers write one on every link
    size_t strayClosings = 0;        // </A> or </H3> with no link or heading open
    size_t namesWithoutList = 0;     // a folder heading not followed by its list
    // Text browsers always escape, met raw: markup or quotes in a title or folder name, characters
    // in an address that no browser keeps there, an attribute whose quotes do not pair. Each with the
    // line of the first one met (0 for none).
    size_t markupInText = 0;
    size_t markupInTextLine = 0;
    size_t badAddresses = 0;
    size_t badAddressLine = 0;
    size_t brokenAttributes = 0;
    size_t brokenAttributeLine = 0;
    bool unclosedTitle = false;  // a TITLE without its end: a browser reads the rest of the file as the title
};

std::wstring DamageWarning(const HtmlDamage& damage) {
    const bool cutInTag = damage.cutInTag;
    const size_t unclosedLists = damage.unclosedLists, strayListEnds = damage.strayListEnds,
                 unclosedItems = damage.unclosedItems;
    std::wstring text;
    auto add = [&text](const std::wstring& sentence) {
        if (!text.empty()) text += L' ';
        text += sentence;
    };
    if (cutInTag) add(L"The file ended early, in the middle of a tag.");
    if (unclosedLists > 0)
        add(L"The file ended early: " + std::to_wstring(unclosedLists) + L" folder list(s) were never closed.");
    if (strayListEnds > 0)
        add(L"The file is unbalanced: " + std::to_wstring(strayListEnds) + L" folder list end(s) without a start.");
    if (unclosedItems > 0)
        add(L"The file is unbalanced: " + std::to_wstring(unclosedItems) +
            L" link(s) or folder name(s) without their closing tag.");
    if (damage.strayClosings > 0)
        add(L"The file is unbalanced: " + std::to_wstring(damage.strayClosings) +
            L" closing tag(s) of a link or folder name without its start.");
    if (damage.linksWithoutAddress > 0)
        add(L"The file is damaged: " + std::to_wstring(damage.linksWithoutAddress) + L" link(s) without an address.");
    if (damage.namesWithoutList > 0)
        add(L"The file is damaged: " + std::to_wstring(damage.namesWithoutList) +
            L" folder name(s) without the folder's list.");
    if (damage.markupInText > 0)
        add(L"The file is damaged: " + std::to_wstring(damage.markupInText) +
            L" title(s) or folder name(s) hold markup or quotes that browsers always escape (the first on line " +
            std::to_wstring(damage.markupInTextLine) + L").");
    if (damage.badAddresses > 0)
        add(L"The file is damaged: " + std::to_wstring(damage.badAddresses) +
            L" address(es) hold characters that no browser keeps in an address (the first on line " +
            std::to_wstring(damage.badAddressLine) + L").");
    if (damage.brokenAttributes > 0)
        add(L"The file is damaged: " + std::to_wstring(damage.brokenAttributes) +
            L" tag(s) whose quotes do not pair, so that a browser reads other links or folders there (the first on "
            L"line " + std::to_wstring(damage.brokenAttributeLine) + L").");
    if (damage.unclosedTitle) add(L"The file is damaged: its TITLE (or another element whose content is text) is never closed, so a browser "
                                    L"reads nothing after it.");
    if (!text.empty()) add(L"Only what could be read was imported; check the result.");
    return text;
}

}  // namespace

bool IsPlausibleHtmlDate(int64_t seconds, int64_t now) {
    constexpr int64_t kEarliest = 631152000;  // 1990-01-01, before any browser kept bookmarks
    constexpr int64_t kClockSlack = 2 * 24 * 60 * 60;
    return seconds >= kEarliest && seconds <= now + kClockSlack;
}

std::wstring HtmlEscape(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'"': out += L"&quot;"; break;
            // HTML text cannot hold a NUL (browsers' parsers drop it), so none is written.
            case L'\0': break;
            default: out += c; break;
        }
    }
    return out;
}

std::wstring HtmlUnescape(const std::wstring& text) { return Unescape(text); }

std::wstring NulEscapedUrl(const std::wstring& url) {
    std::wstring out;
    out.reserve(url.size());
    for (wchar_t c : url) {
        if (c == L'\0') out += L"%00";
        else out += c;
    }
    return out;
}

HtmlFolderTree BuildHtmlFolderTree(const std::vector<BookmarkRecord>& records) {
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    HtmlFolderTree tree;
    tree.nodes.emplace_back();
    // The child of `parent` named `name`, made (and entered in the parent's order) on first use.
    auto child = [&tree](size_t parent, const std::wstring& name, const char* marker) {
        auto found = tree.nodes[parent].sub_folders.find(name);
        if (found != tree.nodes[parent].sub_folders.end()) return found->second;
        const size_t index = tree.nodes.size();
        tree.nodes.emplace_back();
        tree.nodes[index].name = name;
        tree.nodes[index].marker = marker;
        tree.nodes[parent].sub_folders.emplace(name, index);
        HtmlFolderNode::Entry entry;
        entry.folder = index;
        tree.nodes[parent].entries.push_back(entry);
        return index;
    };
    std::unordered_map<std::wstring, size_t> roots;  // root key -> its folder at the top level
    bool menuSeen = false;
    for (const BookmarkRecord& record : records) {
        std::vector<std::wstring> segments = SplitPath(record.folder_path);
        size_t node = 0;
        size_t first = 0;
        if (!segments.empty() && IsMenuRootName(segments.front())) {
            // Firefox writes its menu's contents at the top level; the H1 then names the menu.
            if (!menuSeen) tree.heading = segments.front();
            menuSeen = true;
            first = 1;
        } else {
            // Every other root is one folder, however its records spell the root's name; a path that
            // names no root lies under the bookmarks bar, as in every store of the program.
            std::wstring key = segments.empty() ? L"" : CanonicalRootKey(segments.front());
            if (!key.empty()) first = 1;
            if (key.empty()) key = L"bookmark_bar";
            auto found = roots.find(key);
            if (found == roots.end()) {
                const std::wstring name = first == 1 ? segments.front() : std::wstring(RootLabel(key));
                found = roots.emplace(key, child(0, name, RootMarker(key))).first;
            }
            node = found->second;
        }
        for (size_t i = first; i < segments.size(); ++i) node = child(node, segments[i], nullptr);
        HtmlFolderNode::Entry entry;
        entry.bookmark = &record;
        tree.nodes[node].entries.push_back(entry);
        if (IsPlausibleHtmlDate(record.date_added, now) &&
            (tree.nodes[node].earliest == 0 || record.date_added < tree.nodes[node].earliest))
            tree.nodes[node].earliest = record.date_added;
    }
    // A folder is made after its parent, so walking back from the last carries each folder's date up.
    for (size_t index = tree.nodes.size(); index-- > 1;) {
        for (const HtmlFolderNode::Entry& entry : tree.nodes[index].entries) {
            if (entry.bookmark) continue;
            const int64_t inner = tree.nodes[entry.folder].earliest;
            int64_t& earliest = tree.nodes[index].earliest;
            if (inner > 0 && (earliest == 0 || inner < earliest)) earliest = inner;
        }
    }
    return tree;
}

void WriteHtmlTree(std::string& out, const HtmlFolderTree& tree, int64_t exportTime) {
    // An explicit stack of (node, next entry) instead of recursion: any depth fits.
    struct Open {
        size_t node;
        size_t next;
    };
    std::vector<Open> open{{0, 0}};
    while (!open.empty()) {
        Open& top = open.back();
        const HtmlFolderNode& node = tree.nodes[top.node];
        const size_t level = open.size();
        if (top.next == node.entries.size()) {
            open.pop_back();
            if (!open.empty()) {
                out += Indent(level - 1);
                out += "</DL><p>\n";
            }
            continue;
        }
        const HtmlFolderNode::Entry& entry = node.entries[top.next++];
        const std::string indent = Indent(level);
        if (entry.bookmark) {
            const BookmarkRecord& record = *entry.bookmark;
            const std::wstring url = HtmlEscape(NulEscapedUrl(record.url));
            const std::wstring title = record.title.empty() ? url : HtmlEscape(record.title);
            out += indent;
            out += "<DT><A HREF=\"";
            out += ToUtf8(url);
            out += "\" ADD_DATE=\"";
            out += std::to_string(IsPlausibleHtmlDate(record.date_added, exportTime) ? record.date_added : exportTime);
            out += "\">";
            out += ToUtf8(title);
            out += "</A>\n";
            continue;
        }
        const HtmlFolderNode& folder = tree.nodes[entry.folder];
        out += indent;
        out += "<DT><H3 ADD_DATE=\"";
        out += std::to_string(folder.earliest != 0 ? folder.earliest : exportTime);
        out += "\"";
        if (folder.marker) {
            out += " ";
            out += folder.marker;
            out += "=\"true\"";
        }
        out += ">";
        out += ToUtf8(HtmlEscape(folder.name));
        out += "</H3>\n";
        out += indent;
        out += "<DL><p>\n";
        open.push_back({entry.folder, 0});
    }
}

bool WriteExportFile(const std::wstring& path, const std::string& text, std::wstring* error) {
    FileWriteError failure;
    if (WriteFileReplacing(path, text, &failure)) return true;
    if (error) {
        if (failure.stage == FileWriteStage::Write || failure.stage == FileWriteStage::Flush)
            *error = L"Could not write destination file (" + DescribeWriteError(failure) + L").";
        else
            *error = L"Could not open destination file for writing.";
    }
    return false;
}

bool ExportHtml(const std::vector<BookmarkRecord>& records, const std::wstring& path, std::wstring* error) {
    const HtmlFolderTree tree = BuildHtmlFolderTree(records);
    // One buffer, sized up front: growing a stream of many megabytes and copying it out touched
    // about three times the file's size in new memory, which made big exports slower than linear.
    size_t estimate = 4096;
    for (const BookmarkRecord& record : records) estimate += 64 + record.url.size() + record.title.size();
    std::string out;
    out.reserve(estimate + estimate / 4);
    out += "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
           "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
           "<TITLE>Bookmarks</TITLE>\n";
    out += "<H1>" + ToUtf8(HtmlEscape(tree.heading)) + "</H1>\n";
    out += "<DL><p>\n";
    WriteHtmlTree(out, tree, static_cast<int64_t>(std::time(nullptr)));
    out += "</DL><p>\n";
    return WriteExportFile(path, out, error);
}

std::vector<BookmarkRecord> ImportHtml(const std::wstring& path, std::wstring* error, std::wstring* warning) {
    std::string bytes;
    bool missing = false;
    if (!ReadFileBytes(path, bytes, &missing)) {
        if (error) *error = UnreadableFileText(L"The file", path, missing);
        return {};
    }
    return ParseHtmlBookmarks(bytes, error, warning);
}

std::vector<BookmarkRecord> ParseHtmlBookmarks(const std::string& bytes, std::wstring* error, std::wstring* warning) {
    std::vector<BookmarkRecord> result;
    if (const std::wstring blank = BlankFileText(L"The file", bytes); !blank.empty()) {
        if (error) *error = blank;
        return result;
    }
    const std::wstring wide = ToWide(bytes);
    const std::wstring_view text(wide);
    const int64_t now = static_cast<int64_t>(std::time(nullptr));

    // One entry per open folder list. The folder path is kept as one text that grows and shrinks
    // with the lists, so a link costs the length of its own path and no more.
    struct Level {
        size_t pathLength;    // length of `path` before this list's name was added
        size_t pathSegments;  // its segments then
        bool underTop;        // the list lies in the file's top level, whose root is settled at the end
    };
    std::vector<Level> levels;
    std::wstring path;
    // The nesting is counted as every store counts it (FoldersBelowRoot): the folders of a record's
    // path below its root. Below a root's list that is the path's segments but the root's own; at the
    // top level it depends on the root the end settles, so the deepest of both counts is kept.
    size_t pathSegments = 0;
    bool pathStartsWithRoot = false;  // the first segment of `path` is a root's name
    size_t deepestTopLevel = 0;        // segments of the deepest top-level path that holds a link
    size_t deepestTopLevelBare = 0;    // the same, less a first segment that names a root
    auto tooDeep = [&error] {
        if (error)
            *error = L"The file nests folders more than " + std::to_wstring(kDeepestFolderNesting) +
                     L" levels below a root, deeper than any browser writes; nothing was imported.";
        return std::vector<BookmarkRecord>{};
    };
    std::vector<size_t> topLevelRecords;  // records whose path gets the top level's root in front
    size_t pathBudget = FolderPathBudget(bytes.size());

    std::wstring heading;  // the first H1
    bool headingSeen = false;
    std::wstring pendingName;
    const wchar_t* pendingMarker = nullptr;
    bool pending = false;
    bool toolbarMarked = false;
    bool unfiledMarked = false;

    HtmlDamage damage;
    // A heading is followed by its list in every sound file; anything else first is counted once.
    bool pendingFlagged = false;
    auto flagPendingName = [&] {
        if (pending && !pendingFlagged) ++damage.namesWithoutList;
        pendingFlagged = pending;
    };
    bool& cutInTag = damage.cutInTag;
    size_t& strayListEnds = damage.strayListEnds;
    size_t& unclosedItems = damage.unclosedItems;

    // The line of a position, for the warning's "where" (counted once per kind of damage).
    auto lineOf = [&text](size_t at) {
        return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), L'\n'));
    };
    auto note = [&](size_t& count, size_t& line, size_t at) {
        if (count++ == 0) line = lineOf(at);
    };
    // A title or folder name as written: what browsers escape, met raw, is damage.
    auto checkText = [&](size_t from, size_t to) {
        if (HoldsRawMarkup(text.substr(from, to - from))) note(damage.markupInText, damage.markupInTextLine, from);
    };

    // Past the end tag at `close`, whose end is found as a browser finds it; browsers write nothing
    // after an end tag's name, and a quote there runs on over what follows. npos when the text ends
    // inside it (the scan then stops there).
    auto pastEndTag = [&](size_t close) {
        const size_t end = TagEnd(text, close + 1);
        if (end == std::wstring::npos) {
            damage.cutInTag = true;
            return text.size();
        }
        size_t name = close + 2;
        while (name < end && !IsSpace(text[name]) && text[name] != L'/') ++name;
        if (text.substr(name, end - name).find_first_not_of(L" \t\r\n\f") != std::wstring_view::npos)
            note(damage.brokenAttributes, damage.brokenAttributeLine, close);
        return end + 1;
    };

    std::vector<TagAttribute> tagAttributes;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t lt = text.find(L'<', pos);
        if (lt == std::wstring::npos) break;
        // What is a tag, a comment or text is decided as an HTML parser decides it: a '<' that no
        // letter, '/', '!' or '?' follows is text, a comment ends at "-->", and a '>' inside a quoted
        // attribute value does not end its tag.
        const wchar_t next = lt + 1 < text.size() ? text[lt + 1] : L'\0';
        if (StartsWithAt(text, lt, L"<!--")) {
            size_t end = lt + 4;
            if (StartsWithAt(text, end, L">")) end -= 2;
            else if (StartsWithAt(text, end, L"->")) end -= 1;
            else end = text.find(L"-->", end);
            if (end == std::wstring::npos) {
                cutInTag = true;
                break;
            }
            pos = end + 3;
            continue;
        }
        if (!IsAsciiLetter(next) && next != L'/' && next != L'!' && next != L'?') {
            pos = lt + 1;
            continue;
        }
        const bool startOrEndTag = IsAsciiLetter(next) || (next == L'/' && lt + 2 < text.size() && IsAsciiLetter(text[lt + 2]));
        const size_t gt = startOrEndTag ? TagEnd(text, next == L'/' ? lt + 1 : lt) : text.find(L'>', lt);
        if (gt == std::wstring::npos) {
            cutInTag = true;
            break;
        }
        const std::wstring_view tagText = text.substr(lt, gt - lt + 1);

        // Their content is text to a browser, tags and all, up to their own end tag.
        const wchar_t* rawTextElement = nullptr;
        for (const wchar_t* name : {L"title", L"style", L"script", L"textarea"})
            if (TagNameIs(text, lt, name)) rawTextElement = name;
        if (rawTextElement) {
            const std::wstring endTag = L"/" + std::wstring(rawTextElement);
            size_t end = std::wstring::npos;
            for (size_t p = text.find(L'<', gt + 1); p != std::wstring::npos && end == std::wstring::npos;
                 p = text.find(L'<', p + 1))
                if (TagNameIs(text, p, endTag)) end = p;
            // Without its end a browser reads nothing after it; what follows is still read here.
            if (end == std::wstring::npos) damage.unclosedTitle = true;
            pos = end == std::wstring::npos ? gt + 1 : end + 1;
            continue;
        }

        if (IsLinkOpening(text, lt)) {
            const std::vector<TagAttribute>& attributes = AttributesOf(tagText, tagAttributes);
            const std::wstring_view url = QuotedHref(attributes);
            const size_t close = FindClosing(text, gt + 1, L"/a");
            if (close == std::wstring::npos) ++unclosedItems;
            else checkText(gt + 1, close);
            if (HasBrokenAttribute(attributes)) note(damage.brokenAttributes, damage.brokenAttributeLine, lt);
            flagPendingName();
            if (url.empty()) ++damage.linksWithoutAddress;
            if (!url.empty()) {
                if (path.size() > pathBudget) {
                    if (error)
                        *error = L"The file has folders so deep, with names so long, that its bookmarks would need "
                                 L"far more memory than any browser's file; nothing was imported.";
                    return {};
                }
                pathBudget -= path.size();
                BookmarkRecord record;
                record.url = Unescape(url);
                if (IsDamagedAddress(record.url)) note(damage.badAddresses, damage.badAddressLine, lt);
                if (close != std::wstring::npos) record.title = Unescape(text.substr(gt + 1, close - gt - 1));
                record.folder_path = path;
                record.date_added = AddDate(tagText, now, now);
                if (levels.empty() || levels.back().underTop) {
                    topLevelRecords.push_back(result.size());
                    deepestTopLevel = std::max(deepestTopLevel, pathSegments);
                    deepestTopLevelBare = std::max(deepestTopLevelBare, pathSegments - (pathStartsWithRoot ? 1 : 0));
                }
                result.push_back(std::move(record));
            }
            pos = close != std::wstring::npos ? pastEndTag(close) : gt + 1;
        } else if (TagNameIs(text, lt, L"h3")) {
            const std::wstring_view tag = tagText;
            const size_t close = FindClosing(text, gt + 1, L"/h3");
            if (close == std::wstring::npos) ++unclosedItems;
            else checkText(gt + 1, close);
            const std::vector<TagAttribute>& attributes = AttributesOf(tag, tagAttributes);
            if (HasBrokenAttribute(attributes)) note(damage.brokenAttributes, damage.brokenAttributeLine, lt);
            flagPendingName();
            pendingFlagged = false;
            pendingName = close != std::wstring::npos ? Unescape(text.substr(gt + 1, close - gt - 1)) : L"";
            pendingMarker = HasTrueAttribute(attributes, L"personal_toolbar_folder")    ? L"bookmark_bar"
                            : HasTrueAttribute(attributes, L"unfiled_bookmarks_folder") ? L"other"
                                                                                     : nullptr;
            pending = true;
            pos = close != std::wstring::npos ? pastEndTag(close) : gt + 1;
        } else if (TagNameIs(text, lt, L"h1") && !headingSeen) {
            const size_t close = FindClosing(text, gt + 1, L"/h1");
            // It names Firefox's menu: markup in it is damage as in a folder name.
            if (close != std::wstring::npos) {
                heading = Unescape(text.substr(gt + 1, close - gt - 1));
                checkText(gt + 1, close);
            }
            headingSeen = true;
            pos = close != std::wstring::npos ? pastEndTag(close) : gt + 1;
        } else if (TagNameIs(text, lt, L"dl")) {
            std::wstring name = pending ? pendingName : L"";
            Level level{path.size(), pathSegments, levels.empty() || levels.back().underTop};
            if (levels.size() == 1 && level.underTop) {
                // A folder of the file's top level: a marked or well-known root stands on its own.
                std::wstring key = pending && pendingMarker ? std::wstring(pendingMarker) : CanonicalRootKey(name);
                if (pending && pendingMarker) {
                    (key == L"bookmark_bar" ? toolbarMarked : unfiledMarked) = true;
                    if (CanonicalRootKey(name) != key) name = RootLabel(key);
                }
                if (!key.empty()) level.underTop = false;
            }
            if (!name.empty()) {
                // Room is left for the root that a top-level path may still get in front.
                if (path.size() + 1 + name.size() + 32 > kMaxFolderPathLength) {
                    if (error)
                        *error = L"The file has a folder path longer than " + std::to_wstring(kMaxFolderPathLength) +
                                 L" characters, more than any browser keeps; nothing was imported.";
                    return {};
                }
                if (path.empty()) pathStartsWithRoot = !CanonicalRootKey(std::wstring(FirstSegmentOf(name))).empty();
                if (!path.empty()) path += L'/';
                path += name;
                pathSegments += SegmentsOf(name);
                // However the top level's root is settled, one segment at most names a root.
                if (pathSegments > kDeepestFolderNesting + 1) return tooDeep();
            }
            levels.push_back(level);
            pending = false;
            pendingMarker = nullptr;
            pendingName.clear();
            pos = gt + 1;
        } else if (TagNameIs(text, lt, L"/dl")) {
            pastEndTag(lt);
            flagPendingName();
            if (levels.empty()) {
                ++strayListEnds;
            } else {
                path.resize(levels.back().pathLength);
                pathSegments = levels.back().pathSegments;
                levels.pop_back();
            }
            pos = gt + 1;
        } else {
            // Closing tags of links and headings are taken with what they close; one met here has none.
            if (TagNameIs(text, lt, L"/a") || TagNameIs(text, lt, L"/h3")) ++damage.strayClosings;
            pos = gt + 1;
        }
    }
    flagPendingName();

    // The root of the top level: Firefox names its menu in the H1; a file with root markers but no
    // such H1 holds Firefox's menu when it marks the unfiled folder, else (as Chromium writes it) the
    // other bookmarks. Files without markers keep their paths as they are.
    std::wstring topRoot;
    if (!CanonicalRootKey(heading).empty())
        topRoot = heading;
    else if (unfiledMarked)
        topRoot = L"Bookmarks Menu";
    else if (toolbarMarked)
        topRoot = L"Other bookmarks";
    if ((topRoot.empty() ? deepestTopLevelBare : deepestTopLevel) > kDeepestFolderNesting) return tooDeep();
    if (!topRoot.empty()) {
        for (size_t index : topLevelRecords) {
            std::wstring& folder = result[index].folder_path;
            folder = folder.empty() ? topRoot : topRoot + L'/' + folder;
        }
    }

    if (result.empty() && error) *error = L"No <A HREF=...> bookmark entries found in this HTML file.";
    damage.unclosedLists = levels.size();
    const std::wstring damageText = DamageWarning(damage);
    if (!damageText.empty() && warning) *warning = damageText;
    return result;
}

}  // namespace bm
