// The calls between page and program: the page's callc (run on the
// user-interface thread while its request waits, carrying the program's
// calls back in its answer), the numbered asynchronous calls, and the
// program's operations on the page with the waits for their answers.
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/debug_output.h"
#include "platform/message_loop.h"
#include "platform/text.h"
#include "ui/posix/page_dialog_parts.h"
#include "ui/posix/variant_wire.h"

namespace Zentrovak::UI::Posix {

using nlohmann::json;
using Platform::HResult;

namespace {

constexpr HResult kUnknownName = static_cast<HResult>(0x80020006u);  // DISP_E_UNKNOWNNAME

HResult AnswerResult(const json& answer) {
  const auto hr = answer.find("hr");
  if (hr == answer.end() || !hr->is_number_integer()) return Platform::kEFail;
  return static_cast<HResult>(static_cast<uint32_t>(hr->get<int64_t>()));
}

}  // namespace

std::shared_ptr<ScriptObject> CPageDialog::PageObjectFor(int64_t handle) {
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    generation = generation_;
  }
  return std::make_shared<PageObject>(
      handle,
      [weak](int64_t h, const std::u16string& name, const std::vector<Variant>& args, Variant* result) -> HResult {
        auto dialog = weak.lock();
        if (!dialog) return Platform::kEFail;
        json wireArgs = json::array();
        for (const auto& a : args) wireArgs.push_back(EncodeVariant(a));
        json answer;
        const HResult hr = dialog->PageOperation({{"op", "invoke"}, {"h", h}, {"name", Utf8(name)}, {"args", wireArgs}},
                                                 &answer);
        if (Platform::Succeeded(hr) && result) *result = dialog->Decode(answer.value("value", json()));
        return hr;
      },
      [weak, generation](int64_t h) {
        auto dialog = weak.lock();
        if (!dialog) return;
        {
          std::lock_guard<std::mutex> hold(dialog->mutex_);
          if (dialog->generation_ != generation) return;  // that document is gone
        }
        dialog->SendEvent({{"op", "release"}, {"h", h}});
      });
}

Variant CPageDialog::Decode(const json& wire) {
  return DecodeVariant(wire, [this](int64_t handle) { return PageObjectFor(handle); });
}

// Page calls. The user-interface thread sends its own and serves other
// work while it waits for the answer. A worker's operation is sent by the
// user-interface thread too, when it serves its messages (between commands,
// or while a command waits for the page), so a page's callback never runs
// in the middle of a synchronous call that is not waiting for the page; but
// the worker waits for the answer itself, on a condition, so waiting
// workers never stack waits on the user-interface thread (where the first
// could only end after the last).

HResult CPageDialog::PageOperation(json op, json* answer) {
  if (closed_.load()) return Platform::kEFail;
  if (OnUiThread()) return OperateOnUiThread(std::move(op), answer);
  return OperateFromWorker(std::move(op), answer);
}

HResult CPageDialog::OperateFromWorker(json op, json* answer) {
  auto sending = std::make_shared<WorkerSend>();
  {
    std::unique_lock<std::mutex> hold(mutex_);
    // Commands started before the first document has loaded wait for it.
    changed_.wait_for(hold, std::chrono::milliseconds(kPageGoneMilliseconds),
                      [&] { return stream_ || !channelStack_.empty() || closed_.load(); });
    if (closed_.load()) return Platform::kEFail;
    op["id"] = sending->id = nextId_++;
    answers_[sending->id];
  }
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  Platform::PostToMessageLoop([weak, sending, op] {
    if (auto dialog = weak.lock()) dialog->SendForWorker(op, *sending);
  });
  std::unique_lock<std::mutex> hold(mutex_);
  json reply;
  bool answered = false;
  const auto over = [&] {
    const auto it = answers_.find(sending->id);
    if (it != answers_.end() && it->second) {
      reply = std::move(*it->second);
      return answered = true;
    }
    // The window may go while the call waits: the call then has no effect.
    if (closed_.load() || sending->failure) return true;
    if (!sending->sent) return false;
    if (sending->pageStream && sending->pageStream->ended) return true;
    return sending->generation && (generation_ != *sending->generation || !stream_ || stream_->ended);
  };
  // Once quit is posted, an operation not sent yet never will be.
  bool abandoned = false;
  while (!abandoned && !changed_.wait_for(hold, std::chrono::milliseconds(200), over))
    abandoned = !sending->sent && Platform::QuitPosted();
  answers_.erase(sending->id);
  const HResult failure = sending->failure ? sending->failure : Platform::kEFail;
  hold.unlock();
  if (!answered) return failure;
  if (answer) *answer = reply;
  return AnswerResult(reply);
}

