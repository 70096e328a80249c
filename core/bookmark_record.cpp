#include "core/bookmark_record.h"

#include <windows.h>

#include <algorithm>

namespace bm {

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    // ASCII, most of what bookmarks hold, needs no call into the system.
    if (std::all_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x80; })) return std::string(text.begin(), text.end());
    const int length = static_cast<int>(text.size());
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::wstring ToWide(std::string_view utf8) {
    if (utf8.empty()) return {};
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::wstring(utf8.begin(), utf8.end());
    const int length = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    if (units <= 0) return {};
    std::wstring out(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(), units);
    return out;
}

size_t Utf8SequenceLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;   // no overlong forms
        if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return length;
}

bool IsWellFormedUtf8(std::string_view text) {
    size_t at = 0;
    while (at < text.size()) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        const size_t length = Utf8SequenceLength(text.substr(at));
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::wstring ToLower(std::wstring text) {
    // 'A'..'Z' only, whatever the C runtime's towlower would do: the profile database finds
    // duplicates with SQLite's lower(), which folds exactly these, so both sides must agree.
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

std::wstring NormalizeUrl(std::wstring url) {
    while (!url.empty() && url.back() == L'/') url.pop_back();
    return ToLower(std::move(url));
}

std::vector<std::wstring> SplitPath(const std::wstring& path) {
    std::vector<std::wstring> segments;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'/', start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) segments.emplace_back(path, start, end - start);
        start = end + 1;
    }
    return segments;
}

std::wstring JoinPath(const std::vector<std::wstring>& segments) {
    std::wstring joined;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (i > 0) joined += L'/';
        joined += segments[i];
    }
    return joined;
}

std::wstring CanonicalRootKey(const std::wstring& name) {
    // Whole names only: a folder the user called "Mobile apps (menu)" or "Barbecue bookmarks" is an
    // ordinary folder, not a root.
    static const struct {
        const wchar_t* name;
        const wchar_t* key;
    } kRootNames[] = {
        {L"bookmark_bar", L"bookmark_bar"},      {L"toolbar_____", L"bookmark_bar"},
        {L"toolbar", L"bookmark_bar"},           {L"bookmarks bar", L"bookmark_bar"},
        {L"bookmark bar", L"bookmark_bar"},      {L"bookmarks toolbar", L"bookmark_bar"},
        {L"bookmarks toolbar folder", L"bookmark_bar"}, {L"favorites bar", L"bookmark_bar"},
        {L"favourites bar", L"bookmark_bar"},    {L"synced", L"synced"},
        {L"mobile______", L"synced"},            {L"mobile bookmarks", L"synced"},
        {L"mobile favorites", L"synced"},        {L"mobile favourites", L"synced"},
        {L"other", L"other"},                    {L"unfiled_____", L"other"},
        {L"menu________", L"other"},             {L"other bookmarks", L"other"},
        {L"other favorites", L"other"},          {L"other favourites", L"other"},
        {L"unsorted bookmarks", L"other"},       {L"bookmarks menu", L"other"},
    };
    const std::wstring s = ToLower(name);
    for (const auto& root : kRootNames)
        if (s == root.name) return root.key;
    return {};
}

const wchar_t* RootLabel(const std::wstring& rootKey) {
    if (rootKey == L"other") return L"Other bookmarks";
    if (rootKey == L"synced") return L"Mobile bookmarks";
    return L"Bookmarks bar";
}

bool IsMenuRootName(const std::wstring& name) {
    const std::wstring s = ToLower(name);
    return s == L"bookmarks menu" || s == L"menu________";
}

ParsedFolderPath ParseFolderPath(const std::wstring& folderPath) {
    ParsedFolderPath parsed;
    parsed.root_key = L"bookmark_bar";
    parsed.segments = SplitPath(folderPath);
    if (!parsed.segments.empty()) {
        std::wstring key = CanonicalRootKey(parsed.segments.front());
        if (!key.empty()) {
            parsed.root_key = std::move(key);
            parsed.segments.erase(parsed.segments.begin());
        }
    }
    return parsed;
}

size_t FoldersBelowRoot(std::wstring_view folderPath) {
    size_t segments = 0;
    std::wstring_view first;
    size_t start = 0;
    while (start <= folderPath.size()) {
        size_t end = folderPath.find(L'/', start);
        if (end == std::wstring_view::npos) end = folderPath.size();
        if (end > start && segments++ == 0) first = folderPath.substr(start, end - start);
        start = end + 1;
    }
    if (segments > 0 && !CanonicalRootKey(std::wstring(first)).empty()) --segments;
    return segments;
}

}  // namespace bm
