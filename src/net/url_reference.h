// Reading a Location header against the address it answered: RFC 3986
// reference resolution for the absolute http(s) addresses the agent uses.
#pragma once
#include <string>
#include <string_view>

namespace Zentrovak::Network {

// The absolute address `reference` names when read against the absolute
// address `base`; the fragment of the result is dropped (it never leaves
// the client).
std::u16string ResolveReference(std::u16string_view base, std::u16string_view reference);

// RFC 3986 5.2.4: a path with its "." and ".." segments taken out.
std::u16string RemoveDotSegments(std::u16string_view path);

// Whether a redirect from `from` to `to` is followed: only to http or
// https, and never from https down to http, as WinHTTP's default policy.
bool MayFollowRedirect(std::u16string_view from, std::u16string_view to);

// WinHTTP's limit of redirects followed for one request.
inline constexpr int kMaxRedirects = 10;

}  // namespace Zentrovak::Network
