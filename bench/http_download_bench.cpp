// Downloads one URL to a file through the process-wide HTTP agent and
// reports the time taken and the process's peak memory, for comparison with
// curl on the same file (bench/run_http_download_bench).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "net/http.h"
#include "platform/posix/host_paths.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s URL HOST-FILE\n", argv[0]);
    return 2;
  }
  namespace Net = Zentrovak::Network;
  const std::u16string url = Zentrovak::Platform::Utf8ToUtf16(argv[1]);
  const std::u16string target = Zentrovak::Platform::Posix::ToWindowsPath(argv[2]);
  const auto start = std::chrono::steady_clock::now();
  const Zentrovak::Platform::HResult result = Net::HttpDownloadToFile(url, target, nullptr, 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("result=0x%08x seconds=%.3f max_rss_kib=%ld\n", static_cast<unsigned>(result), seconds,
              usage.ru_maxrss);
  return Zentrovak::Platform::Succeeded(result) ? 0 : 1;
}
