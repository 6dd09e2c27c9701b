#include "net/url_reference.h"

#include "platform/text.h"

namespace Zentrovak::Network {

namespace {

bool IsSchemeChar(char16_t c, bool first) {
  const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  if (first) return letter;
  return letter || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.';
}

// The scheme's length (without ':'), or 0 when the text starts with none.
size_t SchemeLength(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u':') return i;
    if (!IsSchemeChar(text[i], i == 0)) return 0;
  }
  return 0;
}

std::u16string WithoutFragment(std::u16string_view text) {
  return std::u16string(text.substr(0, text.find(u'#')));
}

}  // namespace

std::u16string RemoveDotSegments(std::u16string_view path) {
  std::u16string out;
  while (!path.empty()) {
    if (path.substr(0, 3) == u"../") path.remove_prefix(3);
    else if (path.substr(0, 2) == u"./") path.remove_prefix(2);
    else if (path.substr(0, 3) == u"/./") path.remove_prefix(2);
    else if (path == u"/.") path = u"/";
    else if (path.substr(0, 4) == u"/../" || path == u"/..") {
      path = path.size() == 3 ? u"/" : path.substr(3);
      const size_t slash = out.rfind(u'/');
      out.erase(slash == std::u16string::npos ? 0 : slash);
    } else if (path == u"." || path == u"..") {
      path = {};
    } else {
      const size_t next = path.find(u'/', 1);
      out.append(path.substr(0, next));
      path = next == std::u16string_view::npos ? std::u16string_view() : path.substr(next);
    }
  }
  return out;
}

std::u16string ResolveReference(std::u16string_view base, std::u16string_view reference) {
  if (SchemeLength(reference) > 0) return WithoutFragment(reference);
  const size_t schemeEnd = SchemeLength(base);
  const std::u16string_view scheme = base.substr(0, schemeEnd + 1);  // with ':'
  if (reference.substr(0, 2) == u"//") return std::u16string(scheme) + WithoutFragment(reference);
  // The base's authority runs from "//" to the path, query or fragment.
  const size_t authorityStart = schemeEnd + 3;
  size_t pathStart = base.find_first_of(u"/?#", authorityStart);
  if (pathStart == std::u16string_view::npos) pathStart = base.size();
  const std::u16string origin(base.substr(0, pathStart));
  const std::u16string_view rest = base.substr(pathStart);
  const std::u16string_view basePath = rest.substr(0, rest.find_first_of(u"?#"));
  const std::u16string_view baseQuery = rest.substr(basePath.size(), rest.find(u'#') - basePath.size());
  const std::u16string target = WithoutFragment(reference);
  if (target.empty()) return origin + std::u16string(basePath) + std::u16string(baseQuery);
  if (target.front() == u'?') return origin + std::u16string(basePath) + target;
  const size_t queryAt = target.find(u'?');
  const std::u16string_view path = std::u16string_view(target).substr(0, queryAt);
  const std::u16string query = queryAt == std::u16string::npos ? std::u16string() : target.substr(queryAt);
  std::u16string merged;
  if (!path.empty() && path.front() == u'/') {
    merged = std::u16string(path);
  } else {
    const size_t lastSlash = basePath.rfind(u'/');
    merged = (lastSlash == std::u16string_view::npos ? u"/" : std::u16string(basePath.substr(0, lastSlash + 1))) +
             std::u16string(path);
  }
  return origin + RemoveDotSegments(merged) + query;
}

bool MayFollowRedirect(std::u16string_view from, std::u16string_view to) {
  const bool toSecure = Platform::AsciiStartsWithIgnoreCase(to, u"https://");
  if (!toSecure && !Platform::AsciiStartsWithIgnoreCase(to, u"http://")) return false;
  return toSecure || !Platform::AsciiStartsWithIgnoreCase(from, u"https://");
}

}  // namespace Zentrovak::Network
