// The page's event stream: the program's calls into the page and the
// answers to its asynchronous calls travel on it; its end is how a closed
// page is noticed.
#include "platform/message_loop.h"
#include "ui/posix/page_dialog_parts.h"

namespace Zentrovak::UI::Posix {

using nlohmann::json;

void CPageDialog::ServeEvents(const std::shared_ptr<PageExchange>& exchange) {
  auto stream = std::make_shared<EventStream>();
  stream->exchange = exchange;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stream_ && !stream_->ended) {
      // The live page keeps its stream; a reload's new document gets it once
      // the old one's is gone (its shim tries again).
      return exchange->Answer(PageAnswer::Text(409, "a page is connected"));
    }
    stream->generation = ++generation_;
    stream_ = stream;
    pageReady_ = true;
  }
  changed_.notify_all();
  PageAnswer head;
  head.contentType = "text/event-stream";
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  std::weak_ptr<EventStream> weakStream = stream;
  exchange->Stream(std::move(head), StreamSource{[weak, weakStream](std::string& out) {
                                                   auto dialog = weak.lock();
                                                   auto s = weakStream.lock();
                                                   return dialog && s && dialog->TakeEvents(s, out);
                                                 },
                                                 [weak, generation = stream->generation] {
                                                   if (auto dialog = weak.lock()) dialog->StreamEnded(generation);
                                                 }});
}

// On the server's thread, whenever the stream can write.
bool CPageDialog::TakeEvents(const std::shared_ptr<EventStream>& stream, std::string& out) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const std::string& event : stream->events) out += "data: " + event + "\n\n";
    stream->events.clear();
    if (stream->ended || closed_.load()) return false;
  }
  return true;
}

// The start address was fetched: a page has to follow it (the start page,
// the site's page or the shim) in time, or the window counts as closed.
void CPageDialog::WatchForFollowUp() {
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  server_->RunAfter(kFollowUpMilliseconds, [weak] {
    auto dialog = weak.lock();
    if (!dialog || dialog->closed_.load() || dialog->followedUp_.load()) return;
    Platform::PostToMessageLoop([weak] {
      if (auto d = weak.lock())
        if (!d->closed_.load() && !d->followedUp_.load() && d->onPageGone) d->onPageGone();
    });
  });
}

void CPageDialog::StreamEnded(uint64_t generation) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stream_ && stream_->generation == generation) {
      stream_->ended = true;
      pageReady_ = false;
    }
  }
  changed_.notify_all();
  if (closed_.load()) return;
  // The page may come back (a reload); it is gone when no new document
  // connects in time.
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  server_->RunAfter(kPageGoneMilliseconds, [weak, generation] {
    auto dialog = weak.lock();
    if (!dialog || dialog->closed_.load()) return;
    {
      std::lock_guard<std::mutex> hold(dialog->mutex_);
      if (dialog->generation_ != generation || !dialog->stream_ || !dialog->stream_->ended) return;
    }
    Platform::PostToMessageLoop([weak] {
      if (auto d = weak.lock())
        if (!d->closed_.load() && d->onPageGone) d->onPageGone();
    });
  });
}

void CPageDialog::SendEvent(const json& event) {
  std::lock_guard<std::mutex> hold(mutex_);
  QueueEventLocked(event);
}

bool CPageDialog::QueueEventLocked(const json& event) {
  if (!stream_ || stream_->ended || stream_->events.size() >= kMaxQueuedEvents) return false;
  stream_->events.push_back(event.dump(-1, ' ', false, json::error_handler_t::replace));
  stream_->exchange->Wake();
  return true;
}

}  // namespace Zentrovak::UI::Posix