void CPageDialog::SendForWorker(const json& op, WorkerSend& sending) {
  std::shared_ptr<CallChannel> channel;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    sending.pageStream = stream_;
    if (!channelStack_.empty()) {
      // The page's script waits in a synchronous call: the operation goes
      // back in its answer. A call on the stack has not finished: the
      // stack is this thread's.
      channel = channelStack_.back();
    } else if (!stream_ || stream_->ended || !pageReady_) {
      sending.failure = Platform::kEPointer;  // no document any more
    } else if (QueueEventLocked(op)) {
      sending.generation = generation_;
    } else {
      sending.failure = Platform::kEFail;  // the page does not take its events
    }
    sending.sent = !sending.failure;
  }
  if (channel) {
    {
      std::lock_guard<std::mutex> c(channel->m);
      channel->outbox.push_back(op);
    }
    Deliver(channel);
  }
  changed_.notify_all();
}

bool CPageDialog::PumpUntil(const std::function<bool()>& done, std::optional<uint64_t> generation,
                            const std::shared_ptr<EventStream>& pageStream) {
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (done()) return true;
      // An operation on the event stream ends with its document; one in a
      // synchronous call's answer ends when the page's stream ends (the
      // window was closed while the page's script hung in the call).
      if (generation && (generation_ != *generation || !stream_ || stream_->ended)) return false;
      if (pageStream && pageStream->ended) return false;
    }
    // After the dialog closed, or once quit was posted, no answer will come.
    if (closed_.load() || Platform::QuitPosted()) return false;
    const uint32_t before = Platform::TickCount();
    Platform::PumpMessagesFor(2);
    // After a quit the loop serves nothing: do not spin.
    if (Platform::TickCount() - before < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void CPageDialog::WaitForFirstDocument() {
  const uint32_t start = Platform::TickCount();
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (stream_ || !channelStack_.empty()) return;
    }
    if (closed_.load() || Platform::TickCount() - start >= kPageGoneMilliseconds) return;
    Platform::PumpMessagesFor(2);
  }
}

HResult CPageDialog::OperateOnUiThread(json op, json* answer) {
  // The first document opens its event stream once it has loaded. Its
  // script may start commands before that (get_config at once), whose
  // page calls and answers wait for the stream instead of being lost.
  WaitForFirstDocument();
  std::shared_ptr<CallChannel> channel;
  std::optional<uint64_t> generation;
  std::shared_ptr<EventStream> pageStream;
  int64_t id = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    generation = generation_;
    pageStream = stream_;
    id = nextId_++;
    op["id"] = id;
    if (!channelStack_.empty()) {
      channel = channelStack_.back();
    } else if (!stream_ || stream_->ended || !pageReady_) {
      return Platform::kEPointer;  // no document yet (or any more)
    } else if (!QueueEventLocked(op)) {
      return Platform::kEFail;  // the page does not take its events
    }
    answers_[id];
  }
  if (channel) {
    // The page's script waits in this synchronous call: the operation goes
    // back in its answer.
    {
      std::lock_guard<std::mutex> c(channel->m);
      channel->outbox.push_back(op);
    }
    Deliver(channel);
    generation.reset();
  }
  json reply;
  const bool answered = PumpUntil(
      [&] {
        const auto it = answers_.find(id);
        if (it == answers_.end() || !it->second) return false;
        reply = std::move(*it->second);
        return true;
      },
      generation, pageStream);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    answers_.erase(id);
  }
  if (!answered) return Platform::kEFail;
  if (answer) *answer = reply;
  return AnswerResult(reply);
}

void CPageDialog::KeepAnswerLocked(int64_t id, const json& answer) {
  const auto waiting = answers_.find(id);
  if (waiting != answers_.end()) waiting->second = answer;
}

