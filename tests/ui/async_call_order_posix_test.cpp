// The order of the page's asynchronous calls on Linux: started in the
// order the page numbered them, a missing call given up in time, and a
// bound on the calls that wait for one.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ui/posix/async_call_order.h"

namespace Zentrovak::UI::Posix {
namespace {

using Clock = AsyncCallOrder::Clock;
using Outcome = AsyncCallOrder::Outcome;

// Calls that carry their number as their first argument.
ExternalAsyncThread* Call(int number) {
  return new ExternalAsyncThread(true, nullptr, Variant(), Variant::String(u"call"), Variant::Int(number), Variant(),
                                 Variant(), Variant());
}

// The numbers of the calls that came due; they are destroyed.
std::vector<int> Numbers(std::vector<ExternalAsyncThread*>& due) {
  std::vector<int> numbers;
  for (auto* job : due) {
    numbers.push_back(job->a1.AsInt());
    job->Destroy();
  }
  due.clear();
  return numbers;
}

TEST(AsyncCallOrder, CallsArrivingOutOfOrderStartInTheOrderTheyWereNumbered) {
  AsyncCallOrder order;
  std::vector<ExternalAsyncThread*> due;
  const auto now = Clock::now();
  EXPECT_EQ(order.Add("doc", 3, Call(3), now, due), Outcome::Waiting);
  EXPECT_EQ(order.Add("doc", 2, Call(2), now, due), Outcome::Waiting);
  EXPECT_TRUE(due.empty());
  EXPECT_EQ(order.Add("doc", 1, Call(1), now, due), Outcome::Due);
  EXPECT_EQ(Numbers(due), (std::vector<int>{1, 2, 3}));
  // Another document keeps an order of its own.
  EXPECT_EQ(order.Add("other", 1, Call(10), now, due), Outcome::Due);
  // The page's word that call 4 was refused on its way lets 5 through.
  EXPECT_EQ(order.Add("doc", 5, Call(5), now, due), Outcome::Waiting);
  EXPECT_EQ(order.Add("doc", 4, nullptr, now, due), Outcome::Due);
  EXPECT_EQ(Numbers(due), (std::vector<int>{10, 5}));
}

TEST(AsyncCallOrder, AMissingCallIsGivenUpInTimeAndTheCallsAfterItRun) {
  AsyncCallOrder order;
  std::vector<ExternalAsyncThread*> due;
  std::vector<AsyncCallOrder::Gap> gaps;
  const auto start = Clock::now();
  for (int n = 2; n <= 201; ++n) EXPECT_EQ(order.Add("doc", n, Call(n), start, due), Outcome::Waiting);
  ASSERT_TRUE(order.NextExpiry());
  EXPECT_EQ(*order.NextExpiry(), start + AsyncCallOrder::kGapWait);

  order.Expire(start + AsyncCallOrder::kGapWait - std::chrono::milliseconds(1), due, gaps);
  EXPECT_TRUE(due.empty());
  order.Expire(start + AsyncCallOrder::kGapWait, due, gaps);
  ASSERT_EQ(gaps.size(), 1u);
  EXPECT_EQ(gaps[0].first, 1);
  EXPECT_EQ(gaps[0].last, 1);
  std::vector<int> expected;
  for (int n = 2; n <= 201; ++n) expected.push_back(n);
  EXPECT_EQ(Numbers(due), expected);
  EXPECT_FALSE(order.NextExpiry());

  // The missing call, arriving after all, runs as it comes.
  EXPECT_EQ(order.Add("doc", 1, Call(1), start + std::chrono::seconds(5), due), Outcome::Due);
  EXPECT_EQ(Numbers(due), (std::vector<int>{1}));
}

TEST(AsyncCallOrder, ASecondGapGetsAWaitOfItsOwn) {
  AsyncCallOrder order;
  std::vector<ExternalAsyncThread*> due;
  std::vector<AsyncCallOrder::Gap> gaps;
  const auto start = Clock::now();
  order.Add("doc", 2, Call(2), start, due);
  order.Add("doc", 4, Call(4), start, due);
  const auto later = start + AsyncCallOrder::kGapWait;
  order.Expire(later, due, gaps);
  EXPECT_EQ(Numbers(due), (std::vector<int>{2}));
  // 3 is missing from now on, not from when 4 came.
  EXPECT_EQ(*order.NextExpiry(), later + AsyncCallOrder::kGapWait);
  EXPECT_EQ(order.Add("doc", 3, Call(3), later + std::chrono::milliseconds(10), due), Outcome::Due);
  EXPECT_EQ(Numbers(due), (std::vector<int>{3, 4}));
}

TEST(AsyncCallOrder, CallsWaitingForAMissingOneAreBounded) {
  AsyncCallOrder order;
  std::vector<ExternalAsyncThread*> due;
  const auto now = Clock::now();
  const int last = 1 + static_cast<int>(AsyncCallOrder::kMaxEarly);
  for (int n = 2; n <= last; ++n) ASSERT_EQ(order.Add("doc", n, Call(n), now, due), Outcome::Waiting);
  std::unique_ptr<ExternalAsyncThread> beyond(Call(last + 1));
  EXPECT_EQ(order.Add("doc", last + 1, beyond.get(), now, due), Outcome::Refused);
  // Other documents are not held up, and the missing call still lets every
  // waiting one through.
  EXPECT_EQ(order.Add("other", 1, Call(0), now, due), Outcome::Due);
  EXPECT_EQ(order.Add("doc", 1, Call(1), now, due), Outcome::Due);
  EXPECT_EQ(due.size(), AsyncCallOrder::kMaxEarly + 2);
  Numbers(due);
}

TEST(AsyncCallOrder, ADocumentLeftForAnotherStartsItsWaitingCalls) {
  AsyncCallOrder order;
  std::vector<ExternalAsyncThread*> due;
  const auto start = Clock::now();
  order.Add("first", 3, Call(3), start, due);
  order.Add("first", 2, Call(2), start, due);
  for (size_t i = 1; i < AsyncCallOrder::kMaxDocuments; ++i)
    order.Add("doc" + std::to_string(i), 1, Call(100), start + std::chrono::milliseconds(i), due);
  Numbers(due);
  order.Add("newest", 1, Call(1), start + std::chrono::seconds(1), due);
  EXPECT_EQ(Numbers(due), (std::vector<int>{2, 3, 1}));
}

}  // namespace
}  // namespace Zentrovak::UI::Posix
