// Which documents may use the external object. It runs every command with
// the program's rights, so only the program's own pages (its resources) and
// pages from the origin of the "ResUrl" setting get it; any other document
// the window comes to show (a link, a redirect) is refused.
#pragma once
#include <string>
#include <string_view>

namespace Zentrovak::UI {

// "scheme://host[:port]" in lower case, the default port left out; empty
// for an address without a host (file:, about:, res: and the like).
std::u16string UrlOrigin(std::u16string_view url);

// `ownPrefix`: the address prefix of the program's resources (win32
// "res://<module path>/"); `resUrl`: the setting, may be empty. Addresses
// are compared without case and without their "#" part. For an http(s)
// `resUrl` its origin counts; for any other kind its folder.
bool IsTrustedDocument(std::u16string_view documentUrl, std::u16string_view ownPrefix, std::u16string_view resUrl);

}  // namespace Zentrovak::UI
