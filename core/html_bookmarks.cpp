#include "core/html_bookmarks.h"

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

// The first `needle` (lower case) in `text`, in any letter case.
size_t FindCaseless(std::wstring_view text, std::wstring_view needle, size_t from = 0) {
    if (needle.empty() || text.size() < needle.size()) return std::wstring_view::npos;
    for (size_t p = from; p + needle.size() <= text.size(); ++p)
        if (StartsWithCaseless(text, p, needle)) return p;
    return std::wstring_view::npos;
}

bool IsLinkOpening(std::wstring_view text, size_t pos) {
    return StartsWithCaseless(text, pos, L"<a ") || StartsWithCaseless(text, pos, L"<a\t") ||
           StartsWithCaseless(text, pos, L"<a>");
}

// Tags that give a file its structure; a link title or folder name never legitimately holds one.
bool IsStructuralTag(std::wstring_view text, size_t pos) {
    return IsLinkOpening(text, pos) || StartsWithCaseless(text, pos, L"<h3") ||
           StartsWithCaseless(text, pos, L"<dl") || StartsWithCaseless(text, pos, L"</dl");
}

// Whether a tag named `name` (lower case, "</a") starts at `pos`: the name followed by '>' or white space.
bool IsClosingTag(std::wstring_view text, size_t pos, std::wstring_view name) {
    if (!StartsWithCaseless(text, pos, name)) return false;
    const size_t after = pos + name.size();
    if (after >= text.size()) return false;
    const wchar_t c = text[after];
    return c == L'>' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// The closing tag `close` (lower case) after `from`, matched in any letter case. A link or folder
// whose closing tag is missing would otherwise swallow the links after it, so the search gives up
// (npos) at the next link, heading or list tag.
size_t FindClosing(std::wstring_view text, size_t from, const wchar_t* close) {
    for (size_t p = text.find(L'<', from); p != std::wstring_view::npos; p = text.find(L'<', p + 1)) {
        if (StartsWithCaseless(text, p, close)) return p;
        if (IsStructuralTag(text, p)) return std::wstring_view::npos;
    }
    return std::wstring_view::npos;
}

// The value of the first "href=" (any case) in the tag when it is enclosed in double quotes or apostrophes.
std::wstring_view QuotedHref(std::wstring_view tag) {
    const size_t href = FindCaseless(tag, L"href=");
    if (href == std::wstring_view::npos) return {};
    const size_t quotePos = href + 5;
    if (quotePos >= tag.size()) return {};
    const wchar_t quote = tag[quotePos];
    if (quote != L'"' && quote != L'\'') return {};
    const size_t end = tag.find(quote, quotePos + 1);
    if (end == std::wstring_view::npos) return {};
    return tag.substr(quotePos + 1, end - quotePos - 1);
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

// Whether the tag carries the attribute `name` (lower case, matched in any case) with a value other than false.
bool HasTrueAttribute(std::wstring_view tag, const wchar_t* name) {
    const size_t at = FindCaseless(tag, name);
    if (at == std::wstring_view::npos || at == 0) return false;
    const wchar_t before = tag[at - 1];
    if (before != L' ' && before != L'\t' && before != L'\n' && before != L'\r') return false;
    const size_t end = at + std::char_traits<wchar_t>::length(name);
    // Exactly eight characters must follow, as a compare of a shorter rest never matches.
    return !StartsWithCaseless(tag, end, L"=\"false\"") && !StartsWithCaseless(tag, end, L"='false'");
}

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f'; }

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

// What a sound file never holds, counted while it is read.
struct HtmlDamage {
    bool cutInTag = false;
    size_t unclosedLists = 0;
    size_t strayListEnds = 0;
    size_t unclosedItems = 0;
    size_t linksWithoutAddress = 0;  // an <A> without a quoted HREF: browsers write one on every link
    size_t strayClosings = 0;        // </A> or </H3> with no link or heading open
    size_t namesWithoutList = 0;     // a folder heading not followed by its list
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
        size_t pathLength;  // length of `path` before this list's name was added
        bool underTop;      // the list lies in the file's top level, whose root is settled at the end
    };
    std::vector<Level> levels;
    std::wstring path;
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

    size_t pos = 0;
    while (pos < text.size()) {
        const size_t lt = text.find(L'<', pos);
        if (lt == std::wstring::npos) break;
        const size_t gt = text.find(L'>', lt);
        if (gt == std::wstring::npos) {
            cutInTag = true;
            break;
        }

        if (IsLinkOpening(text, lt)) {
            const std::wstring_view url = QuotedHref(text.substr(lt, gt - lt + 1));
            const size_t close = FindClosing(text, gt + 1, L"</a");
            if (close == std::wstring::npos) ++unclosedItems;
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
                if (close != std::wstring::npos) record.title = Unescape(text.substr(gt + 1, close - gt - 1));
                record.folder_path = path;
                record.date_added = AddDate(text.substr(lt, gt - lt + 1), now, now);
                if (levels.empty() || levels.back().underTop) topLevelRecords.push_back(result.size());
                result.push_back(std::move(record));
            }
            pos = close != std::wstring::npos ? close + 4 : gt + 1;
        } else if (StartsWithCaseless(text, lt, L"<h3")) {
            const std::wstring_view tag = text.substr(lt, gt - lt + 1);
            const size_t close = FindClosing(text, gt + 1, L"</h3");
            if (close == std::wstring::npos) ++unclosedItems;
            flagPendingName();
            pendingFlagged = false;
            pendingName = close != std::wstring::npos ? Unescape(text.substr(gt + 1, close - gt - 1)) : L"";
            pendingMarker = HasTrueAttribute(tag, L"personal_toolbar_folder")    ? L"bookmark_bar"
                            : HasTrueAttribute(tag, L"unfiled_bookmarks_folder") ? L"other"
                                                                                     : nullptr;
            pending = true;
            pos = close != std::wstring::npos ? close + 5 : gt + 1;
        } else if (StartsWithCaseless(text, lt, L"<h1") && !headingSeen) {
            const size_t close = FindClosing(text, gt + 1, L"</h1");
            if (close != std::wstring::npos) heading = Unescape(text.substr(gt + 1, close - gt - 1));
            headingSeen = true;
            pos = close != std::wstring::npos ? close + 5 : gt + 1;
        } else if (StartsWithCaseless(text, lt, L"<dl")) {
            if (levels.size() >= kMaxHtmlFolderDepth) {
                if (error)
                    *error = L"The file nests folders more than " + std::to_wstring(kMaxHtmlFolderDepth) +
                             L" levels deep, deeper than any browser writes; nothing was imported.";
                return {};
            }
            std::wstring name = pending ? pendingName : L"";
            Level level{path.size(), levels.empty() || levels.back().underTop};
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
                if (!path.empty()) path += L'/';
                path += name;
            }
            levels.push_back(level);
            pending = false;
            pendingMarker = nullptr;
            pendingName.clear();
            pos = gt + 1;
        } else if (StartsWithCaseless(text, lt, L"</dl")) {
            flagPendingName();
            if (levels.empty()) {
                ++strayListEnds;
            } else {
                path.resize(levels.back().pathLength);
                levels.pop_back();
            }
            pos = gt + 1;
        } else {
            // Closing tags of links and headings are taken with what they close; one met here has none.
            if (IsClosingTag(text, lt, L"</a") || IsClosingTag(text, lt, L"</h3")) ++damage.strayClosings;
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
