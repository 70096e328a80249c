#pragma once
// Firefox's profiles.ini: which profile's places.sqlite the program works with.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bm {

// One [section] of profiles.ini; names, keys and values stay the file's bytes.
struct ProfilesIniSection {
    std::string name;
    std::map<std::string, std::string> values;
};

// Reads the sections of an already loaded profiles.ini, in file order, by the rules of Firefox's own
// reader (byte-order marks, comments, malformed section lines).
std::vector<ProfilesIniSection> ParseProfilesIni(const std::string& bytes);

// The places.sqlite of the profile Firefox starts with, found through rootDir + "\profiles.ini"
// (rootDir is the folder that holds profiles.ini): the one the last [Install...] section names when a
// [Profile...] section lists it, else the Default=1 profile, else the first. A profile's absolute Path
// is used as it is. Nothing when the file is missing or names no usable profile. The returned file
// need not exist.
std::optional<std::wstring> FindFirefoxPlaces(const std::wstring& rootDir);
// The same choice over the bytes of a profiles.ini that lies in rootDir.
std::optional<std::wstring> ChooseFirefoxPlaces(const std::string& iniBytes, const std::wstring& rootDir);

}  // namespace bm