void CPageDialog::HandleAnswer(const json& body) {
  const auto id = body.find("id");
  const auto answer = body.find("answer");
  if (id == body.end() || !id->is_number_integer() || answer == body.end() || !answer->is_object()) return;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    KeepAnswerLocked(id->get<int64_t>(), *answer);
  }
  changed_.notify_all();                // wakes a waiting worker
  Platform::PostToMessageLoop([] {});  // wakes a waiting user-interface thread
}

// callc: runs on the user-interface thread while the page's request waits.

void CPageDialog::HandleCallc(const json& body, const std::shared_ptr<PageExchange>& exchange) {
  const auto args = body.find("args");
  std::vector<Variant> values(5);
  if (args != body.end() && args->is_array())
    for (size_t i = 0; i < 5 && i < args->size(); ++i) values[i] = Decode((*args)[i]);
  auto channel = std::make_shared<CallChannel>();
  channel->waiting = exchange;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    channel->id = nextId_++;
    channel->generation = generation_;
    channels_[channel->id] = channel;
  }
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  Platform::PostToMessageLoop([weak, channel, values] {
    Variant result;
    auto dialog = weak.lock();
    if (dialog) {
      {
        std::lock_guard<std::mutex> hold(dialog->mutex_);
        dialog->channelStack_.push_back(channel);
      }
      dialog->changed_.notify_all();  // wakes a worker waiting for the first document
      dialog->RunCommand(result, values[0], values[1], values[2], values[3], values[4]);
      std::lock_guard<std::mutex> hold(dialog->mutex_);
      dialog->channelStack_.pop_back();
    }
    {
      std::lock_guard<std::mutex> c(channel->m);
      channel->finished = true;
      channel->result = EncodeVariant(result);
    }
    if (dialog) dialog->Deliver(channel);
  });
}

void CPageDialog::HandleContinue(const json& body, const std::shared_ptr<PageExchange>& exchange) {
  std::shared_ptr<CallChannel> channel;
  const auto id = body.find("channel");
  const auto opId = body.find("id");
  const auto answer = body.find("answer");
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (id != body.end() && id->is_number_integer()) {
      const auto it = channels_.find(id->get<int64_t>());
      if (it != channels_.end()) channel = it->second;
    }
    if (channel && opId != body.end() && opId->is_number_integer() && answer != body.end() && answer->is_object())
      KeepAnswerLocked(opId->get<int64_t>(), *answer);
  }
  if (!channel) {
    exchange->Answer(PageAnswer::Content(json{{"kind", "result"}, {"value", {{"t", "e"}}}}.dump(), "application/json"));
    return;
  }
  changed_.notify_all();
  Platform::PostToMessageLoop([] {});
  {
    std::lock_guard<std::mutex> c(channel->m);
    channel->waiting = exchange;
  }
  Deliver(channel);
}

// A channel's lock is never held while the dialog's is taken.
void CPageDialog::Deliver(const std::shared_ptr<CallChannel>& channel) {
  std::shared_ptr<PageExchange> exchange;
  json reply;
  bool finished = false;
  {
    std::lock_guard<std::mutex> c(channel->m);
    if (!channel->waiting) return;
    if (!channel->outbox.empty()) {
      reply = {{"kind", "op"}, {"channel", channel->id}, {"op", std::move(channel->outbox.front())}};
      channel->outbox.pop_front();
    } else if (channel->finished) {
      reply = {{"kind", "result"}, {"value", channel->result}};
      finished = true;
    } else if (closed_.load()) {
      reply = {{"kind", "result"}, {"value", {{"t", "e"}}}};
    } else {
      return;
    }
    exchange = std::move(channel->waiting);
  }
  if (finished) {
    std::lock_guard<std::mutex> hold(mutex_);
    channels_.erase(channel->id);
  }
  exchange->Answer(
      PageAnswer::Content(reply.dump(-1, ' ', false, json::error_handler_t::replace), "application/json"));
}

// The page's asynchronous calls, numbered per document.

