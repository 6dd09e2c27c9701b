#include "ui/document_trust.h"

#include "net/url_reference.h"
#include "platform/text.h"

namespace Zentrovak::UI {

namespace {

// A file path as the browser reports the file's address: "C:\x" becomes
// "file:///C:/x", "\\server\share" "file://server/share".
std::u16string AsAddress(std::u16string_view text) {
  const bool drivePath = text.size() >= 2 && text[1] == u':' &&
                         ((text[0] >= u'a' && text[0] <= u'z') || (text[0] >= u'A' && text[0] <= u'Z'));
  if (drivePath) return u"file:///" + std::u16string(text);
  if (text.substr(0, 2) == u"\\\\") return u"file:" + std::u16string(text);
  return std::u16string(text);
}

// Compared form: without the "#" part, escapes decoded, backslashes as
// slashes, "." and ".." resolved (an escaped "..%2F" must not climb out of
// the trusted folder), letter case folded.
std::u16string Normalised(std::u16string_view url) {
  std::u16string text = AsAddress(url.substr(0, url.find(u'#')));
  text = Platform::PercentDecoded(text);
  for (auto& c : text)
    if (c == u'\\') c = u'/';
  const size_t scheme = text.find(u"://");
  if (scheme != std::u16string::npos) {
    const size_t pathStart = text.find(u'/', scheme + 3);
    if (pathStart != std::u16string::npos)
      text = text.substr(0, pathStart) + Network::RemoveDotSegments(std::u16string_view(text).substr(pathStart));
  }
  return Platform::FoldCase(text);
}

bool StartsWith(const std::u16string& text, const std::u16string& prefix) {
  return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::u16string UrlOrigin(std::u16string_view url) {
  std::u16string text = Platform::AsciiLower(std::u16string(url));
  const auto scheme = text.find(u"://");
  if (scheme == std::u16string::npos || scheme == 0) return {};
  const std::u16string name = text.substr(0, scheme);
  if (name != u"http" && name != u"https") return {};
  const size_t hostStart = scheme + 3;
  size_t hostEnd = text.find_first_of(u"/?#\\", hostStart);
  if (hostEnd == std::u16string::npos) hostEnd = text.size();
  std::u16string authority = text.substr(hostStart, hostEnd - hostStart);
  // User information never names the origin.
  if (const auto at = authority.rfind(u'@'); at != std::u16string::npos) authority.erase(0, at + 1);
  if (authority.empty()) return {};
  const std::u16string defaultPort = name == u"http" ? u":80" : u":443";
  if (authority.size() > defaultPort.size() &&
      authority.compare(authority.size() - defaultPort.size(), defaultPort.size(), defaultPort) == 0)
    authority.resize(authority.size() - defaultPort.size());
  return name + u"://" + authority;
}

bool IsTrustedDocument(std::u16string_view documentUrl, std::u16string_view ownPrefix, std::u16string_view resUrl) {
  const std::u16string document = Normalised(documentUrl);
  if (document.empty()) return false;
  if (StartsWith(document, Normalised(ownPrefix))) return true;
  if (resUrl.empty()) return false;
  const std::u16string origin = UrlOrigin(resUrl);
  if (!origin.empty()) return UrlOrigin(documentUrl) == origin;
  const std::u16string setting = Normalised(resUrl);
  const auto slash = setting.rfind(u'/');
  return slash != std::u16string::npos && StartsWith(document, setting.substr(0, slash + 1));
}

}  // namespace Zentrovak::UI
