// URLs split as WinHttpCrackUrl splits them into the agent's fixed buffers,
// so that both targets refuse the same URLs with the same codes.
#include "net/http_backend.h"
#include "platform/text.h"

namespace Zentrovak::Network {

using Platform::Win32Error;

namespace {

// Buffer sizes in characters, the terminator included.
constexpr size_t kSchemeRoom = 10;
constexpr size_t kHostRoom = 100;
constexpr size_t kPathRoom = 512;
constexpr size_t kExtraRoom = 512;

}  // namespace

Win32Error CrackUrl(std::u16string_view url, CrackedUrl& parts) {
  const size_t schemeEnd = url.find(u"://");
  if (schemeEnd == std::u16string_view::npos || schemeEnd == 0) return HttpError::kUnrecognizedScheme;
  const std::u16string_view scheme = url.substr(0, schemeEnd);
  bool secure;
  if (Platform::AsciiEqualsIgnoreCase(scheme, u"http")) secure = false;
  else if (Platform::AsciiEqualsIgnoreCase(scheme, u"https")) secure = true;
  else return HttpError::kUnrecognizedScheme;

  const std::u16string_view rest = url.substr(schemeEnd + 3);
  const size_t authorityEnd = rest.find_first_of(u"/?#");
  std::u16string_view authority = rest.substr(0, authorityEnd);
  const std::u16string_view tail = authorityEnd == std::u16string_view::npos ? std::u16string_view() : rest.substr(authorityEnd);

  // User name and password are not used by the agent.
  if (const size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) authority.remove_prefix(at + 1);

  std::u16string_view host = authority;
  std::u16string_view portText;
  if (!authority.empty() && authority.front() == u'[') {
    const size_t close = authority.find(u']');
    if (close == std::u16string_view::npos) return HttpError::kInvalidUrl;
    host = authority.substr(0, close + 1);
    const std::u16string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != u':') return HttpError::kInvalidUrl;
      portText = after.substr(1);
    }
  } else if (const size_t colon = authority.find(u':'); colon != std::u16string_view::npos) {
    host = authority.substr(0, colon);
    portText = authority.substr(colon + 1);
  }
  if (host.empty()) return HttpError::kInvalidUrl;

  uint32_t port = secure ? 443 : 80;
  if (!portText.empty()) {
    if (portText.size() > 5) return HttpError::kInvalidUrl;
    port = 0;
    for (char16_t c : portText) {
      if (c < u'0' || c > u'9') return HttpError::kInvalidUrl;
      port = port * 10 + (c - u'0');
    }
    if (port == 0 || port > 65535) return HttpError::kInvalidUrl;
  }

  const size_t extraStart = tail.find_first_of(u"?#");
  const std::u16string_view path = tail.substr(0, extraStart);
  const std::u16string_view extra = extraStart == std::u16string_view::npos ? std::u16string_view() : tail.substr(extraStart);

  if (scheme.size() >= kSchemeRoom || host.size() >= kHostRoom || path.size() >= kPathRoom ||
      extra.size() >= kExtraRoom)
    return Platform::kErrorInsufficientBuffer;

  parts.scheme = std::u16string(scheme);
  parts.host = std::u16string(host);
  parts.port = static_cast<uint16_t>(port);
  parts.secure = secure;
  parts.path = std::u16string(path);
  parts.extra = std::u16string(extra);
  return 0;
}

}  // namespace Zentrovak::Network
