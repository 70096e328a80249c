#include "core/firefox_profiles.h"

#include "core/bookmark_record.h"
#include "core/file_io.h"

namespace bm {
namespace {

bool Qualifies(const ProfilesIniSection& section, const char* prefix) {
    return section.name.size() >= 7 && section.name.compare(0, 7, prefix) == 0;
}

const std::string* Find(const ProfilesIniSection& section, const char* key) {
    const auto it = section.values.find(key);
    return it == section.values.end() ? nullptr : &it->second;
}

struct ChosenPath {
    std::string path;
    bool relative = true;
};

ChosenPath FromProfileSection(const ProfilesIniSection& section) {
    ChosenPath chosen;
    if (const std::string* path = Find(section, "Path")) chosen.path = *path;
    const std::string* isRelative = Find(section, "IsRelative");
    chosen.relative = isRelative == nullptr || *isRelative == "1";
    return chosen;
}

// The Install section's Default names a profile by the Path its [Profile] section has (Firefox
// compares the two): a name no section has is a profile that is gone.
std::string SameSlashes(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::optional<ChosenPath> ChooseProfile(const std::vector<ProfilesIniSection>& sections) {
    // Newer Firefox records the profile each installation starts with; the last such entry decides.
    std::string install;
    for (const ProfilesIniSection& section : sections) {
        if (!Qualifies(section, "Install")) continue;
        if (const std::string* value = Find(section, "Default")) install = *value;
    }
    if (!install.empty()) {
        for (const ProfilesIniSection& section : sections) {
            if (!Qualifies(section, "Profile")) continue;
            const std::string* path = Find(section, "Path");
            if (path && SameSlashes(*path) == SameSlashes(install)) return FromProfileSection(section);
        }
    }

    for (const ProfilesIniSection& section : sections) {
        if (!Qualifies(section, "Profile")) continue;
        const std::string* isDefault = Find(section, "Default");
        if (isDefault == nullptr || *isDefault != "1") continue;
        ChosenPath chosen = FromProfileSection(section);
        if (!chosen.path.empty()) return chosen;
        break;
    }

    for (const ProfilesIniSection& section : sections) {
        if (!Qualifies(section, "Profile")) continue;
        ChosenPath chosen = FromProfileSection(section);
        if (!chosen.path.empty()) return chosen;
        break;
    }
    return std::nullopt;
}

// The text of the file as UTF-8, as Firefox reads it: a UTF-8 byte-order mark is dropped and a file
// in UTF-16 (little-endian, with its mark) is converted.
std::string IniText(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        std::wstring wide;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                                (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return ToUtf8(wide);
    }
    return bytes;
}

}  // namespace

std::vector<ProfilesIniSection> ParseProfilesIni(const std::string& bytes) {
    // The rules of Firefox's own INI reader: lines end at any CR or LF; a line that begins with '#'
    // or ';' is a comment; blanks before a line's text are dropped; "[name]" opens a section, and so
    // does "[name" without its ']' (the name runs to the line's end); a section line with text after
    // its ']', or with no name, is malformed and its keys ignored; "key=value" keeps every other
    // blank, so "Path = x" is the key "Path " (Firefox does not see it either).
    const std::string text = IniText(bytes);
    std::vector<ProfilesIniSection> sections;
    bool inSection = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        line.erase(0, line.find_first_not_of(" \t"));
        if (line.empty()) continue;
        if (line.front() == '[') {
            // Firefox looks for the name's end past any ']' that directly follows the '[', and a
            // line that is only brackets has no name.
            const size_t nameStart = line.find_first_not_of(']', 1);
            const size_t close = nameStart == std::string::npos ? std::string::npos : line.find(']', nameStart);
            inSection = nameStart != std::string::npos &&
                        (close == std::string::npos || line.find_first_not_of(" \t", close + 1) == std::string::npos);
            if (!inSection) continue;
            ProfilesIniSection section;
            section.name = close == std::string::npos ? line.substr(1) : line.substr(1, close - 1);
            sections.push_back(std::move(section));
            continue;
        }
        if (!inSection) continue;
        line.erase(0, line.find_first_not_of('='));
        const size_t equals = line.find('=');
        if (line.empty() || equals == std::string::npos) continue;
        sections.back().values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return sections;
}

std::optional<std::wstring> FindFirefoxPlaces(const std::wstring& rootDir) {
    std::string bytes;
    if (!ReadFileBytes(rootDir + L"\\profiles.ini", bytes)) return std::nullopt;
    return ChooseFirefoxPlaces(bytes, rootDir);
}

std::optional<std::wstring> ChooseFirefoxPlaces(const std::string& iniBytes, const std::wstring& rootDir) {
    const std::optional<ChosenPath> chosen = ChooseProfile(ParseProfilesIni(iniBytes));
    if (!chosen) return std::nullopt;
    std::wstring path = ToWide(chosen->path);
    // No Windows path holds a control character; a NUL would even cut the path short and name
    // another file. Such a value comes from a damaged file.
    for (wchar_t c : path)
        if (c < 0x20) return std::nullopt;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    if (chosen->relative) path = rootDir + L"\\" + path;
    return path + L"\\places.sqlite";
}

}  // namespace bm
