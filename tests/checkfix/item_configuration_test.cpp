// The item configuration: the document's rules as the model holds them,
// loads from files and from a loopback server, and bad documents.
#include <gtest/gtest.h>

#include <chrono>

#include "checkfix/item_configuration.h"
#include "checkfix/xml_reader.h"
#include "platform/files.h"
#include "platform/text.h"
#include "support/fixture_paths.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace Zentrovak::Assistant {
namespace {

using Platform::HResult;
using Testing::FixturePath;

ItemConfiguration LoadFixture(const char* name, HResult expected = Platform::kSOk) {
  ItemConfiguration model;
  EXPECT_EQ(expected, model.Load(FixturePath(std::string("config/") + name))) << name;
  return model;
}

TEST(ItemConfiguration, GroupsMergeByTypeAndAttributeNamesLoseTheirCase) {
  ItemConfiguration model = LoadFixture("groups.xml");
  // Root attributes: names lower-cased, empty values dropped, no "base"
  // from a plain path.
  EXPECT_EQ((AttributeMap{{"vendor", "澜屿银行"}, {"version", "3"}}), model.rootAttributes);

  ASSERT_EQ(4u, model.groups.size());
  EXPECT_EQ("registry", model.groups[0].type);
  EXPECT_EQ("host", model.groups[1].type);
  EXPECT_EQ("", model.groups[2].type);  // `config TYPE=` is no type
  EXPECT_EQ("Registry", model.groups[3].type);  // types are exact

  const ConfigGroup* registry = model.FindGroup("registry");
  ASSERT_NE(nullptr, registry);
  ASSERT_EQ(3u, registry->entries.size());
  const ConfigEntry& first = registry->entries[0];
  EXPECT_EQ(0, first.state);
  EXPECT_EQ("HKCU\\Software\\Zentrovak\\One", first.text);
  EXPECT_EQ((AttributeMap{{"name", "Flag"}, {"type", "reg_dword"}, {"value", "1"}}), first.attributes);
  EXPECT_EQ("", GetAttr(first.attributes, "mask"));  // empty is absent
  EXPECT_EQ("a & b", GetAttr(registry->entries[1].attributes, "value"));
  EXPECT_EQ("second", GetAttr(registry->entries[2].attributes, "name"));  // the later one wins
  EXPECT_EQ("  ", model.FindGroup("Registry")->entries[0].text);         // whitespace as written
  EXPECT_EQ("https://bank.example.cn", model.FindGroup("")->entries[0].text);
  EXPECT_EQ(nullptr, model.FindGroup("trust"));
  EXPECT_TRUE(model.IsLoaded());
}

TEST(ItemConfiguration, ItemsAreReadOnlyFromTheLastDataElementOn) {
  ItemConfiguration model = LoadFixture("items.xml");
  ASSERT_EQ(2u, model.ItemCount());
  EXPECT_EQ("控件", GetAttr(model.ItemAt(0)->attributes, "name"));
  EXPECT_EQ("key driver", GetAttr(model.ItemAt(1)->attributes, "name"));
  EXPECT_EQ(nullptr, model.ItemAt(2));  // ItemAt(ItemCount())
  EXPECT_EQ(nullptr, model.ItemAt(-1));

  const ConfigItem& control = *model.ItemAt(0);
  ASSERT_EQ(2u, control.detect.size());
  EXPECT_EQ("clsid", GetAttr(control.detect[0].attributes, "dtype"));
  EXPECT_EQ("64", GetAttr(control.detect[1].attributes, "bit"));
  ASSERT_EQ(2u, control.installer.size());
  EXPECT_EQ("setup.exe", control.installer[0].text);
  EXPECT_EQ("http://cdn.example.cn/x64.exe", control.installer[1].text);
  ASSERT_EQ(1u, control.uninstaller.size());
  EXPECT_EQ("1.0", GetAttr(control.attributes, "version"));

  // Data texts: exact names, the later one wins, CDATA and entities decoded.
  EXPECT_EQ("second & last help", model.DataText("Help"));
  EXPECT_EQ("", model.DataText("help"));
  EXPECT_EQ("<b>95</b> and more", model.DataText("notice"));

  // Every appinfo merges into the one record; its uninstaller is not read.
  ConfigItem& app = model.ApplicationRecord();
  EXPECT_EQ((AttributeMap{{"imperative", "TRUE"}, {"version", "2.0"}}), app.attributes);
  ASSERT_EQ(2u, app.detect.size());
  EXPECT_EQ("registry", GetAttr(app.detect[1].attributes, "dtype"));
  ASSERT_EQ(1u, app.installer.size());
  EXPECT_TRUE(app.uninstaller.empty());
}

TEST(ItemConfiguration, DocumentsThatAreNoConfigurationFail) {
  const struct {
    const char* file;
    HResult result;
  } cases[] = {
      {"two_roots.xml", Platform::kEFail},  {"unclosed.xml", Platform::kEFail},
      {"stray_end.xml", Platform::kEFail},  {"wrong_root.xml", Platform::kEFail},
      {"empty.xml", Platform::kEFail},      {"utf16.xml", Platform::kEFail},  // bytes are not transcoded
      {"missing.xml", Platform::HResultFromWin32(Platform::kErrorFileNotFound)},
  };
  for (const auto& c : cases) {
    ItemConfiguration model = LoadFixture(c.file, c.result);
    EXPECT_FALSE(model.IsLoaded()) << c.file;
  }
  // A document in another encoding is read as the bytes it holds.
  ItemConfiguration gbk = LoadFixture("gbk.xml");
  EXPECT_EQ("\xD2\xF8\xD0\xD0", gbk.DataText("tel"));
}

TEST(ItemConfiguration, ALoadEmptiesTheModelFirst) {
  ItemConfiguration model = LoadFixture("groups.xml");
  EXPECT_EQ(Platform::kEFail, model.Load(FixturePath("config/two_roots.xml")));
  EXPECT_FALSE(model.IsLoaded());
  // The application record alone counts as loaded.
  model.application.installer.emplace_back();
  EXPECT_TRUE(model.IsLoaded());
}

TEST(ItemConfiguration, ResolveUrlPutsRelativeAddressesAfterTheBase) {
  ItemConfiguration model;
  EXPECT_EQ("", model.ResolveUrl(""));
  EXPECT_EQ("pkg.exe", model.ResolveUrl("pkg.exe"));  // no base: nothing in front
  model.rootAttributes["base"] = "http://download.example.cn/download/";
  EXPECT_EQ("http://download.example.cn/download/pkg/x.exe", model.ResolveUrl("pkg/x.exe"));
  EXPECT_EQ("ftp://other.example/x.exe", model.ResolveUrl("ftp://other.example/x.exe"));
  EXPECT_EQ("", model.ResolveUrl(""));
}

class LoadOverHttp : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Started());
    std::string document;
    ASSERT_EQ(Platform::kSOk, Platform::ReadWholeFile(FixturePath("config/items.xml"), document));
    server_.Serve("/download/itemV3.xml", document);
  }
  Testing::LoopbackServer server_;
};

