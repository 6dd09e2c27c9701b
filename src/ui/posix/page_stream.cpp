// The page's event stream: the program's calls into the page and the
// answers to its asynchronous calls travel on it; its end is how a closed
// page is noticed.
#include <chrono>
#include <thread>

#include <httplib.h>

#include "platform/message_loop.h"
#include "ui/posix/page_dialog_parts.h"

namespace Zentrovak::UI::Posix {

using nlohmann::json;

void CPageDialog::ServeEvents(const httplib::Request&, httplib::Response& response) {
  auto stream = std::make_shared<EventStream>();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stream_ && !stream_->ended) {
      // The live page keeps its stream; a reload's new document gets it once
      // the old one's is gone (its shim tries again).
      response.status = 409;
      response.set_content("a page is connected", "text/plain");
      return;
    }
    stream->generation = ++generation_;
    stream_ = stream;
    pageReady_ = true;
    answers_.clear();
  }
  changed_.notify_all();
  auto self = shared_from_this();
  response.set_header("Cache-Control", "no-store");
  response.set_chunked_content_provider(
      "text/event-stream",
      [this, stream](size_t, httplib::DataSink& sink) {
        std::unique_lock<std::mutex> hold(mutex_);
        // A quiet stream still writes now and then: that is how a closed
        // page is noticed.
        changed_.wait_for(hold, std::chrono::seconds(1), [&] { return !stream->events.empty() || stream->ended; });
        std::string chunk;
        while (!stream->events.empty()) {
          chunk += "data: " + stream->events.front() + "\n\n";
          stream->events.pop_front();
        }
        const bool ended = stream->ended || closed_.load();
        hold.unlock();
        if (chunk.empty()) chunk = ": keep-alive\n\n";
        if (!sink.is_writable() || !sink.write(chunk.data(), chunk.size())) return false;
        if (ended) {
          sink.done();
          return false;
        }
        return true;
      },
      [weak = std::weak_ptr<CPageDialog>(self), stream](bool) {
        if (auto dialog = weak.lock()) dialog->StreamEnded(stream->generation);
      });
}

// The start address was fetched: a page has to follow it (the start page,
// the site's page or the shim) in time, or the window counts as closed.
void CPageDialog::WatchForFollowUp() {
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  std::thread([weak] {
    std::this_thread::sleep_for(std::chrono::milliseconds(kFollowUpMilliseconds));
    auto dialog = weak.lock();
    if (!dialog || dialog->closed_.load() || dialog->followedUp_.load()) return;
    Platform::PostToMessageLoop([weak] {
      if (auto d = weak.lock())
        if (!d->closed_.load() && !d->followedUp_.load() && d->onPageGone) d->onPageGone();
    });
  }).detach();
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
  // The page may come back (a reload); it is gone when no new document
  // connects in time.
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  std::thread([weak, generation] {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPageGoneMilliseconds));
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
  }).detach();
}

void CPageDialog::SendEvent(const json& event) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!QueueEventLocked(event)) return;
  }
  changed_.notify_all();
}

bool CPageDialog::QueueEventLocked(const json& event) {
  if (!stream_ || stream_->ended) return false;
  stream_->events.push_back(event.dump(-1, ' ', false, json::error_handler_t::replace));
  return true;
}

}  // namespace Zentrovak::UI::Posix
