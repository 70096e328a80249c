#include "core/write_shortfall.h"

namespace bm {

std::wstring KeepWithinDepth(const std::wstring& folderPath, ParsedFolderPath& parsed, size_t deepest) {
    if (parsed.segments.size() <= deepest) return {};
    parsed.segments.resize(deepest);
    std::vector<std::wstring> pieces = SplitPath(folderPath);
    // The root's own piece stays when the path named one (ParseFolderPath took it off the segments).
    const bool namesRoot = !pieces.empty() && !CanonicalRootKey(pieces.front()).empty();
    pieces.resize(deepest + (namesRoot ? 1 : 0));
    return JoinPath(pieces);
}

}  // namespace bm
