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

// The Session in a place (null when the side is not connected or holds
// something else); `keep` keeps it alive while it is used.
inline Session* SessionIn(const SessionPlace& place, std::shared_ptr<SessionHandle>* keep) {
  *keep = place.Get();
  auto* handle = dynamic_cast<DbSessionHandle*>(keep->get());
  return handle ? handle->session() : nullptr;
}

}  // namespace velquin
