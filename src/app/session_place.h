// SessionPlace: where the controller keeps one side's open session. Task
// routines and commands look the session up here at each use, so a
// reconnect (a database switch replaces the target session) is seen by the
// steps that follow it.
//
// The database layer defines the real session type; it derives from
// SessionHandle so the controller can hold it without knowing it.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace velquin {

class SessionHandle {
 public:
  virtual ~SessionHandle() = default;
};

class SessionPlace {
 public:
  // The current session, or null when the side is not connected. The
  // returned pointer keeps the session alive while it is used, even if a
  // reconnect replaces it meanwhile.
  std::shared_ptr<SessionHandle> Get() const {
    std::lock_guard<std::mutex> lock(mu_);
    return session_;
  }
  void Set(std::shared_ptr<SessionHandle> session) {
    std::lock_guard<std::mutex> lock(mu_);
    session_ = std::move(session);
  }
  void Reset() { Set(nullptr); }
  bool connected() const { return Get() != nullptr; }

 private:
  mutable std::mutex mu_;
  std::shared_ptr<SessionHandle> session_;
};

}  // namespace velquin
