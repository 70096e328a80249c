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

std::optional<ChosenPath> ChooseProfile(const std::vector<ProfilesIniSection>& sections) {
    // Newer Firefox records the profile each installation starts with; the last such entry decides.
    ChosenPath install;
    for (const ProfilesIniSection& section : sections) {
        if (!Qualifies(section, "Install")) continue;
        if (const std::string* value = Find(section, "Default")) install.path = *value;
    }
    if (!install.path.empty()) return install;

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

}  // namespace

std::vector<ProfilesIniSection> ParseProfilesIni(const std::string& bytes) {
    std::vector<ProfilesIniSection> sections;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (line.front() == '[') {
            // The last byte is dropped whatever it is; "[" alone names an empty section.
            ProfilesIniSection section;
            if (line.size() >= 2) section.name = line.substr(1, line.size() - 2);
            sections.push_back(std::move(section));
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos || sections.empty()) continue;
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
