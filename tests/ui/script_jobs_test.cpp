// The asynchronous calls of the bridge: asyncallc in order on one worker,
// asyncalld beside it, callbacks only for script functions; and which
// documents may use the external object at all.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_loop.h"
#include "support/variant_print.h"
#include "ui/document_trust.h"
#include "ui/script_jobs.h"

namespace Zentrovak::UI {
namespace {

using Clock = std::chrono::steady_clock;

class Callback : public ScriptObject {
 public:
  Platform::HResult InvokeMethod(const std::u16string&, const std::vector<Variant>&, Variant*) override { return 0; }
};

// Runs "sleep:<ms>" commands and records, in order, what ran and which
// callbacks were delivered with which results.
class RecordingHost : public IScriptHost {
 public:
  IBSDialog* Dialog() override { return nullptr; }
  bool RunCommand(Variant& result, const Variant& name, const Variant& a1, const Variant&, const Variant&,
                  const Variant&) override {
    if (a1.IsInt()) std::this_thread::sleep_for(std::chrono::milliseconds(a1.AsInt()));
    Record(u"ran " + name.AsString());
    result = name;
    return true;
  }
  Platform::HResult CompleteCall(const std::shared_ptr<ScriptObject>&, const Variant& result) override {
    // The page's callback takes a moment, as a real one does.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Record(u"callback " + result.AsString());
    return 0;
  }
  void Record(const std::u16string& what) {
    std::lock_guard<std::mutex> hold(mutex);
    events.push_back(what);
    changed.notify_all();
  }
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::seconds(10), [&] { return events.size() >= count; });
  }
  std::vector<std::u16string> Events() {
    std::lock_guard<std::mutex> hold(mutex);
    return events;
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::u16string> events;
};

void Start(bool queued, const std::shared_ptr<RecordingHost>& host, const Variant& callback, const char16_t* name,
           int32_t sleepMs = 0) {
  StartJob(new ExternalAsyncThread(queued, host, callback, Variant::String(name), Variant::Int(sleepMs), {}, {}, {}));
}

TEST(ScriptJobs, QueuedCallsRunInOrderEachAfterThePreviousCallback) {
  auto host = std::make_shared<RecordingHost>();
  const Variant callback = Variant::Dispatch(std::make_shared<Callback>());
  Start(true, host, callback, u"first", 150);
  Start(true, host, callback, u"second");
  Start(true, host, callback, u"third");
  ASSERT_TRUE(host->WaitFor(6));
  EXPECT_EQ(host->Events(), (std::vector<std::u16string>{u"ran first", u"callback first", u"ran second",
                                                          u"callback second", u"ran third", u"callback third"}));
  EXPECT_TRUE(WaitForJobs(5000));
  // After an idle spell a new worker takes the next call.
  Start(true, host, callback, u"later");
  ASSERT_TRUE(host->WaitFor(8));
}

TEST(ScriptJobs, ALongCallOnItsOwnThreadDoesNotDelayAQueuedOne) {
  auto host = std::make_shared<RecordingHost>();
  const Variant callback = Variant::Dispatch(std::make_shared<Callback>());
  Start(false, host, callback, u"slow", 1500);
  const auto start = Clock::now();
  Start(true, host, callback, u"quick");
  ASSERT_TRUE(host->WaitFor(2));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1200));
  EXPECT_EQ(host->Events()[0], u"ran quick");
  ASSERT_TRUE(host->WaitFor(4));
  EXPECT_TRUE(WaitForJobs(5000));
  EXPECT_EQ(RunningJobs(), 0);
}

TEST(ScriptJobs, ACallbackThatIsNoFunctionIsIgnoredButTheCommandRuns) {
  auto host = std::make_shared<RecordingHost>();
  for (const Variant& notAFunction : {Variant::Int(5), Variant::String(u"f"), Variant(), Variant::Null()})
    Start(true, host, notAFunction, u"plain");
  ASSERT_TRUE(host->WaitFor(4));
  EXPECT_TRUE(WaitForJobs(5000));
  for (const auto& e : host->Events()) EXPECT_EQ(e, u"ran plain");
  EXPECT_EQ(host->Events().size(), 4u);
}

TEST(DocumentTrust, OwnPagesAndTheResUrlOriginOnly) {
  const std::u16string own = u"res://C:\\Program Files\\Bank\\NetBankAssistant.exe/";
  const struct {
    const char16_t* document;
    const char16_t* resUrl;
    bool trusted;
  } cases[] = {
      {u"res://c:\\program files\\bank\\netbankassistant.exe/129", u"", true},
      {u"RES://C:/Program Files/Bank/NetBankAssistant.exe/130#top", u"", true},
      {u"res://C:\\Program Files\\Bank\\NetBankAssistant.exe.evil/129", u"", false},
      {u"res://C:\\Other\\NetBankAssistant.exe/129", u"", false},
      {u"http://www.example.com/", u"", false},
      {u"about:blank", u"", false},
      {u"", u"", false},
      {u"https://bank.example.cn/help/a.html", u"https://bank.example.cn/index.html", true},
      {u"https://bank.example.cn:443/x", u"https://BANK.example.cn/index.html", true},
      {u"http://bank.example.cn/x", u"https://bank.example.cn/index.html", false},
      {u"https://bank.example.cn.evil.com/x", u"https://bank.example.cn/index.html", false},
      {u"https://user@evil.com/x", u"https://bank.example.cn/index.html", false},
      {u"https://bank.example.cn:8443/x", u"https://bank.example.cn/index.html", false},
      {u"file:///C:/pages/b.html", u"file:///C:/pages/a.html", true},
      {u"file:///C:/other/b.html", u"file:///C:/pages/a.html", false},
      // A file path as the setting; the browser reports the file's address.
      {u"file:///C:/pages/index.html", u"C:\\pages\\index.html", true},
      {u"file:///C:/other/index.html", u"C:\\pages\\index.html", false},
      {u"file://server/share/pages/b.html", u"\\\\server\\share\\pages\\a.html", true},
      // Windows escapes the blank; the setting is typed as the user sees it.
      {u"file:///C:/Program%20Files/pages/index.html", u"file:///C:/Program Files/pages/index.html", true},
      {u"file:///C:/Program Files/pages/index.html", u"C:\\Program%20Files\\pages\\a.html", true},
      // Escaped or not, ".." does not climb out of the trusted folder.
      {u"file:///C:/pages/..%2Fother/x.html", u"C:\\pages\\index.html", false},
      {u"file:///C:/pages/../other/x.html", u"C:\\pages\\index.html", false},
      {u"file:///C:/pages/sub/../b.html", u"C:\\pages\\index.html", true},
      {u"res://C:\\Program Files\\Bank\\NetBankAssistant.exe/129", u"https://bank.example.cn/", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsTrustedDocument(c.document, own, c.resUrl), c.trusted)
        << std::string(c.document, c.document + 0) << static_cast<int>(&c - cases);
}

}  // namespace
}  // namespace Zentrovak::UI
