#include "app/startup.h"

#include "app/debug_out.h"
#include "platform/files.h"
#include "platform/recycle_bin.h"
#include "platform/text.h"
#include "ui/resources.h"

namespace Zentrovak::App {

namespace {
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> args;
  size_t i = 0;
  // The program path: no escapes, a quote runs to the next quote.
  std::u16string program;
  if (i < line.size() && line[i] == u'"') {
    ++i;
    while (i < line.size() && line[i] != u'"') program.push_back(line[i++]);
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && !IsBlank(line[i])) program.push_back(line[i++]);
  }
  args.push_back(std::move(program));

  while (i < line.size() && IsBlank(line[i])) ++i;
  while (i < line.size()) {
    std::u16string arg;
    int quotes = 0;  // 1 while inside quotes
    size_t backslashes = 0;
    while (i < line.size()) {
      const char16_t c = line[i];
      if (IsBlank(c) && quotes == 0) break;
      if (c == u'\\') {
        arg.push_back(c);
        ++backslashes;
        ++i;
        continue;
      }
      if (c == u'"') {
        if (backslashes % 2 == 0) {
          arg.resize(arg.size() - backslashes / 2);
          ++quotes;
        } else {
          arg.resize(arg.size() - backslashes / 2 - 1);
          arg.push_back(u'"');
        }
        backslashes = 0;
        ++i;
        // Runs of quotes: every third one is a literal quote.
        while (i < line.size() && line[i] == u'"') {
          if (++quotes == 3) {
            arg.push_back(u'"');
            quotes = 0;
          }
          ++i;
        }
        if (quotes == 2) quotes = 0;
        continue;
      }
      arg.push_back(c);
      backslashes = 0;
      ++i;
    }
    args.push_back(std::move(arg));
    while (i < line.size() && IsBlank(line[i])) ++i;
  }
  return args;
}

bool PageModeFromArguments(const std::vector<std::u16string>& arguments, int32_t& pageMode) {
  if (arguments.size() == 1) {
    pageMode = 0;
    return true;
  }
  if (arguments.size() == 2) {
    pageMode = Platform::ParseDecimalPrefix(arguments[1]);
    return true;
  }
  return false;
}

uint32_t HtmlResourceForPageMode(int32_t pageMode) {
  switch (pageMode) {
    case 0: case 1: return 129;
    case 2: return 130;
    case 3: return 131;
    case 4: return 132;
    case 5: return 133;
    default: return 0;
  }
}

std::u16string TrayHelperCommandLine(std::u16string_view executablePath, int flag) {
  std::u16string line(executablePath);
  const size_t slash = line.rfind(u'\\');
  const size_t at = slash == std::u16string::npos ? 0 : slash + 1;
  line.insert(at, std::u16string(kTrayHelperFileName) + u"\" ");
  line.insert(0, u"\"");
  line += u" 103 102 128 ";
  line.push_back(static_cast<char16_t>(u'0' + (flag ? 1 : 0)));
  return line;
}

std::u16string TrayHelperCommandLine(int flag) { return TrayHelperCommandLine(Platform::ModuleFilePath(), flag); }

bool DeleteToRecycleBin(std::u16string_view path) {
  if (path.size() > 255) return false;
  return Platform::MoveToRecycleBin(path) == 0;
}

void RemoveLegacyFolder() {
  const std::u16string programFiles = Platform::SpecialFolderPath(0x26);
  if (programFiles.empty() || !Platform::DirectoryExists(programFiles)) return;
  const std::u16string folder = programFiles + u"\\\\" + kLegacyFolderName;
  if (!Platform::DirectoryExists(folder)) return;
  DebugOut(u"%s", folder.c_str());
  DeleteToRecycleBin(folder);
}

bool ExtractEmbeddedLibrary(uint32_t id) {
  const auto resource = UI::FindTypedResource(u"PE", id);
  if (!resource || !resource->data || resource->size == 0) return false;
  DeleteToRecycleBin(kCarriedAssistLibrary);
  if (Platform::FileExists(kCarriedAssistLibrary)) return false;
  Platform::FileStream file;
  if (file.Open(kCarriedAssistLibrary, Platform::FileStream::Mode::CreateAlways) != Platform::kErrorSuccess)
    return false;
  return file.Write(resource->data, static_cast<uint32_t>(resource->size)) == Platform::kErrorSuccess;
}

}  // namespace Zentrovak::App
