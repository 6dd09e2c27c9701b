// Location headers read against the address they answered, and which
// redirects are followed.
#include <gtest/gtest.h>

#include "net/url_reference.h"
#include "platform/text.h"

namespace Zentrovak::Network {
namespace {

TEST(ResolveReference, ReadsEveryFormOfLocationAgainstTheAddress) {
  const std::u16string base = u"http://bank.example.cn:8080/ebank/login/start.do?x=1#top";
  struct Case {
    const char16_t* location;
    const char16_t* expected;
  } const cases[] = {
      {u"https://other.example.cn/a?b#frag", u"https://other.example.cn/a?b"},
      {u"//cdn.example.cn/pkg.exe", u"http://cdn.example.cn/pkg.exe"},
      {u"/root.html", u"http://bank.example.cn:8080/root.html"},
      {u"next.do", u"http://bank.example.cn:8080/ebank/login/next.do"},
      {u"../logout.do?y=2", u"http://bank.example.cn:8080/ebank/logout.do?y=2"},
      {u"./a/./b/../c", u"http://bank.example.cn:8080/ebank/login/a/c"},
      {u"../../../../up", u"http://bank.example.cn:8080/up"},
      {u"?page=2", u"http://bank.example.cn:8080/ebank/login/start.do?page=2"},
      {u"", u"http://bank.example.cn:8080/ebank/login/start.do?x=1"},
      {u"#only", u"http://bank.example.cn:8080/ebank/login/start.do?x=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Platform::Utf16ToUtf8(c.location));
    EXPECT_EQ(c.expected, ResolveReference(base, c.location));
  }
  EXPECT_EQ(u"http://h/x", ResolveReference(u"http://h", u"x"));
}

TEST(MayFollowRedirect, NeverFromHttpsDownToHttpNorToOtherSchemes) {
  EXPECT_TRUE(MayFollowRedirect(u"http://a/", u"http://b/"));
  EXPECT_TRUE(MayFollowRedirect(u"http://a/", u"HTTPS://b/"));
  EXPECT_TRUE(MayFollowRedirect(u"https://a/", u"https://b/"));
  EXPECT_FALSE(MayFollowRedirect(u"https://a/", u"http://b/"));
  EXPECT_FALSE(MayFollowRedirect(u"HTTPS://a/", u"http://b/"));
  EXPECT_FALSE(MayFollowRedirect(u"http://a/", u"ftp://b/"));
  EXPECT_FALSE(MayFollowRedirect(u"http://a/", u"file:///C:/x"));
}

}  // namespace
}  // namespace Zentrovak::Network
