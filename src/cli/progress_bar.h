// The progress bar of the table whose rows are being copied or written,
// drawn on the terminal's last line; log lines are written above it. With
// the run's row total (SetRun) it also shows the whole run's share and the
// time left for it, from the rows done so far and the run's rate.
#pragma once

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "log/output_log.h"

namespace velquin {

class ProgressBar : public LogSink {
 public:
  explicit ProgressBar(std::shared_ptr<LogSink> terminal) : terminal_(std::move(terminal)) {}

  void OnLine(const LogLine& line) override {
    std::lock_guard<std::mutex> lock(mu_);
    if (drawn_) std::fputs("\r\x1b[K", stdout);
    if (terminal_) terminal_->OnLine(line);
    if (active_) Draw();
  }
  void SetRun(uint64_t total_rows) {
    std::lock_guard<std::mutex> lock(mu_);
    run_total_ = total_rows;
    run_started_ = std::chrono::steady_clock::now();
  }
  void Start(const std::string& table, uint64_t expected) {
    std::lock_guard<std::mutex> lock(mu_);
    table_ = table;
    expected_ = expected;
    read_ = 0;
    started_ = std::chrono::steady_clock::now();
    active_ = true;
    Draw();
  }
  void Update(uint64_t read, uint64_t expected) {
    std::lock_guard<std::mutex> lock(mu_);
    read_ = read;
    expected_ = std::max(expected, read);
    Draw();
  }
  void End() {
    std::lock_guard<std::mutex> lock(mu_);
    if (active_) run_done_ += read_;
    read_ = 0;
    if (drawn_) std::fputs("\r\x1b[K", stdout);
    std::fflush(stdout);
    drawn_ = false;
    active_ = false;
  }

 private:
  void Draw() {
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double rate = secs > 0 ? read_ / secs : 0;
    constexpr int kWidth = 30;
    const double part = expected_ ? std::min(1.0, static_cast<double>(read_) / expected_) : 0;
    std::string bar(static_cast<std::size_t>(part * kWidth), '#');
    bar.resize(kWidth, '.');
    std::string eta = "--:--";
    if (rate > 0 && expected_ > read_) {
      const auto left = static_cast<long>((expected_ - read_) / rate);
      eta = fmt::format("{}:{:02}", left / 60, left % 60);
    }
    std::string run;
    if (run_total_ > 0) {
      const uint64_t done = run_done_ + read_;
      const double run_secs =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - run_started_).count();
      const double run_rate = run_secs > 0 ? done / run_secs : 0;
      std::string left = "--:--";
      if (run_rate > 0 && run_total_ > done) {
        const auto s = static_cast<long>((run_total_ - done) / run_rate);
        left = fmt::format("{}:{:02}", s / 60, s % 60);
      }
      run = fmt::format(" | run {:.0f}% ETA {}",
                        100.0 * std::min(1.0, static_cast<double>(done) / run_total_), left);
    }
    std::fputs(fmt::format("\r\x1b[K[{}] {} {}/{} rows {:.0f} rows/s ETA {}{}", bar, table_, read_,
                           expected_, rate, eta, run)
                   .c_str(),
               stdout);
    std::fflush(stdout);
    drawn_ = true;
  }

  std::shared_ptr<LogSink> terminal_;
  std::mutex mu_;
  bool active_ = false;
  bool drawn_ = false;
  std::string table_;
  uint64_t expected_ = 0, read_ = 0;
  std::chrono::steady_clock::time_point started_;
  uint64_t run_total_ = 0, run_done_ = 0;  // rows of the whole run (the server's estimate)
  std::chrono::steady_clock::time_point run_started_;
};

}  // namespace velquin
