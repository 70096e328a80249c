#include "database/snapshot_text.h"

namespace bm {
namespace {

// The length of the well-formed UTF-8 sequence that starts at `p` (shortest form, no surrogates, at
// most U+10FFFF), or 0 when there is none.
size_t SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = *p;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<size_t>(end - p) < length || p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return length;
}

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
            const size_t length = SequenceLength(p, end);
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

}  // namespace bm
