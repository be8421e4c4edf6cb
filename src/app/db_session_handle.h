// DbSessionHandle: a database-layer Session held in a SessionPlace.
#pragma once

#include <memory>

#include "app/session_place.h"
#include "db/session.h"

namespace velquin {

class DbSessionHandle : public SessionHandle {
 public:
  explicit DbSessionHandle(std::unique_ptr<Session> session) : session_(std::move(session)) {}
  Session* session() const { return session_.get(); }

 private:
  std::unique_ptr<Session> session_;
};

// The Session a handle holds (null for no handle or one of another kind).
// The one place that looks past SessionHandle: this header owns both types.
inline Session* HeldSession(const SessionHandle* handle) {
  const auto* held = dynamic_cast<const DbSessionHandle*>(handle);
  return held ? held->session() : nullptr;
}

// The Session in a place (null when the side is not connected or holds
// something else); `keep` keeps it alive while it is used.
inline Session* SessionIn(const SessionPlace& place, std::shared_ptr<SessionHandle>* keep) {
  *keep = place.Get();
  return HeldSession(keep->get());
}

}  // namespace velquin
