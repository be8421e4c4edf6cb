#include "app/load_verification.h"

#include <fmt/format.h>

#include <mutex>

#include "migrate/verify.h"

namespace velquin {

LoadVerification VerifyLoadedReports(
    MigrationPipeline& verifier, Session* source, jet::Database* file,
    const std::string& file_problem, const std::string& database,
    std::vector<MigrationReport>& reports, std::size_t from, const VerifiedReportSink& told,
    const std::function<std::unique_lock<std::mutex>()>& lock_file) {
  LoadVerification out;
  for (std::size_t i = from; i < reports.size(); ++i) {
    MigrationReport& r = reports[i];
    const bool rows = r.status == "migrated" || r.status == "refused rows" ||
                      r.status == "materialized" || r.status == "reused";
    if (!rows) continue;
    bool equal = true;
    if (file == nullptr || source == nullptr) {
      r.verified = "not verified: " + (file == nullptr ? file_problem : "no source connection");
      equal = false;
      ++out.not_verified;
    } else {
      std::unique_lock<std::mutex> lock;
      if (lock_file) lock = lock_file();
      const TableVerification v =
          r.kind == ObjectKind::kView && r.status != "materialized"
              ? verifier.VerifyView(source, *file, database, r.source_name)
              : verifier.VerifyTable(source, *file, database, r.source_name);
      if (lock.owns_lock()) lock.unlock();
      r.verified = VerificationText(v);
      equal = v.equal();
      if (equal) {
        ++out.equal;
      } else if (v.status.code() == StatusCode::kNotSupported) {
        // A query the engine cannot run, or a view of the moment (NOW()):
        // reported, not a failure, since nothing says its rows differ.
        equal = true;
        ++out.queries_not_run;
      } else if (v.status.ok()) {
        ++out.differing;
      } else {
        ++out.not_verified;
      }
    }
    if (told) told(r, equal);
  }
  return out;
}

std::string LoadVerificationText(const LoadVerification& v) {
  std::string out = fmt::format("Verification: {} equal, {} differ, {} not verified", v.equal,
                                v.differing, v.not_verified);
  if (v.queries_not_run) {
    out += fmt::format("; {} saved queries could not be compared (see their lines)",
                       v.queries_not_run);
  }
  return out;
}

}  // namespace velquin
