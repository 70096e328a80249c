#include "core/html_bookmarks.h"

#include <ctime>

#include "core/file_io.h"

namespace bm {
namespace {

const std::string kIndentUnit = "    ";

std::string Indent(int level) {
    std::string text;
    for (int i = 0; i < level; ++i) text += kIndentUnit;
    return text;
}

bool StartsWithAt(const std::wstring& text, size_t pos, const wchar_t* prefix) {
    return text.compare(pos, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

bool IsLinkOpening(const std::wstring& low, size_t pos) {
    return StartsWithAt(low, pos, L"<a ") || StartsWithAt(low, pos, L"<a\t") || StartsWithAt(low, pos, L"<a>");
}

// Tags that give a file its structure; a link title or folder name never legitimately holds one.
bool IsStructuralTag(const std::wstring& low, size_t pos) {
    return IsLinkOpening(low, pos) || StartsWithAt(low, pos, L"<h3") || StartsWithAt(low, pos, L"<dl") ||
           StartsWithAt(low, pos, L"</dl");
}

// The closing tag `close` (lower case) after `from`, matched in any letter case. A link or folder
// whose closing tag is missing would otherwise swallow the links after it, so the search gives up
// (npos) at the next link, heading or list tag.
size_t FindClosing(const std::wstring& low, size_t from, const wchar_t* close) {
    for (size_t p = low.find(L'<', from); p != std::wstring::npos; p = low.find(L'<', p + 1)) {
        if (StartsWithAt(low, p, close)) return p;
        if (IsStructuralTag(low, p)) return std::wstring::npos;
    }
    return std::wstring::npos;
}

// The value of the first "href=" in the tag when it is enclosed in double quotes or apostrophes.
std::wstring QuotedHref(const std::wstring& tag, const std::wstring& lowTag) {
    const size_t href = lowTag.find(L"href=");
    if (href == std::wstring::npos) return {};
    const size_t quotePos = href + 5;
    if (quotePos >= tag.size()) return {};
    const wchar_t quote = tag[quotePos];
    if (quote != L'"' && quote != L'\'') return {};
    const size_t end = tag.find(quote, quotePos + 1);
    if (end == std::wstring::npos) return {};
    return tag.substr(quotePos + 1, end - quotePos - 1);
}

std::wstring JoinNonEmpty(const std::vector<std::wstring>& names) {
    std::vector<std::wstring> kept;
    for (const std::wstring& name : names)
        if (!name.empty()) kept.push_back(name);
    return JoinPath(kept);
}

}  // namespace

std::wstring HtmlEscape(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
            case L'&': out += L"&amp;"; break;
            case L'<': out += L"&lt;"; break;
            case L'>': out += L"&gt;"; break;
            case L'"': out += L"&quot;"; break;
            default: out += c; break;
        }
    }
    return out;
}

std::wstring HtmlUnescape(const std::wstring& text) {
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

void WriteHtmlFolder(std::string& out, const HtmlFolderNode& node, int level) {
    const std::string indent = Indent(level);
    for (const BookmarkRecord* record : node.bookmarks) {
        const std::wstring url = HtmlEscape(record->url);
        const std::wstring title = record->title.empty() ? url : HtmlEscape(record->title);
        out += indent;
        out += "<DT><A HREF=\"";
        out += ToUtf8(url);
        out += "\" ADD_DATE=\"";
        out += std::to_string(record->date_added);
        out += "\">";
        out += ToUtf8(title);
        out += "</A>\n";
    }
    for (const std::wstring& name : node.folder_order) {
        auto found = node.sub_folders.find(name);
        if (found == node.sub_folders.end() || !found->second) continue;
        out += indent;
        out += "<DT><H3 ADD_DATE=\"0\">";
        out += ToUtf8(HtmlEscape(name));
        out += "</H3>\n";
        out += indent;
        out += "<DL><p>\n";
        WriteHtmlFolder(out, *found->second, level + 1);
        out += indent;
        out += "</DL><p>\n";
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
    HtmlFolderNode root;
    for (const BookmarkRecord& record : records) {
        HtmlFolderNode* node = &root;
        for (const std::wstring& name : SplitPath(record.folder_path)) {
            std::unique_ptr<HtmlFolderNode>& child = node->sub_folders[name];
            if (!child) {
                child = std::make_unique<HtmlFolderNode>();
                node->folder_order.push_back(name);
            }
            node = child.get();
        }
        node->bookmarks.push_back(&record);
    }

    // One buffer, sized up front: growing a stream of many megabytes and copying it out touched
    // about three times the file's size in new memory, which made big exports slower than linear.
    size_t estimate = 4096;
    for (const BookmarkRecord& record : records) estimate += 64 + record.url.size() + record.title.size();
    std::string out;
    out.reserve(estimate + estimate / 4);
    out += "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
           "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
           "<TITLE>Bookmarks</TITLE>\n"
           "<H1>Bookmarks</H1>\n"
           "<DL><p>\n";
    WriteHtmlFolder(out, root, 1);
    out += "</DL><p>\n";
    return WriteExportFile(path, out, error);
}

std::vector<BookmarkRecord> ImportHtml(const std::wstring& path, std::wstring* error) {
    std::vector<BookmarkRecord> result;
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        if (error) *error = L"Could not open source file for reading.";
        return result;
    }
    const std::wstring text = ToWide(bytes);
    const std::wstring low = ToLower(text);  // same length, so positions carry over to `text`
    const int64_t now = static_cast<int64_t>(std::time(nullptr));

    std::vector<std::wstring> folders;
    std::wstring pendingName;
    bool pending = false;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t lt = text.find(L'<', pos);
        if (lt == std::wstring::npos) break;
        const size_t gt = text.find(L'>', lt);
        if (gt == std::wstring::npos) break;

        if (IsLinkOpening(low, lt)) {
            const std::wstring tag = text.substr(lt, gt - lt + 1);
            const std::wstring url = QuotedHref(tag, low.substr(lt, gt - lt + 1));
            const size_t close = FindClosing(low, gt + 1, L"</a");
            if (!url.empty()) {
                BookmarkRecord record;
                record.url = HtmlUnescape(url);
                if (close != std::wstring::npos) record.title = HtmlUnescape(text.substr(gt + 1, close - gt - 1));
                record.folder_path = JoinNonEmpty(folders);
                record.date_added = now;
                result.push_back(std::move(record));
            }
            pos = close != std::wstring::npos ? close + 4 : gt + 1;
        } else if (StartsWithAt(low, lt, L"<h3")) {
            const size_t close = FindClosing(low, gt + 1, L"</h3");
            pendingName = close != std::wstring::npos ? HtmlUnescape(text.substr(gt + 1, close - gt - 1)) : L"";
            pending = true;
            pos = close != std::wstring::npos ? close + 5 : gt + 1;
        } else if (StartsWithAt(low, lt, L"<dl")) {
            folders.push_back(pending ? pendingName : L"");
            pending = false;
            pendingName.clear();
            pos = gt + 1;
        } else if (StartsWithAt(low, lt, L"</dl")) {
            if (!folders.empty()) folders.pop_back();
            pos = gt + 1;
        } else {
            pos = gt + 1;
        }
    }
    if (result.empty() && error) *error = L"No <A HREF=...> bookmark entries found in this HTML file.";
    return result;
}

}  // namespace bm
