// SHA-1 of a 1 GiB file with FileDigest against sha1sum, as a ratio of
// their times, and the peak memory the digest adds (it reads in blocks).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "checkfix/file_check.h"
#include "platform/text.h"

namespace {

// Peak resident memory of this process so far, in KiB.
long PeakResidentKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  constexpr long long kSize = 1LL << 30;
  char pattern[] = "/tmp/zentrovak-digest-XXXXXX";
  const int fd = ::mkstemp(pattern);
  if (fd < 0) return 2;
  const std::string path = pattern;
  // Real data, not a sparse hole: a repeating block written out.
  std::string block(1 << 20, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 2654435761u) >> 24);
  for (long long written = 0; written < kSize; written += static_cast<long long>(block.size()))
    if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
      ::close(fd);
      ::unlink(path.c_str());
      return 2;
    }
  ::close(fd);

  std::u16string windowsPath = u"Z:" + Zentrovak::Platform::Utf8ToUtf16(path);
  for (char16_t& c : windowsPath)
    if (c == u'/') c = u'\\';

  const long peakBefore = PeakResidentKib();
  auto start = std::chrono::steady_clock::now();
  const std::string ours = Zentrovak::Assistant::FileDigest(windowsPath, Zentrovak::Assistant::DigestSha1);
  const double oursSeconds = Seconds(start);
  const long peakAfter = PeakResidentKib();

  start = std::chrono::steady_clock::now();
  std::string theirs;
  if (FILE* pipe = ::popen(("sha1sum '" + path + "'").c_str(), "r")) {
    char out[128] = {};
    if (std::fgets(out, sizeof out, pipe)) theirs.assign(out, 40);
    ::pclose(pipe);
  }
  const double theirSeconds = Seconds(start);
  ::unlink(path.c_str());

  std::printf("FileDigest SHA-1 of 1 GiB: %.2f s (%s)\n", oursSeconds, ours.c_str());
  std::printf("sha1sum of the same file:  %.2f s (%s)\n", theirSeconds, theirs.c_str());
  std::printf("ratio: %.2f\n", oursSeconds / theirSeconds);
  std::printf("peak memory added by the digest: %ld KiB\n", peakAfter - peakBefore);
  if (ours != theirs) return 1;
  // Reading in blocks keeps the peak far below the file's size.
  return peakAfter - peakBefore < 64 * 1024 ? 0 : 1;
}
