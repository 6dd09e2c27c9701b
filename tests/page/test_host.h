// The loop of the test hosts of the browser tests: the posix dialog on its
// pages with the host's command handler, the start address printed, served
// until the page is gone.
#pragma once
#include <cstdio>
#include <memory>

#include "app/single_instance.h"
#include "platform/message_loop.h"
#include "ui/posix/page_dialog.h"

namespace Zentrovak::Testing {

inline int ServePagesUntilGone(UI::CommandHandler handler, UI::Posix::PageSource source) {
  UI::BSDialogParams params;
  params.size = UI::kBSDialogParamsSize;
  params.autoSize = 1;
  params.htmlResourceId = 129;
  params.commandHandler = std::move(handler);
  auto dialog = std::make_shared<UI::Posix::CPageDialog>(params, std::move(source));
  if (!dialog->Start()) return 1;
  dialog->onPageGone = [] { Platform::PostQuit(0); };
  UI::SetMainDialog(dialog.get());
  std::printf("%s\n", dialog->StartAddress().c_str());
  std::fflush(stdout);
  App::ApplicationRunning() = true;
  App::run_message_loop();
  UI::SetMainDialog(nullptr);
  dialog->AnnounceClose();
  dialog->Close();
  return 0;
}

}  // namespace Zentrovak::Testing