PageAnswer CPageDialog::HandleAsync(const json& body) {
  const PageAnswer accepted = PageAnswer::Content("{}", "application/json");
  const auto args = body.find("args");
  if (args == body.end() || !args->is_array()) return PageAnswer::Text(400, "");
  const std::string document = StringField(body, "document");
  const auto seq = body.find("seq");
  const bool numbered = !document.empty() && seq != body.end() && seq->is_number_integer();
  // The page's word that a numbered call was refused on its way here: its
  // place in the order is taken by no job.
  const bool refused = BoolField(body, "refused");
  if (refused && !numbered) return accepted;
  if (!refused && RunningJobs() >= kMaxWaitingJobs)
    return PageAnswer::Text(503, "too many asynchronous calls are waiting to run; this one was not run");
  ExternalAsyncThread* job = nullptr;
  if (!refused) {
    std::vector<Variant> values(6);
    for (size_t i = 0; i < 6 && i < args->size(); ++i) values[i] = Decode((*args)[i]);
    job = new ExternalAsyncThread(BoolField(body, "queued"), shared_from_this(), values[0], values[1], values[2],
                                  values[3], values[4], values[5]);
  }
  if (!numbered) {
    StartJob(job);
    return accepted;
  }
  AsyncCallOrder::Outcome outcome;
  {
    std::lock_guard<std::mutex> hold(asyncMutex_);
    std::vector<ExternalAsyncThread*> due;
    outcome = asyncOrder_.Add(document, seq->get<int64_t>(), job, AsyncCallOrder::Clock::now(), due);
    // Started in order while the lock is held, so a later arrival cannot
    // overtake them.
    for (auto* j : due) StartJob(j);
    if (outcome == AsyncCallOrder::Outcome::Waiting) WatchAsyncGapsLocked();
  }
  if (outcome != AsyncCallOrder::Outcome::Refused) return accepted;
  if (job) job->Destroy();
  return PageAnswer::Text(429, "too many asynchronous calls of this page wait for an earlier one; this one was not run");
}

// Under asyncMutex_: gives up the calls that are missing too long, in time.
void CPageDialog::WatchAsyncGapsLocked() {
  const auto expiry = asyncOrder_.NextExpiry();
  if (asyncGapWatched_ || !expiry) return;
  asyncGapWatched_ = true;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*expiry - AsyncCallOrder::Clock::now());
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  server_->RunAfter(static_cast<int>(std::max<int64_t>(wait.count(), 0)) + 1, [weak] {
    if (auto dialog = weak.lock()) dialog->ExpireAsyncCalls();
  });
}

void CPageDialog::ExpireAsyncCalls() {
  std::vector<AsyncCallOrder::Gap> gaps;
  {
    std::lock_guard<std::mutex> hold(asyncMutex_);
    asyncGapWatched_ = false;
    std::vector<ExternalAsyncThread*> due;
    asyncOrder_.Expire(AsyncCallOrder::Clock::now(), due, gaps);
    for (auto* j : due) StartJob(j);
    WatchAsyncGapsLocked();
  }
  for (const auto& gap : gaps) {
    const std::string numbers =
        std::to_string(gap.first) + (gap.first == gap.last ? "" : "-" + std::to_string(gap.last));
    Platform::WriteDebugString(Platform::Utf8ToUtf16(
        "The page's asynchronous call " + numbers + " did not arrive within " +
        std::to_string(AsyncCallOrder::kGapWait.count()) + " ms; the calls after it run without it\n"));
  }
}

void CPageDialog::HandleNotify(const json& body) {
  const std::string element = StringField(body, "id");
  static const char* const kFrameElements[] = {"ui_close", "ui_quit", "ui_maximize", "ui_restore",
                                               "ui_minimize", "ui_menu"};
  bool known = false;
  for (const char* name : kFrameElements) known = known || element == name;
  if (!known) return;
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  Platform::PostToMessageLoop([weak, element] {
    auto dialog = weak.lock();
    if (!dialog) return;
    if (element == "ui_quit") Platform::PostQuit(0);
    if (dialog->params_.commandHandler) {
      Variant result;
      dialog->params_.commandHandler(result, dialog.get(), Variant::String(u"ui_notify"),
                                     Variant::String(Platform::Utf8ToUtf16(element)), Variant(), Variant(), Variant());
    }
  });
}

}  // namespace Zentrovak::UI::Posix
