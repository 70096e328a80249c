#include "database/snapshot_text.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "core/bookmark_record.h"
#include "database/bookmark_key.h"

namespace bm {
namespace {

using nlohmann::json;

bool AppendString(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    out.push_back('"');
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // A run of bytes that are written as they are.
        const auto* run = p;
        while (p < end && *p >= 0x20 && *p < 0x80 && *p != '"' && *p != '\\') ++p;
        out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end) break;
        const unsigned char c = *p;
        if (c >= 0x80) {
            const size_t length = Utf8SequenceLength({reinterpret_cast<const char*>(p), static_cast<size_t>(end - p)});
            if (length == 0) return false;
            out.append(reinterpret_cast<const char*>(p), length);
            p += length;
            continue;
        }
        out.push_back('\\');
        switch (c) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '\b': out.push_back('b'); break;
            case '\f': out.push_back('f'); break;
            case '\n': out.push_back('n'); break;
            case '\r': out.push_back('r'); break;
            case '\t': out.push_back('t'); break;
            default:
                out.append("u00");
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0xF]);
        }
        ++p;
    }
    out.push_back('"');
    return true;
}

}  // namespace

bool SnapshotTextWriter::Add(int64_t dateAdded, std::string_view folderPath, std::string_view title,
                             std::string_view url) {
    const size_t mark = text_.size();
    if (count_ > 0) text_.push_back(',');
    text_.append("{\"date_added\":");
    text_.append(std::to_string(dateAdded));
    text_.append(",\"folder_path\":");
    bool ok = AppendString(text_, folderPath);
    text_.append(",\"title\":");
    ok = ok && AppendString(text_, title);
    text_.append(",\"url\":");
    ok = ok && AppendString(text_, url);
    text_.push_back('}');
    if (!ok) {
        text_.resize(mark);
        return false;
    }
    ++count_;
    return true;
}

std::string SnapshotTextWriter::Finish() {
    text_.push_back(']');
    return std::move(text_);
}

namespace {

int64_t DateOf(const json& value) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    if (value.is_number_unsigned()) {
        const uint64_t date = value.get<uint64_t>();
        return date > static_cast<uint64_t>(kMax) ? kMax : static_cast<int64_t>(date);
    }
    if (value.is_number_float()) {
        const double date = value.get<double>();
        if (date != date) return 0;  // NaN: only a hand-made text holds one
        if (date >= 9223372036854775807.0) return kMax;
        if (date <= -9223372036854775808.0) return kMin;
        return static_cast<int64_t>(date);
    }
    return value.get<int64_t>();
}

// What is wrong with one element of the list, or "" when it is a bookmark record.
std::wstring ElementProblem(const json& element) {
    if (!element.is_object()) return L"is not a bookmark record";
    const auto url = element.find("url");
    if (url == element.end()) return L"has no URL";
    if (!url->is_string()) return L"has a URL that is not text";
    // A profile never holds a bookmark without an address: no reader keeps one.
    if (url->get_ref<const std::string&>().empty()) return L"has an empty URL";
    for (const char* key : {"title", "folder_path"}) {
        const auto member = element.find(key);
        const std::wstring name = key[0] == 't' ? L"title" : L"folder";
        if (member == element.end()) return L"has no " + name;
        if (!member->is_string()) return L"has a " + name + L" that is not text";
    }
    const auto date = element.find("date_added");
    if (date == element.end()) return L"has no date";
    if (!date->is_number()) return L"has a date that is not a number";
    return {};
}

}  // namespace

bool ReadSnapshotText(const std::string& text, int64_t storedCount, std::vector<SnapshotRecord>& records,
                      std::wstring& problem) {
    records.clear();
    const std::wstring damaged = L"The snapshot is damaged and was not restored; nothing was changed. Its text ";
    json list;
    try {
        list = json::parse(text, nullptr, true, false);
    } catch (const json::parse_error& e) {
        problem = damaged + L"is not valid JSON (at byte " + std::to_wstring(e.byte) + L").";
        return false;
    } catch (const std::exception&) {
        problem = damaged + L"is not valid JSON.";
        return false;
    }
    if (!list.is_array()) {
        problem = damaged + L"holds no list of bookmarks.";
        return false;
    }
    if (static_cast<int64_t>(list.size()) != storedCount) {
        problem = damaged + L"holds " + std::to_wstring(list.size()) + L" bookmark(s), but the snapshot was taken of " +
                  std::to_wstring(storedCount) + L".";
        return false;
    }
    // A profile holds each address once (its duplicate key, as AddBookmarks compares them), so a
    // record twice is a text that was changed after it was written.
    std::unordered_map<std::string, size_t> seen;
    seen.reserve(list.size());
    std::string key;
    for (size_t i = 0; i < list.size(); ++i) {
        std::wstring wrong = ElementProblem(list[i]);
        if (wrong.empty()) {
            BookmarkKeyOf(list[i]["url"].get_ref<const std::string&>(), key);
            const auto [first, added] = seen.emplace(key, i);
            if (!added) wrong = L"has the same URL as bookmark " + std::to_wstring(first->second + 1);
        }
        if (!wrong.empty()) {
            problem = damaged + L"is not as Orvellane writes it: bookmark " + std::to_wstring(i + 1) + L" of " +
                      std::to_wstring(list.size()) + L" " + wrong + L".";
            return false;
        }
    }
    records.reserve(list.size());
    for (json& element : list) {
        SnapshotRecord& record = records.emplace_back();
        record.dateAdded = DateOf(element["date_added"]);
        record.folderPath = std::move(element["folder_path"].get_ref<std::string&>());
        record.title = std::move(element["title"].get_ref<std::string&>());
        record.url = std::move(element["url"].get_ref<std::string&>());
    }
    return true;
}

}  // namespace bm
