#include "app/root_confirmation.h"

#include "commands/task_message.h"

namespace Zentrovak::App {

namespace {

// "31BD6AEF 73031C5A ...", as the warning shows a thumbprint.
std::u16string Grouped(const std::u16string& hex) {
  std::u16string text;
  for (size_t i = 0; i < hex.size(); i += 8) {
    if (i) text += u' ';
    text += hex.substr(i, 8);
  }
  return text;
}

std::u16string RootConfirmationText(const Platform::RootAdditionRequest& request) {
  const std::u16string quoted = u"\u201C" + request.subject + u"\u201D";
  return u"您即将从一个声称代表如下的证书颁发机构(CA)安装证书:\n\n" + request.subject +
         u"\n\n无法确认证书是否确实来自" + quoted + u"。您应该与" + quoted +
         u"联系，以确认证书来源。下列数字将在此过程中对您有帮助:\n\n指纹(sha1): " + Grouped(request.thumbprint) +
         u"\n\n警告:\n如果您安装此根证书，将自动信任所有此 CA 颁发的证书。安装未经指纹确认的证书有安全风险。"
         u"如果您单击\u201C是\u201D，表示您知道此风险。\n\n您想安装此证书吗?";
}

}  // namespace

bool AskToTrustRoot(const Platform::RootAdditionRequest& request) {
  return Commands::AskYesNo(nullptr, RootConfirmationText(request), u"安全警告", u"", u"是", u"否") ==
         Commands::kIdYes;
}

}  // namespace Zentrovak::App
