// machine-reg as people use it on a machine directory: .reg files imported
// and exported byte for byte as reg.exe writes them, bad files refused with
// reg.exe's words and no change, and reg.exe's query, add and delete.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/test_support.h"

namespace Zentrovak::Tools {
namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(TEST_BINARY_DIR) + "/machine-reg";

struct Outcome {
  int code = -1;
  std::string out, err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Single quotes for the shell.
std::string Quoted(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A .reg text (written with "\n") as reg.exe writes it: CRLF, UTF-16LE
// after its byte-order mark.
std::string AsRegExeWritesIt(const std::string& text) {
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Platform::Utf8ToUtf16(crlf)) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

class MachineReg : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("machine-reg-test-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "machine");
  }
  void TearDown() override { fs::remove_all(dir_); }

  Outcome Reg(const std::vector<std::string>& args, const std::string& input = "") {
    WriteAll(dir_ / "stdin", input);
    std::string command = Quoted(kTool) + " --machine " + Quoted((dir_ / "machine").string());
    for (const auto& a : args) command += " " + Quoted(a);
    command += " <" + Quoted((dir_ / "stdin").string()) + " >" + Quoted((dir_ / "stdout").string()) + " 2>" +
               Quoted((dir_ / "stderr").string());
    Outcome run;
    const int status = std::system(command.c_str());
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadAll(dir_ / "stdout");
    run.err = ReadAll(dir_ / "stderr");
    return run;
  }

  Outcome Import(const std::string& bytes) {
    WriteAll(dir_ / "in.reg", bytes);
    return Reg({"import", (dir_ / "in.reg").string()});
  }

  // The export of key, or "" when it failed.
  std::string Export(const std::string& key) {
    const Outcome run = Reg({"export", key, (dir_ / "out.reg").string(), "/y"});
    if (run.code != 0) return "";
    return ReadAll(dir_ / "out.reg");
  }

  fs::path dir_;
};

// Values come in the order the machine's registry lists them: by name,
// compared in upper case, the default value first. A REG_SZ that a quoted
// text would not give back exactly is written as hex(1). (One without its
// terminating zero cannot be stored: the registry adds the zero.)
constexpr char kEveryType[] = R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\RoundTrip]
@="默认值"
"A value name long enough that its hex data begins on the next line of the file"=hex:01,\
  02,03
"Big-endian"=hex(5):00,00,00,2a
"Binary"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\
  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\
  2f,30,31,32,33,34,35,36,37,38,39,3a,3b
"Dword"=dword:8000002a
"EmptyBinary"=hex:
"Expand"=hex(2):25,00,41,00,50,00,50,00,44,00,41,00,54,00,41,00,25,00,5c,00,78,\
  00,00,00
"Multi"=hex(7):61,00,00,00,87,65,2c,67,00,00,00,00
"na\"me\\x"="a quote \" and a backslash \\ in a string"
"None"=hex(0):01,02
"Qword"=hex(b):ff,ff,ff,ff,ff,ff,ff,7f
"ShortDword"=hex(4):01,02
"String"="文本"
"TwoTexts"=hex(1):61,00,00,00,62,00,00,00
"WithNewline"=hex(1):61,00,0a,00,62,00,00,00

)";

constexpr char kNested[] = R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\RoundTrip]
"a"="1"

[HKEY_CURRENT_USER\Software\RoundTrip\Alpha]

[HKEY_CURRENT_USER\Software\RoundTrip\Alpha\Deep]
"x"=dword:00000000

[HKEY_CURRENT_USER\Software\RoundTrip\beta]
@=""

)";

constexpr char kMachineRoot[] = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\RoundTrip]
"Version"="1.1"

)";

