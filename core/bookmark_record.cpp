#include "core/bookmark_record.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

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

std::wstring ToWide(const std::string& utf8) {
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

std::wstring ToLower(std::wstring text) {
    // The program never selects a locale, so towlower changes 'A'..'Z' only.
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
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
    const std::wstring s = ToLower(name);
    auto contains = [&s](const wchar_t* part) { return s.find(part) != std::wstring::npos; };
    // The bar rules come first: "mobile bookmarks bar" is the bar.
    if (s == L"bookmark_bar" || s == L"toolbar_____" || s == L"toolbar") return L"bookmark_bar";
    if (contains(L"favorites bar")) return L"bookmark_bar";
    if (contains(L"bookmark") && contains(L"bar")) return L"bookmark_bar";
    if (s == L"synced" || s == L"mobile______" || contains(L"mobile")) return L"synced";
    if (s == L"other" || s == L"unfiled_____" || s == L"menu________") return L"other";
    if (contains(L"other bookmark") || contains(L"other favorite") || contains(L"bookmarks menu")) return L"other";
    return {};
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

}  // namespace bm
