#pragma once
// URLs as Firefox keeps them in moz_places: the stored text, its rev_host and its moz_origins key.

#include <string>

namespace bm {

// The text Firefox stores for a URL: the WHATWG serialization (scheme and host lower-cased, IDN hosts
// in punycode, "/" after a bare host, default ports dropped, spaces and non-ASCII percent-encoded),
// which is what its URL parser gives. A text that does not parse as a URL comes back unchanged.
std::string CanonicalPlacesUrl(const std::string& utf8Url);

// moz_places.rev_host of a stored URL: its host (with a port when it has one, never a user part)
// reversed, then "."; just "." for a URL without a host or a text that does not parse.
std::string PlacesReversedHost(const std::string& storedUrl);

// The moz_origins row a stored URL belongs to: prefix "scheme:" or "scheme://", and the host and port
// that follow it, without a user part.
struct PlacesOrigin {
    std::string prefix;
    std::string host;
};
PlacesOrigin PlacesOriginOf(const std::string& storedUrl);

}  // namespace bm