TEST_F(MachineReg, ImportThenExportGivesEveryFileBackByteForByte) {
  const struct {
    const char* name;
    const char* text;
    const char* key;
  } cases[] = {
      {"every value type, escapes and line continuations", kEveryType, "HKEY_CURRENT_USER\\Software\\RoundTrip"},
      {"keys below keys, by name", kNested, "HKEY_CURRENT_USER\\Software\\RoundTrip"},
      {"the machine's root", kMachineRoot, "HKLM\\Software\\RoundTrip"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reg({"delete", "HKCU\\Software\\RoundTrip", "/f"});
    const std::string file = AsRegExeWritesIt(c.text);
    const Outcome run = Import(file);
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "The operation completed successfully.\n");
    EXPECT_EQ(Export(c.key), file);
  }
}

TEST_F(MachineReg, OtherEncodingsAndLayoutsAreReadAndWrittenBackAsRegExeWritesThem) {
  const std::string canonical = AsRegExeWritesIt(R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\RoundTrip]
"Expand"=hex(2):25,00,41,00,25,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,00,00,00,00
"String"="文本"

)");
  const std::string body = R"(
[HKEY_CURRENT_USER\Software\RoundTrip]
"Expand"=hex(2):25,00,41,00,25,00,00,00
"Multi"=hex(7):61,00,00,00,62,00,\
        00,00,00,00
"String"="文本"
)";
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"UTF-8", "Windows Registry Editor Version 5.00\n" + body},
      {"UTF-8 with its mark, CRLF", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                                    "[HKEY_CURRENT_USER\\Software\\RoundTrip]\r\n\"String\"=\"文本\"\r\n"
                                    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                                    "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"},
      {"REGEDIT4, its texts in 8 bits", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\RoundTrip]\n"
                                        "\"Expand\"=hex(2):25,41,25,00\n\"Multi\"=hex(7):61,00,62,00,00\n"
                                        "; a comment\n\"String\"=\"文本\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reg({"delete", "HKCU\\Software\\RoundTrip", "/f"});
    ASSERT_EQ(Import(c.bytes).code, 0);
    EXPECT_EQ(Export("HKEY_CURRENT_USER\\Software\\RoundTrip"), canonical);
  }
}

TEST_F(MachineReg, DeletionsRemoveKeysWithTheirSubkeysAndValues) {
  ASSERT_EQ(Import(AsRegExeWritesIt(kNested)).code, 0);
  const Outcome run = Import(AsRegExeWritesIt(R"(Windows Registry Editor Version 5.00

[-HKEY_CURRENT_USER\Software\RoundTrip\Alpha]

[-HKEY_CURRENT_USER\Software\RoundTrip\NeverThere]

[HKEY_CURRENT_USER\Software\RoundTrip]
"a"=-
"missing"=-
)"));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(Export("HKEY_CURRENT_USER\\Software\\RoundTrip"), AsRegExeWritesIt(R"(Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\RoundTrip]

[HKEY_CURRENT_USER\Software\RoundTrip\beta]
@=""

)"));
}

TEST_F(MachineReg, ABadFileGetsRegExesErrorAndChangesNothing) {
  constexpr char kNotScript[] =
      "ERROR: The specified file is not a registry script.\n"
      "You can only import binary registry files from within the registry editor.\n";
  constexpr char kBadLine[] = "ERROR: Error accessing the registry.\n";
  const std::string good = "[HKEY_CURRENT_USER\\Software\\RoundTrip]\n\"a\"=\"changed\"\n";
  const struct {
    const char* name;
    std::string bytes;
    const char* error;
  } cases[] = {
      {"no header", "[HKEY_CURRENT_USER\\Software\\RoundTrip]\n\"a\"=\"2\"\n", kNotScript},
      {"UTF-16 without its mark", AsRegExeWritesIt(kNested).substr(2), kNotScript},
      {"a value before any key", "REGEDIT4\n\"a\"=\"2\"\n" + good, kBadLine},
      {"an unknown root", "REGEDIT4\n" + good + "[HKEY_NOWHERE\\x]\n", kBadLine},
      {"a whole root deleted", "REGEDIT4\n" + good + "[-HKEY_CURRENT_USER]\n", kBadLine},
      {"a string without its end", "REGEDIT4\n" + good + "\"b\"=\"open\n", kBadLine},
      {"a dword that is no number", "REGEDIT4\n" + good + "\"b\"=dword:12x4\n", kBadLine},
      {"a dword of nine digits", "REGEDIT4\n" + good + "\"b\"=dword:123456789\n", kBadLine},
      {"a hex byte of three digits", "REGEDIT4\n" + good + "\"b\"=hex:01,234\n", kBadLine},
      {"a continuation at the end of the file", "REGEDIT4\n" + good + "\"b\"=hex:01,\\\n", kBadLine},
      {"a key without its bracket", "REGEDIT4\n" + good + "[HKEY_CURRENT_USER\\x\n", kBadLine},
  };
  ASSERT_EQ(Import(AsRegExeWritesIt(kNested)).code, 0);
  const std::string before = Export("HKEY_CURRENT_USER\\Software\\RoundTrip");
  ASSERT_FALSE(before.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = Import(c.bytes);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err.substr(0, std::string(c.error).size()), c.error);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Export("HKEY_CURRENT_USER\\Software\\RoundTrip"), before);
  }
  const Outcome missing = Reg({"import", (dir_ / "no-such.reg").string()});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "ERROR: Error opening the file. There may be a disk or file system error.\n");
}

