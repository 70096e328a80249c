#include "core/chromium_bookmarks.h"

#include <stdexcept>

#include "core/chromium_bookmarks_internal.h"
#include "core/read_failure.h"

namespace bm {

using nlohmann::json;

std::string StringField(const json& node, const char* key) {
    if (!node.is_object()) return {};
    auto it = node.find(key);
    if (it == node.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

const json* ChildrenOf(const json& node) {
    auto it = node.find("children");
    if (it == node.end() || !(it->is_array() || it->is_object())) return nullptr;
    return &*it;
}

JsonNestingTooDeep::JsonNestingTooDeep(size_t limit)
    : std::runtime_error("nested deeper than " + std::to_string(limit) + " levels"), limit_(limit) {}

namespace {

// The library's own parser, stopped as soon as the nesting passes the bound.
class BoundedDomParser : public nlohmann::detail::json_sax_dom_parser<json> {
public:
    BoundedDomParser(json& root, size_t maxNesting) : json_sax_dom_parser(root, true), max_(maxNesting) {}

    bool start_object(std::size_t elements) {
        Enter();
        return json_sax_dom_parser::start_object(elements);
    }
    bool end_object() {
        --depth_;
        return json_sax_dom_parser::end_object();
    }
    bool start_array(std::size_t elements) {
        Enter();
        return json_sax_dom_parser::start_array(elements);
    }
    bool end_array() {
        --depth_;
        return json_sax_dom_parser::end_array();
    }

private:
    void Enter() {
        if (++depth_ > max_) throw JsonNestingTooDeep(max_);
    }

    size_t max_;
    size_t depth_ = 0;
};

}  // namespace

json ParseJsonDocument(const std::string& bytes, size_t maxNesting) {
    json value;
    BoundedDomParser sax(value, maxNesting);
    // Strict: only white space may follow the value. Browsers refuse a file with more after it, and a
    // document that ends early inside a damaged file would otherwise read as a smaller one.
    json::sax_parse(bytes.begin(), bytes.end(), &sax, json::input_format_t::json, true);
    return value;
}

bool IsBlankJsonText(const std::string& bytes) {
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    return bytes.find_first_not_of(" \t\r\n", start) == std::string::npos;
}

namespace {

const wchar_t kMissingRoots[] =
    L"Bookmarks file is damaged or is no browser's bookmarks file: it lacks the bookmark roots every browser writes.";
const wchar_t kRootsNotObject[] = L"Bookmarks file is damaged: its bookmark roots are not in the form browsers write.";

}  // namespace

// The reader's checks on a file's bytes. False with the reader's message when they do not hold.
bool ParseBookmarksDocument(const std::string& bytes, json& document, std::wstring& error) {
    try {
        document = ParseJsonDocument(bytes);
    } catch (const JsonNestingTooDeep& e) {
        error = L"Bookmarks file is nested deeper than any browser writes (more than " + std::to_wstring(e.limit()) +
                L" levels of JSON, about " + std::to_wstring(kDeepestFolderNesting) + L" folders); it was not read.";
        return false;
    } catch (const std::exception& e) {
        error = JsonDamageText(L"Bookmarks file", bytes, e);
        return false;
    }
    if (!document.is_object()) {
        error = kMissingRoots;
        return false;
    }
    auto roots = document.find("roots");
    if (roots == document.end()) {
        error = kMissingRoots;
        return false;
    }
    if (!roots->is_object()) {
        error = kRootsNotObject;
        return false;
    }
    return true;
}

}  // namespace bm