TEST_F(LoadOverHttp, TheSchemeIsMatchedWithoutCaseAndTheBaseIsTheDocumentsFolder) {
  std::u16string url = server_.Url("/download/itemV3.xml");
  url.replace(0, 4, u"HtTp");
  ItemConfiguration model;
  ASSERT_EQ(Platform::kSOk, model.Load(url));
  EXPECT_EQ(1, server_.Requests("/download/itemV3.xml"));
  EXPECT_EQ(2u, model.ItemCount());
  const std::string base = Platform::Utf16ToUtf8(url.substr(0, url.rfind(u'/') + 1));
  EXPECT_EQ(base, GetAttr(model.rootAttributes, "base"));
  EXPECT_EQ(base + "update.exe", model.ResolveUrl(model.ApplicationRecord().installer[0].text));
}

TEST_F(LoadOverHttp, AFailedFetchStillLeavesTheBase) {
  ItemConfiguration model;
  // A 404 answers no document.
  EXPECT_EQ(Platform::kEFail, model.Load(server_.Url("/download/missing.xml")));
  EXPECT_TRUE(model.IsLoaded());
  EXPECT_EQ(Platform::Utf16ToUtf8(server_.Url("/download/")), GetAttr(model.rootAttributes, "base"));
  EXPECT_EQ(0u, model.ItemCount());
}

TEST_F(LoadOverHttp, ADocumentBaseOverridesTheComputedOne) {
  server_.Serve("/cfg.xml", "<checkitems base=\"http://mirror.example.cn/dl/\"/>");
  ItemConfiguration model;
  ASSERT_EQ(Platform::kSOk, model.Load(server_.Url("/cfg.xml")));
  EXPECT_EQ("http://mirror.example.cn/dl/a.exe", model.ResolveUrl("a.exe"));
}

TEST(ItemConfiguration, TheProcessWideModelIsReplacedWholeByALoad) {
  ASSERT_EQ(Platform::kSOk, LoadItemConfiguration(FixturePath("config/items.xml")));
  const std::shared_ptr<ItemConfiguration> held = CurrentConfiguration();
  EXPECT_EQ(2u, held->ItemCount());
  EXPECT_EQ(Platform::kEFail, LoadItemConfiguration(FixturePath("config/unclosed.xml")));
  EXPECT_FALSE(CurrentConfiguration()->IsLoaded());
  EXPECT_EQ(2u, held->ItemCount());  // a reader's model stays whole
  InstallConfiguration(nullptr);
}

