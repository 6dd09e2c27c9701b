// The HTTP agent's two entry points over the test support's loopback
// client, for test programs built before the program's own agent is in the
// core. Included by exactly one source file of such a test program.
#pragma once
#include "net/http.h"
#include "platform/files.h"
#include "support/loopback_server.h"

namespace Zentrovak::Network {

Platform::HResult HttpGetToMemory(const std::u16string& url, std::string& body) {
  return Testing::LoopbackGet(url, body);
}

Platform::HResult HttpDownloadToFile(const std::u16string& url, const std::u16string& fileName,
                                     DownloadCallback callback, int32_t userValue) {
  std::string body;
  Platform::HResult hr = Testing::LoopbackGet(url, body);
  if (Platform::Succeeded(hr)) hr = Platform::WriteWholeFile(fileName, body);
  if (callback) {
    DownloadProgress progress;
    progress.requestUrl = url;
    progress.fileName = fileName;
    progress.bytesDone = progress.totalBytes = static_cast<uint32_t>(body.size());
    progress.percent = Platform::Succeeded(hr) ? 100 : 0;
    progress.inProgress = Platform::Succeeded(hr);
    progress.userValue = userValue;
    callback(&progress);
  }
  return hr;
}

}  // namespace Zentrovak::Network
