#include "net/http.h"

#include "app/assistant_app.h"
#include "net/http_agent.h"

namespace Zentrovak::Network {

namespace {

constexpr int32_t kRelaxedCertificatesOption = 1001;

AssistantHttp& PreparedAgent() {
  AssistantHttp& agent = TheAssistantHttp();
  agent.relaxCertificateChecks = App::RuntimeOption(kRelaxedCertificatesOption) != 0 ? 1 : 0;
  return agent;
}

struct DownloadContext {
  const std::u16string* url;
  const std::u16string* fileName;
  DownloadCallback callback;
  int32_t userValue;
};

// A caller cannot stop a download: the answer is always 1.
int32_t ReportProgress(void* context, int32_t kind, uint32_t a, uint32_t b) {
  const auto* download = static_cast<const DownloadContext*>(context);
  if (!download->callback) return 1;
  DownloadProgress progress;
  progress.requestUrl = *download->url;
  progress.fileName = *download->fileName;
  progress.totalBytes = b;
  progress.userValue = download->userValue;
  if (kind == NoticeKind::kBlockWritten || kind == NoticeKind::kFinished) {
    progress.bytesDone = a;
    progress.inProgress = true;
    if (b != 0)
      progress.percent = static_cast<int32_t>(static_cast<uint64_t>(a) * 100 / b);
    else if (kind == NoticeKind::kFinished)
      progress.percent = 100;  // nothing was declared, and all of it arrived
  }
  download->callback(&progress);
  return 1;
}

}  // namespace

Platform::HResult HttpGetToMemory(const std::u16string& url, std::string& body) {
  return PreparedAgent().Get(url, {}, body);
}

Platform::HResult HttpDownloadToFile(const std::u16string& url, const std::u16string& fileName,
                                     DownloadCallback callback, int32_t userValue) {
  DownloadContext context{&url, &fileName, callback, userValue};
  return PreparedAgent().Download(url, fileName, ReportProgress, &context);
}

}  // namespace Zentrovak::Network
