#include <spawn.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/machine.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace Zentrovak::Platform {

namespace {

PlatformOptions& Options() {
  static PlatformOptions options;
  return options;
}
std::vector<std::string>& Arguments() {
  static std::vector<std::string> args;
  return args;
}

// Quotes one argument so that the Windows splitting rule gives it back.
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
    } else if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
      out.push_back('"');
      backslashes = 0;
    } else {
      out.append(backslashes, '\\');
      out.push_back(c);
      backslashes = 0;
    }
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

}  // namespace

const PlatformOptions& InitializeProcess(int argc, char** argv) {
  PlatformOptions& options = Options();
  auto& args = Arguments();
  args.clear();
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i > 0 && arg == "--machine" && i + 1 < argc) {
      options.machineDirectory = argv[++i];
    } else if (i > 0 && arg.rfind("--machine=", 0) == 0) {
      options.machineDirectory = arg.substr(10);
    } else if (i > 0 && arg == "--no-browser") {
      options.noBrowser = true;
    } else if (i > 0 && arg == "--check") {
      options.check = true;
    } else if (i > 0 && arg == "--fix") {
      options.fix = true;
    } else if (i > 0 && arg == "--json") {
      options.json = true;
    } else {
      args.push_back(arg);
    }
  }
  if (!options.machineDirectory.empty()) Posix::SetMachineDirectory(options.machineDirectory);
  return options;
}

const PlatformOptions& CurrentPlatformOptions() { return Options(); }

std::u16string ProcessCommandLine() {
  std::string line;
  for (const auto& arg : Arguments()) {
    if (!line.empty()) line.push_back(' ');
    line += QuoteArgument(arg);
  }
  return Utf8ToUtf16(line);
}

bool StartNewInstance() {
  const PlatformOptions& options = Options();
  std::vector<std::string> args = {"/proc/self/exe"};
  if (!options.machineDirectory.empty()) {
    args.push_back("--machine");
    args.push_back(options.machineDirectory);
  }
  if (options.noBrowser) args.push_back("--no-browser");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // The program's path, which after its own update holds the new program.
  std::string exe = Posix::ToHostPath(ModuleFilePath()).path;
  if (exe.empty()) return false;
  Posix::MakeRunnable(exe);
  argv[0] = exe.data();
  pid_t pid = 0;
  return ::posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

void EndProcessNow(int code) {
  std::fflush(nullptr);
  ::_exit(code);
}

}  // namespace Zentrovak::Platform
