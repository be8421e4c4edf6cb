// Several threads write at once: each call is one whole line, every sink
// sees the lines in one order (the order of the calls), which is also the
// model's order, and each thread's lines keep their own order.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log/output_log.h"

namespace velquin {
namespace {

class OrderSink : public LogSink {
 public:
  void OnLine(const LogLine& line) override {
    std::lock_guard<std::mutex> lock(mu_);
    lines.push_back(line);
  }
  std::mutex mu_;
  std::vector<LogLine> lines;
};

TEST(OutputLogThreadsTest, LinesFromSeveralThreadsArriveWholeAndInCallOrder) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 1500;
  OutputLog log(1001);
  auto first = std::make_shared<OrderSink>();
  auto second = std::make_shared<OrderSink>();
  log.AddSink(first);
  log.AddSink(second);

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kPerThread; ++i) {
        // Classes mixed in, and a long line now and then.
        if (i % 100 == 0) {
          WriteOutputTo(log, "E::%d %d %s", t, i, std::string(2000, 'a' + t));
        } else {
          WriteOutputTo(log, "%d %d", t, i);
        }
      }
    });
  }
  for (auto& th : threads) th.join();

  ASSERT_EQ(first->lines.size(), static_cast<size_t>(kThreads * kPerThread));
  ASSERT_EQ(second->lines.size(), first->lines.size());
  std::map<int, int> next;  // thread -> next expected i
  for (size_t k = 0; k < first->lines.size(); ++k) {
    const LogLine& line = first->lines[k];
    // One order for all sinks, numbered without gaps.
    ASSERT_EQ(line.sequence, k + 1);
    ASSERT_EQ(second->lines[k].sequence, line.sequence);
    ASSERT_EQ(second->lines[k].text, line.text);
    int t = -1, i = -1;
    ASSERT_EQ(std::sscanf(line.text.c_str(), "%d %d", &t, &i), 2) << line.text;
    ASSERT_EQ(i, next[t]) << "thread " << t;
    next[t] = i + 1;
    if (i % 100 == 0) {
      ASSERT_EQ(line.line_class, LineClass::kError);
      ASSERT_EQ(line.text.size(), std::to_string(t).size() + std::to_string(i).size() + 2 + 2000);
    }
  }
  // The model holds the newest 1001 lines in the same order.
  const auto model = log.model().Snapshot();
  ASSERT_EQ(model.size(), 1001u);
  for (size_t k = 0; k < model.size(); ++k) {
    EXPECT_EQ(model[k].sequence, first->lines[first->lines.size() - 1001 + k].sequence);
  }
}

}  // namespace
}  // namespace velquin