TEST_F(MachineReg, QueryAddAndDeleteAnswerAsRegExeDoes) {
  const std::string key = "HKCU\\Software\\Ops";
  const std::string shown = "HKEY_CURRENT_USER\\Software\\Ops";
  constexpr char kDone[] = "The operation completed successfully.\n";
  constexpr char kNotFound[] = "ERROR: The system was unable to find the specified registry key or value.\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    int code;
    std::string out;
    std::string err;
  } steps[] = {
      {{"query", key}, "", 1, "", kNotFound},
      {{"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "0x10", "/f"}, "", 0, kDone, ""},
      {{"add", key, "/v", "Text", "/d", "中文 text", "/f"}, "", 0, kDone, ""},
      {{"add", key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b", "/f"}, "", 0, kDone, ""},
      {{"add", key, "/ve", "/d", "default"}, "", 0, kDone, ""},
      {{"query", key},
       "",
       0,
       "\n" + shown + "\n    (Default)    REG_SZ    default\n    Count    REG_DWORD    0x10\n"
       "    List    REG_MULTI_SZ    a\\0b\n    Text    REG_SZ    中文 text\n",
       ""},
      // An existing value is overwritten only when the user says so.
      {{"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "1"}, "no\n", 0,
       "Value Count exists, overwrite(Yes/No)? The operation was canceled by the user.\n", ""},
      {{"query", key, "/v", "Count"}, "", 0, "\n" + shown + "\n    Count    REG_DWORD    0x10\n\n", ""},
      {{"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "twelve", "/f"}, "", 1, "",
       "ERROR: Invalid syntax. Specify valid numeric value for '/d'.\n"},
      {{"add", key, "/v", "Count", "/t", "REG_WORD", "/f"}, "", 1, "",
       "ERROR: Invalid syntax.\nType \"REG ADD /?\" for usage.\n"},
      {{"query", "HKEY_NOWHERE\\Software"}, "", 1, "", "ERROR: Invalid key name.\nType \"REG QUERY /?\" for usage.\n"},
      {{"delete", key, "/v", "Count", "/f"}, "", 0, kDone, ""},
      {{"query", key, "/v", "Count"}, "", 1, "", kNotFound},
      {{"delete", key}, "y\n", 0, "Delete the registry key " + shown + " (Yes/No)? " + kDone, ""},
      {{"query", key}, "", 1, "", kNotFound},
  };
  for (const auto& step : steps) {
    std::string line;
    for (const auto& a : step.args) line += a + " ";
    SCOPED_TRACE(line);
    const Outcome run = Reg(step.args, step.input);
    EXPECT_EQ(run.code, step.code);
    EXPECT_EQ(run.out, step.out);
    EXPECT_EQ(run.err, step.err);
  }
}

}  // namespace
}  // namespace Zentrovak::Tools
