#include "core/browser_urls.h"

#include <ada.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/bookmark_record.h"

// Both browsers start from a URL parser close to the WHATWG one that ada implements; the rules below are
// where each real browser was seen to differ from it (tests/core/browser_urls_test.cpp holds the table).

namespace bm {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (AsciiLower(text[i]) != prefix[i]) return false;
    return true;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool IsSlash(char c) { return c == '/' || c == '\\'; }

// What every URL parser of both browsers does first: leading and trailing C0 controls and blanks go,
// and so does every tab, line feed and carriage return inside.
std::string Cleaned(const std::wstring& url) {
    const std::string utf8 = ToUtf8(url);
    size_t begin = 0, end = utf8.size();
    while (begin < end && static_cast<unsigned char>(utf8[begin]) <= 0x20) ++begin;
    while (end > begin && static_cast<unsigned char>(utf8[end - 1]) <= 0x20) --end;
    std::string out;
    out.reserve(end - begin);
    for (size_t i = begin; i < end; ++i)
        if (utf8[i] != '\t' && utf8[i] != '\n' && utf8[i] != '\r') out.push_back(utf8[i]);
    return out;
}

// The scheme in lower case, or empty when the text does not start with one.
std::string SchemeOf(std::string_view text) {
    if (text.empty() || !((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z'))) return {};
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':') {
            std::string scheme(text.substr(0, i));
            for (char& s : scheme) s = AsciiLower(s);
            return scheme;
        }
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                        c == '-' || c == '.';
        if (!ok) return {};
    }
    return {};
}

bool IsSpecialScheme(std::string_view scheme) {
    return scheme == "http" || scheme == "https" || scheme == "ws" || scheme == "wss" || scheme == "ftp" ||
           scheme == "file";
}

// Schemes that Chromium registers as standard, with a host and no port: it parses them like http.
bool IsChromiumStandardScheme(std::string_view scheme) {
    static constexpr std::array<std::string_view, 8> kSchemes = {
        "chrome", "chrome-extension", "chrome-untrusted", "chrome-search", "chrome-error", "chrome-native",
        "devtools", "isolated-app"};
    for (std::string_view s : kSchemes)
        if (s == scheme) return true;
    return false;
}

// Where the host and port sit in a cleaned URL whose scheme takes an authority.
struct Authority {
    bool present = false;
    size_t hostBegin = 0;  // after any user info
    size_t hostEnd = 0;    // before any ':' port
    size_t end = 0;        // before the '/', '\', '?' or '#' that ends the authority, or the text's end
};

Authority FindAuthority(std::string_view text, std::string_view scheme) {
    Authority a;
    size_t at = scheme.size() + 1;
    if (scheme == "file") {
        // Only "file:" and two slashes start a host; one or three leave it empty.
        if (at + 1 >= text.size() || !IsSlash(text[at]) || !IsSlash(text[at + 1])) return a;
        if (at + 2 < text.size() && IsSlash(text[at + 2])) return a;
        at += 2;
    } else {
        while (at < text.size() && IsSlash(text[at])) ++at;
    }
    a.present = true;
    a.end = at;
    while (a.end < text.size() && !IsSlash(text[a.end]) && text[a.end] != '?' && text[a.end] != '#') ++a.end;
    const size_t userinfo = text.substr(at, a.end - at).rfind('@');
    a.hostBegin = userinfo == std::string_view::npos ? at : at + userinfo + 1;
    // The port follows the last ':' outside brackets (Chromium's reading; where the URL standard's first
    // ':' differs, the text fails either way).
    a.hostEnd = a.end;
    bool inBrackets = false;
    for (size_t i = a.hostBegin; i < a.end; ++i) {
        if (text[i] == '[') inBrackets = true;
        if (text[i] == ']') inBrackets = false;
        if (text[i] == ':' && !inBrackets) a.hostEnd = i;
    }
    return a;
}

// A host that holds no letter beyond ASCII, also not as a percent escape: Chromium then runs no IDNA.
bool IsAsciiHost(std::string_view host) {
    for (size_t i = 0; i < host.size(); ++i) {
        if (static_cast<unsigned char>(host[i]) >= 0x80) return false;
        if (host[i] == '%' && i + 2 < host.size() && IsHexDigit(host[i + 1]) && IsHexDigit(host[i + 2]) &&
            ((host[i + 1] >= '8' && host[i + 1] <= '9') || (AsciiLower(host[i + 1]) >= 'a')))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- right-to-left labels (RFC 5893)

enum class Dir { L, R, AL, EN, AN, ES, CS, ET, ON, BN, NSM };

bool In(char32_t c, char32_t lo, char32_t hi) { return c >= lo && c <= hi; }

// The Bidi class of a code point, for the scripts that matter in host names: the right-to-left scripts
// with their digits and marks in detail, combining marks and symbols of the rest roughly.
Dir DirectionOf(char32_t c) {
    if (c < 0x80) {
        if (c >= '0' && c <= '9') return Dir::EN;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return Dir::L;
        if (c == '-' || c == '+') return Dir::ES;
        if (c == ',' || c == '.' || c == '/' || c == ':') return Dir::CS;
        if (c == '#' || c == '$' || c == '%') return Dir::ET;
        return Dir::ON;
    }
    if (In(c, 0x0300, 0x036F) || In(c, 0x0483, 0x0489) || In(c, 0x1AB0, 0x1AFF) || In(c, 0x1DC0, 0x1DFF) ||
        In(c, 0x20D0, 0x20FF) || In(c, 0xFE00, 0xFE0F) || In(c, 0xFE20, 0xFE2F))
        return Dir::NSM;
    if (In(c, 0x0590, 0x05FF)) {
        if (In(c, 0x0591, 0x05BD) || c == 0x05BF || In(c, 0x05C1, 0x05C2) || In(c, 0x05C4, 0x05C5) || c == 0x05C7)
            return Dir::NSM;
        return Dir::R;
    }
    if (In(c, 0x0600, 0x06FF)) {
        if (In(c, 0x0600, 0x0605) || In(c, 0x0660, 0x0669) || In(c, 0x066B, 0x066C) || c == 0x06DD) return Dir::AN;
        if (In(c, 0x06F0, 0x06F9)) return Dir::EN;
        if (In(c, 0x0610, 0x061A) || In(c, 0x064B, 0x065F) || c == 0x0670 || In(c, 0x06D6, 0x06DC) ||
            In(c, 0x06DF, 0x06E4) || In(c, 0x06E7, 0x06E8) || In(c, 0x06EA, 0x06ED))
            return Dir::NSM;
        return Dir::AL;
    }
    if (In(c, 0x0700, 0x074F)) return c == 0x0711 || In(c, 0x0730, 0x074A) ? Dir::NSM : Dir::AL;
    if (In(c, 0x0750, 0x077F)) return Dir::AL;
    if (In(c, 0x0780, 0x07BF)) return In(c, 0x07A6, 0x07B0) ? Dir::NSM : Dir::AL;
    if (In(c, 0x07C0, 0x07FF)) return In(c, 0x07EB, 0x07F3) || c == 0x07FD ? Dir::NSM : Dir::R;
    if (In(c, 0x0800, 0x085F))
        return In(c, 0x0816, 0x0819) || In(c, 0x081B, 0x0823) || In(c, 0x0825, 0x0827) || In(c, 0x0829, 0x082D) ||
                       In(c, 0x0859, 0x085B)
                   ? Dir::NSM
                   : Dir::R;
    if (In(c, 0x0860, 0x08FF)) {
        if (In(c, 0x0890, 0x0891) || c == 0x08E2) return Dir::AN;
        if (In(c, 0x0898, 0x089F) || In(c, 0x08CA, 0x08E1) || In(c, 0x08E3, 0x08FF)) return Dir::NSM;
        return Dir::AL;
    }
    if (In(c, 0xFB1D, 0xFB4F)) return c == 0xFB1E ? Dir::NSM : Dir::R;
    if (In(c, 0xFB50, 0xFDFF) || In(c, 0xFE70, 0xFEFF)) return Dir::AL;
    if (In(c, 0x10D30, 0x10D39) || In(c, 0x10E60, 0x10E7E)) return Dir::AN;
    if (In(c, 0x10800, 0x10FFF) || In(c, 0x1E800, 0x1EC6F)) return Dir::R;
    if (In(c, 0x1EC70, 0x1EEFF)) return Dir::AL;
    if (In(c, 0x2000, 0x2BFF) || In(c, 0x3000, 0x303F) || In(c, 0x1F000, 0x1FAFF)) return Dir::ON;
    return Dir::L;
}

// RFC 5893's six conditions on every label of a domain that holds a right-to-left one; both browsers
// refuse a host that breaks them, and ada does not test them all.
bool BidiRuleHolds(const std::vector<std::u32string>& labels) {
    bool bidiDomain = false;
    for (const std::u32string& label : labels)
        for (char32_t c : label) {
            const Dir d = DirectionOf(c);
            if (d == Dir::R || d == Dir::AL || d == Dir::AN) bidiDomain = true;
        }
    if (!bidiDomain) return true;
    for (const std::u32string& label : labels) {
        if (label.empty()) continue;
        size_t last = label.size();
        while (last > 0 && DirectionOf(label[last - 1]) == Dir::NSM) --last;
        if (last == 0) return false;
        const Dir first = DirectionOf(label[0]);
        const Dir end = DirectionOf(label[last - 1]);
        if (first == Dir::R || first == Dir::AL) {
            bool en = false, an = false;
            for (char32_t c : label) {
                const Dir d = DirectionOf(c);
                if (d == Dir::L) return false;
                en = en || d == Dir::EN;
                an = an || d == Dir::AN;
            }
            if (en && an) return false;
            if (end != Dir::R && end != Dir::AL && end != Dir::EN && end != Dir::AN) return false;
        } else if (first == Dir::L) {
            for (char32_t c : label) {
                const Dir d = DirectionOf(c);
                if (d == Dir::R || d == Dir::AL || d == Dir::AN) return false;
            }
            if (end != Dir::L && end != Dir::EN) return false;
        } else {
            return false;
        }
    }
    return true;
}

// The labels of a parsed host in Unicode: each "xn--" label decoded (ada has checked that it decodes).
bool BidiRuleHoldsForHost(std::string_view asciiHost) {
    std::vector<std::u32string> labels;
    size_t start = 0;
    while (start <= asciiHost.size()) {
        size_t dot = asciiHost.find('.', start);
        if (dot == std::string_view::npos) dot = asciiHost.size();
        const std::string_view label = asciiHost.substr(start, dot - start);
        std::u32string decoded;
        if (StartsWithNoCase(label, "xn--")) {
            if (!ada::idna::punycode_to_utf32(label.substr(4), decoded)) return false;
        } else {
            decoded.assign(label.begin(), label.end());
        }
        labels.push_back(std::move(decoded));
        start = dot + 1;
    }
    return BidiRuleHolds(labels);
}

std::optional<ada::url_aggregator> Parse(std::string_view text) {
    auto parsed = ada::parse<ada::url_aggregator>(text);
    if (!parsed) return std::nullopt;
    return std::move(*parsed);
}

// ---------------------------------------------------------------- Chromium

// The length of a blank at `at`: ' ', or a UTF-8 space that IDNA maps to ' ' (no-break, en to hair,
// narrow no-break, medium mathematical and ideographic spaces); 0 when there is none.
size_t SpaceLengthAt(std::string_view text, size_t at) {
    if (text[at] == ' ') return 1;
    const std::string_view rest = text.substr(at);
    if (rest.size() >= 2 && rest[0] == '\xC2' && rest[1] == '\xA0') return 2;
    if (rest.size() >= 3 && rest[0] == '\xE2') {
        const unsigned char b1 = static_cast<unsigned char>(rest[1]), b2 = static_cast<unsigned char>(rest[2]);
        if (b1 == 0x80 && (b2 <= 0x8A || b2 == 0xAF)) return 3;
        if (b1 == 0x81 && b2 == 0x9F) return 3;
    }
    if (rest.size() >= 3 && rest[0] == '\xE3' && rest[1] == '\x80' && rest[2] == '\x80') return 3;
    return 0;
}

// Chromium's host parser escapes a blank instead of refusing it, and takes an all-ASCII "xn--" label as
// it is, without decoding it. The text with such parts made plain letters, for ada to judge the rest.
std::string WithChromiumHostLeniency(std::string text, const Authority& a) {
    std::string host = text.substr(a.hostBegin, a.hostEnd - a.hostBegin);
    if (host.empty() || host[0] == '[') return text;
    const bool ascii = IsAsciiHost(host);
    std::string out;
    for (size_t i = 0; i < host.size(); ++i) {
        const size_t space = SpaceLengthAt(host, i);
        if (space > 0) {
            out += 'a';
            i += space - 1;
        } else if (host[i] == '%' && i + 2 < host.size() && host[i + 1] == '2' && host[i + 2] == '0') {
            out += 'a';
            i += 2;
        } else {
            out += host[i];
        }
    }
    if (ascii) {
        std::string labels;
        size_t start = 0;
        while (start <= out.size()) {
            size_t dot = out.find('.', start);
            if (dot == std::string::npos) dot = out.size();
            const std::string label = out.substr(start, dot - start);
            labels += StartsWithNoCase(label, "xn--") ? "xnaa" + label.substr(4) : label;
            if (dot < out.size()) labels += '.';
            start = dot + 1;
        }
        out = labels;
    }
    return text.replace(a.hostBegin, a.hostEnd - a.hostBegin, out);
}

bool ChromiumKeepsText(const std::string& text, int depth) {
    const std::string scheme = SchemeOf(text);
    if (scheme.empty()) return false;
    if (scheme == "filesystem") {
        // An inner URL of a scheme with a host, and a path that names more than its root.
        const std::string inner = text.substr(scheme.size() + 1);
        const std::string innerScheme = SchemeOf(inner);
        if (depth > 0 || !(IsSpecialScheme(innerScheme) || IsChromiumStandardScheme(innerScheme))) return false;
        if (!ChromiumKeepsText(inner, depth + 1)) return false;
        const Authority a = FindAuthority(inner, innerScheme);
        std::string_view path = std::string_view(inner).substr(a.present ? a.end : innerScheme.size() + 1);
        path = path.substr(0, std::min(path.find('?'), path.find('#')));
        while (!path.empty() && IsSlash(path.front())) path.remove_prefix(1);
        return !path.empty();
    }
    const bool standard = IsChromiumStandardScheme(scheme);
    if (!IsSpecialScheme(scheme) && !standard) return static_cast<bool>(Parse(text));

    std::string judged = text;
    Authority a = FindAuthority(judged, scheme);
    if (standard) {
        // Parsed as http would be, without a port: whatever follows the last ':' after the host is dropped.
        if (std::string_view(judged).substr(a.hostBegin, a.hostEnd - a.hostBegin).find(':') != std::string_view::npos &&
            judged[a.hostBegin] != '[')
            return false;
        judged.erase(a.hostEnd, a.end - a.hostEnd);
        a.end = a.hostEnd;
    }
    if (scheme == "file" && a.present && a.hostEnd > a.hostBegin) {
        const std::string_view host = std::string_view(judged).substr(a.hostBegin, a.hostEnd - a.hostBegin);
        // A host ended by a query or fragment is refused, and a drive letter is no host.
        if (a.end < judged.size() && (judged[a.end] == '?' || judged[a.end] == '#')) return false;
        if (a.hostEnd < a.end) return false;
        if (host.size() == 2 && ((host[0] >= 'a' && host[0] <= 'z') || (host[0] >= 'A' && host[0] <= 'Z')) &&
            (host[1] == ':' || host[1] == '|'))
            return false;
    }
    if (a.present) judged = WithChromiumHostLeniency(judged, a);
    if (standard) judged.replace(0, scheme.size(), "http");
    auto parsed = Parse(judged);
    if (!parsed) return false;
    const std::string_view rawHost =
        a.present ? std::string_view(text).substr(a.hostBegin, a.hostEnd - a.hostBegin) : std::string_view();
    if (!IsAsciiHost(rawHost) && !BidiRuleHoldsForHost(parsed->get_hostname())) return false;
    return true;
}

// ---------------------------------------------------------------- Firefox

// Schemes that Firefox parses as standard URLs of its own (not the URL standard's special schemes):
// their host may be empty, but a host that is there must be one Firefox can look up.
bool IsFirefoxStandardScheme(std::string_view scheme) {
    return scheme == "chrome" || scheme == "resource" || scheme == "moz-extension";
}

// "0x" with no digits is the number 0 to the URL standard, and no number to Firefox.
bool EndsInEmptyHexNumber(std::string_view host) {
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    const size_t dot = host.rfind('.');
    const std::string_view last = dot == std::string_view::npos ? host : host.substr(dot + 1);
    return last.size() == 2 && last[0] == '0' && AsciiLower(last[1]) == 'x';
}

bool FirefoxTakesStandardHost(std::string_view text, std::string_view scheme) {
    size_t at = scheme.size() + 1, slashes = 0;
    while (at + slashes < text.size() && text[at + slashes] == '/') ++slashes;
    if (slashes == 1 || slashes > 2) return true;  // a path alone, no host
    at += slashes;
    size_t end = at;
    while (end < text.size() && text[end] != '/' && text[end] != '?' && text[end] != '#') ++end;
    std::string_view hostPort = text.substr(at, end - at);
    const size_t userinfo = hostPort.rfind('@');
    if (userinfo != std::string_view::npos) hostPort.remove_prefix(userinfo + 1);
    size_t colon = std::string_view::npos;
    bool inBrackets = false;
    for (size_t i = 0; i < hostPort.size(); ++i) {
        if (hostPort[i] == '[') inBrackets = true;
        if (hostPort[i] == ']') inBrackets = false;
        if (hostPort[i] == ':' && !inBrackets) {
            colon = i;
            break;
        }
    }
    const std::string_view host = hostPort.substr(0, colon);
    if (colon != std::string_view::npos) {
        const std::string_view port = hostPort.substr(colon + 1);
        if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) return false;
        if (!port.empty() && std::stoi(std::string(port)) > 65535) return false;
    }
    if (host.empty()) return userinfo == std::string_view::npos;
    if (host[0] == '[') return false;
    for (size_t i = 0; i < host.size(); ++i) {
        const unsigned char u = static_cast<unsigned char>(host[i]);
        if (u <= 0x20 || u == 0x7F || std::string_view("\"*%[]\\|^<>").find(host[i]) != std::string_view::npos ||
            SpaceLengthAt(host, i) > 0)
            return false;
    }
    const std::string ascii = ada::idna::to_ascii(host);
    return !ascii.empty() && ascii != "0x" && BidiRuleHoldsForHost(ascii);
}

bool FirefoxKeepsText(const std::string& text, int depth) {
    const std::string scheme = SchemeOf(text);
    if (scheme.empty() || depth > 8) return false;
    // Protocol handlers of Firefox's own that take any text after the scheme.
    if (scheme == "file" || scheme == "about" || scheme == "blob" || scheme == "moz-icon" || scheme == "moz")
        return true;
    // A view of the source of another URL that Firefox keeps.
    if (scheme == "view-source") return FirefoxKeepsText(text.substr(scheme.size() + 1), depth + 1);
    if (scheme == "jar") {
        const size_t bang = text.find("!/");
        return bang != std::string::npos && FirefoxKeepsText(text.substr(4, bang - 4), depth + 1);
    }
    if (IsFirefoxStandardScheme(scheme)) return static_cast<bool>(Parse(text)) && FirefoxTakesStandardHost(text, scheme);
    auto parsed = Parse(text);
    if (!parsed && !IsSpecialScheme(scheme)) {
        // Firefox ends the port of a URL of another scheme at a '\', which then starts the path.
        const Authority a = FindAuthority(text, scheme);
        const size_t backslash = text.find('\\', a.hostEnd);
        if (text.compare(scheme.size() + 1, 2, "//") == 0 && a.hostEnd < a.end && backslash == a.end)
            parsed = Parse(text.substr(0, backslash) + "/" + text.substr(backslash));
    }
    if (!parsed) return false;
    if (!parsed->is_special()) return true;
    const std::string_view host = parsed->get_hostname();
    // Firefox's host parser refuses these two, which the URL standard allows.
    if (host.find('"') != std::string_view::npos || host.find('*') != std::string_view::npos) return false;
    const Authority a = FindAuthority(text, scheme);
    if (EndsInEmptyHexNumber(std::string_view(text).substr(a.hostBegin, a.hostEnd - a.hostBegin))) return false;
    return BidiRuleHoldsForHost(host);
}

}  // namespace

bool ChromiumKeepsUrl(const std::wstring& url) { return ChromiumKeepsText(Cleaned(url), 0); }

bool FirefoxKeepsUrl(const std::wstring& url) { return FirefoxKeepsText(Cleaned(url), 0); }

}  // namespace bm
