#include "app/load_verification.h"

#include <fmt/format.h>

#include <memory>
#include <mutex>

#include "migrate/verify.h"
#include "migrate/verify_checksum.h"

namespace velquin {

LoadVerification VerifyLoadedReports(MigrationPipeline& verifier, Session* source,
                                     jet::Database* file, const std::string& file_problem,
                                     const std::string& database,
                                     std::vector<MigrationReport>& reports, std::size_t from,
                                     const VerifiedReportSink& told,
                                     const std::function<std::unique_lock<std::mutex>()>& lock_file,
                                     Session* second_source) {
  LoadVerification out;
  auto compared = [&](const MigrationReport& r) {
    return r.status == "migrated" || r.status == "refused rows" || r.status == "materialized" ||
           r.status == "reused";
  };
  auto as_view = [](const MigrationReport& r) {
    return r.kind == ObjectKind::kView && r.status != "materialized";
  };
  std::unique_ptr<quick_check::SumsAhead> ahead;
  if (second_source != nullptr && source != nullptr && file != nullptr) {
    // The checksum queries of every object, asked of the catalogue now
    // (cheap: no table is read), then run one after another on the second
    // connection.
    std::vector<std::string> queries;
    for (std::size_t i = from; i < reports.size(); ++i) {
      if (!compared(reports[i])) continue;
      std::unique_lock<std::mutex> lock;
      if (lock_file) lock = lock_file();
      queries.push_back(verifier.VerifySumsQuery(source, *file, database, reports[i].source_name,
                                                 as_view(reports[i])));
    }
    ahead = std::make_unique<quick_check::SumsAhead>(second_source, std::move(queries));
  }
  for (std::size_t i = from; i < reports.size(); ++i) {
    MigrationReport& r = reports[i];
    if (!compared(r)) continue;
    bool equal = true;
    if (file == nullptr || source == nullptr) {
      r.verified = "not verified: " + (file == nullptr ? file_problem : "no source connection");
      equal = false;
      ++out.not_verified;
    } else {
      std::unique_lock<std::mutex> lock;
      if (lock_file) lock = lock_file();
      const TableVerification v =
          as_view(r) ? verifier.VerifyView(source, *file, database, r.source_name, ahead.get())
                     : verifier.VerifyTable(source, *file, database, r.source_name, ahead.get());
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
