#include "core/places_url.h"

#include <ada.h>

#include <algorithm>

namespace bm {

std::string CanonicalPlacesUrl(const std::string& utf8Url) {
    auto parsed = ada::parse<ada::url_aggregator>(utf8Url);
    if (!parsed) return utf8Url;
    return std::string(parsed->get_href());
}

std::string PlacesReversedHost(const std::string& storedUrl) {
    auto parsed = ada::parse<ada::url_aggregator>(storedUrl);
    if (!parsed) return ".";
    std::string host(parsed->get_host());
    std::reverse(host.begin(), host.end());
    return host + ".";
}

PlacesOrigin PlacesOriginOf(const std::string& storedUrl) {
    PlacesOrigin origin;
    const size_t colon = storedUrl.find(':');
    if (colon == std::string::npos) {
        origin.host = storedUrl;
        return origin;
    }
    size_t start = colon + 1;
    if (storedUrl.compare(start, 2, "//") == 0) start += 2;
    origin.prefix = storedUrl.substr(0, start);
    const size_t end = std::min(storedUrl.find_first_of("/?#", start), storedUrl.size());
    std::string hostAndPort = storedUrl.substr(start, end - start);
    const size_t at = hostAndPort.rfind('@');
    if (at != std::string::npos) hostAndPort.erase(0, at + 1);
    origin.host = std::move(hostAndPort);
    return origin;
}

}  // namespace bm