// Hostile documents load or fail in bounded time and memory.
TEST(ItemConfiguration, HostileDocumentsEndInBoundedTime) {
  const auto started = std::chrono::steady_clock::now();
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<config type=\"x\">";
  ItemConfiguration model;
  EXPECT_FALSE(model.ParseDocument("<checkitems>" + deep));  // never closed

  std::string nested = "<checkitems><config type=\"registry\"><entry>";
  for (int i = 0; i < 200000; ++i) nested += "<a>";
  for (int i = 0; i < 200000; ++i) nested += "</a>";
  nested += "HKCU\\x</entry></config></checkitems>";
  ItemConfiguration deepModel;
  EXPECT_TRUE(deepModel.ParseDocument(nested));
  EXPECT_EQ("HKCU\\x", deepModel.FindGroup("registry")->entries[0].text);

  // Entities are never expanded beyond the predefined ones.
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE checkitems [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">"
      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;\">]><checkitems><data name=\"x\">&c;&c;&c;&amp;&#x94F6;</data></checkitems>";
  ItemConfiguration entities;
  EXPECT_TRUE(entities.ParseDocument(laughs));
  EXPECT_EQ("&c;&c;&c;&银", entities.DataText("x"));

  // Many attributes and many groups stay linear.
  std::string wide = "<checkitems><item";
  for (int i = 0; i < 100000; ++i) wide += " a" + std::to_string(i) + "=\"v\"";
  wide += "/>";
  for (int i = 0; i < 50000; ++i) wide += "<config type=\"t" + std::to_string(i) + "\"><entry>e</entry></config>";
  wide += "</checkitems>";
  ItemConfiguration many;
  EXPECT_TRUE(many.ParseDocument(wide));
  EXPECT_EQ(100000u, many.ItemAt(0)->attributes.size());
  EXPECT_EQ(50000u, many.groups.size());

  // Beyond the size limit a document is refused without being parsed.
  const std::string huge(kMaxConfigurationBytes + 1, ' ');
  ItemConfiguration refused;
  EXPECT_FALSE(refused.ParseDocument(huge));

  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}

TEST(ItemConfiguration, AFileBeyondTheLimitIsRefused) {
  const std::u16string path = Testing::NewTempFolder() + u"\\huge.xml";
  std::string bytes = "<checkitems>";
  bytes.resize(kMaxConfigurationBytes + 10, ' ');
  bytes += "</checkitems>";
  ASSERT_EQ(Platform::kSOk, Platform::WriteWholeFile(path, bytes));
  ItemConfiguration model;
  EXPECT_EQ(Platform::kEFail, model.Load(path));
  Platform::RemoveFile(path);
}

TEST(XmlReader, TheCursorWalksOneLevelAtATime) {
  XmlReader reader;
  ASSERT_TRUE(reader.Parse("<root a=\"1\" b=\"&lt;2&gt;\"><x n=\"1\"/><y/><x n=\"2\">t<![CDATA[<c>]]>&#65;</x></root>"));
  EXPECT_FALSE(reader.FindNext("x"));  // x is not at the top level
  ASSERT_TRUE(reader.FindNext("root"));  // the root is a sibling like any other
  std::string name, value;
  ASSERT_TRUE(reader.AttributeAt(1, name, value));
  EXPECT_EQ("b", name);
  EXPECT_EQ("<2>", value);
  EXPECT_FALSE(reader.AttributeAt(2, name, value));
  ASSERT_TRUE(reader.Enter());
  ASSERT_TRUE(reader.FindNext("x"));
  EXPECT_EQ("1", reader.Attribute("n"));
  EXPECT_EQ("", reader.Attribute("N"));
  ASSERT_TRUE(reader.FindNext("x"));
  EXPECT_EQ("t<c>A", reader.Text());
  {
    // Whitespace is kept as written: blanks around a CDATA section, line
    // ends and tabs in texts and attribute values.
    XmlReader spaced;
    ASSERT_TRUE(spaced.Parse("<r>\r\n  <e v=\"a\tb\r\nc\"> <![CDATA[x]]>\r\n</e>\n<f>1\r\n2&#13;</f></r>"));
    ASSERT_TRUE(spaced.FindNext("r"));
    ASSERT_TRUE(spaced.Enter());
    ASSERT_TRUE(spaced.FindNext("e"));
    EXPECT_EQ(" x\r\n", spaced.Text());
    EXPECT_EQ("a\tb\r\nc", spaced.Attribute("v"));
    ASSERT_TRUE(spaced.FindNext("f"));
    EXPECT_EQ("1\r\n2\r", spaced.Text());
  }
  EXPECT_FALSE(reader.FindNext("y"));  // not found: the cursor stays on x 2
  EXPECT_EQ("2", reader.Attribute("n"));
  reader.Rewind();
  EXPECT_TRUE(reader.FindNext("y"));
  ASSERT_TRUE(reader.Leave());
  EXPECT_EQ("1", reader.Attribute("a"));  // back on the root
  EXPECT_FALSE(reader.Leave());
}

}  // namespace
}  // namespace Zentrovak::Assistant
