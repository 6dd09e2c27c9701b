// The process-wide HTTP agent's two entry points. The agent itself
// (WinHTTP on Windows, libcurl on Linux) lives behind them.
#pragma once
#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace Zentrovak::Network {

// The record handed to a download's progress callback for every notice.
struct DownloadProgress {
  std::u16string requestUrl;
  std::u16string fileName;
  uint32_t bytesDone = 0;   // bytes written so far (kinds 2 and 3), else 0
  uint32_t totalBytes = 0;  // declared length, 0 when absent
  int32_t percent = 0;      // bytesDone * 100 / totalBytes (kinds 2 and 3)
  bool inProgress = false;  // true while data arrives and at the successful end
  int32_t userValue = 0;
};

using DownloadCallback = bool (*)(const DownloadProgress* progress);

// A GET of the address into memory. Any HTTP answer is a success; a status
// of 400 or more leaves `body` as it was.
Platform::HResult HttpGetToMemory(const std::u16string& url, std::string& body);

// A GET streamed to `fileName` in blocks. The callback (may be null) gets
// every notice.
Platform::HResult HttpDownloadToFile(const std::u16string& url, const std::u16string& fileName,
                                     DownloadCallback callback, int32_t userValue);

}  // namespace Zentrovak::Network
