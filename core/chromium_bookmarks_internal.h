#pragma once
// What the Bookmarks file's reader, writer and checks share and nothing else includes: the walk over a
// parsed document, and the reader's checks that the writer also makes before it changes a file.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "core/bookmark_record.h"

namespace bm {

// The text of a string member; "" when the member is missing or is not a string.
std::string StringField(const nlohmann::json& node, const char* key);

inline int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

// A folder's children as the readers walk them: array elements in order, or an object's member
// values in key order. Null when there are none to walk.
const nlohmann::json* ChildrenOf(const nlohmann::json& node);

// A walk over a tree without recursion, so that no nesting can exhaust the stack. `visit` is called
// for `top` and, depth first in order, for every child of a node for which it returned children.
// `leave` is called once the children of such a node have all been visited.
template <typename Visit, typename Leave>
void WalkTree(const nlohmann::json& top, Visit&& visit, Leave&& leave) {
    struct Level {
        nlohmann::json::const_iterator next;
        nlohmann::json::const_iterator end;
    };
    std::vector<Level> levels;
    if (const nlohmann::json* children = visit(top)) levels.push_back({children->cbegin(), children->cend()});
    while (!levels.empty()) {
        if (levels.back().next == levels.back().end) {
            levels.pop_back();
            leave();
            continue;
        }
        const nlohmann::json& child = *levels.back().next;
        ++levels.back().next;
        if (const nlohmann::json* children = visit(child)) levels.push_back({children->cbegin(), children->cend()});
    }
}

// The reader's checks on a file's bytes: parsed within the nesting bound, an object with its roots.
// False with the reader's message when they do not hold.
bool ParseBookmarksDocument(const std::string& bytes, nlohmann::json& document, std::wstring& error);

// The reader's walk over a parsed document, also the writer's check before it changes a file: false
// with the reader's message for a document no browser would read. Fills `records` when given.
bool ReadDocument(const nlohmann::json& document, size_t inputBytes, std::vector<BookmarkRecord>* records,
                  std::wstring& error);

}  // namespace bm
