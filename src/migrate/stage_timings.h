// Where a run's time goes: named stages, each the sum of the spans measured
// under its name, listed in the order each name first appeared.
//
//   StageTimings timings;
//   {
//     auto span = timings.Measure("rows employees");
//     ...                               // counted when `span` ends
//   }
//   for (const auto& stage : timings.Stages()) ...
//
// Safe to read from another thread while spans are being added.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velquin {

class StageTimings {
 public:
  struct Stage {
    std::string name;
    double seconds = 0;
    std::uint64_t spans = 0;  // how many spans were added up
  };

  // Measures from now until it is destroyed (or Stop is called).
  class Span {
   public:
    Span(StageTimings* owner, std::string name)
        : owner_(owner), name_(std::move(name)), start_(std::chrono::steady_clock::now()) {}
    Span(const Span&) = delete;
    Span& operator=(const Span&) = delete;
    ~Span() { Stop(); }
    void Stop() {
      if (!owner_) return;
      owner_->Add(name_,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
      owner_ = nullptr;
    }

   private:
    StageTimings* owner_;
    std::string name_;
    std::chrono::steady_clock::time_point start_;
  };

  [[nodiscard]] Span Measure(std::string name) { return Span(this, std::move(name)); }

  void Add(const std::string& name, double seconds) {
    std::lock_guard<std::mutex> lock(mu_);
    for (Stage& s : stages_) {
      if (s.name == name) {
        s.seconds += seconds;
        ++s.spans;
        return;
      }
    }
    stages_.push_back(Stage{name, seconds, 1});
  }

  std::vector<Stage> Stages() const {
    std::lock_guard<std::mutex> lock(mu_);
    return stages_;
  }

 private:
  mutable std::mutex mu_;
  std::vector<Stage> stages_;
};

}  // namespace velquin
