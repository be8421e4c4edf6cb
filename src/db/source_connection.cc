#include "db/source_connection.h"

#include <dlfcn.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>

#include <cstring>

#include "base/text.h"
#include "db/odbc_handles.h"
#include "db/sql_quote.h"
#include "db/statements.h"

namespace velquin {
namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The folder of the loaded driver manager library (libodbc), or "".
std::string DriverManagerFolder() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&SQLAllocHandle), &info) == 0 || info.dli_fname == nullptr) {
    return std::string();
  }
  std::string path = info.dli_fname;
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::vector<OdbcDriverEntry> ListOdbcDrivers() {
  std::vector<OdbcDriverEntry> drivers;
  SQLHENV env = OdbcEnvironment();
  if (env == SQL_NULL_HENV) return drivers;
  std::vector<SQLCHAR> name(512), attributes(16384);
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    SQLSMALLINT name_length = 0, attributes_length = 0;
    SQLRETURN rc = SQLDrivers(env, direction, name.data(), static_cast<SQLSMALLINT>(name.size()),
                              &name_length, attributes.data(),
                              static_cast<SQLSMALLINT>(attributes.size()), &attributes_length);
    if (!SQL_SUCCEEDED(rc)) break;
    direction = SQL_FETCH_NEXT;
    OdbcDriverEntry entry;
    entry.name = reinterpret_cast<const char*>(name.data());
    // Attributes: "key=value\0key=value\0\0".
    const char* p = reinterpret_cast<const char*>(attributes.data());
    const char* end = p + attributes.size();
    while (p < end && *p != '\0') {
      std::size_t length = strnlen(p, static_cast<std::size_t>(end - p));
      std::string_view pair(p, length);
      std::size_t eq = pair.find('=');
      if (eq != std::string_view::npos) {
        entry.attributes[std::string(Trim(pair.substr(0, eq)))] = Trim(pair.substr(eq + 1));
      }
      p += length + 1;
    }
    drivers.push_back(std::move(entry));
  }
  return drivers;
}

bool IsMySqlOdbcDriverName(std::string_view name) {
  return name.find("MySQL ODBC") != std::string_view::npos ||
         name.find("MariaDB") != std::string_view::npos;
}

std::string ResolveDriverFile(std::string_view path) {
  std::string expanded = ExpandEnvironmentReferences(path);
  if (expanded.empty()) return std::string();
  if (expanded.find('/') != std::string::npos) {
    return IsRegularFile(expanded) ? expanded : std::string();
  }
  std::vector<std::string> folders;
  std::string manager = DriverManagerFolder();
  if (!manager.empty()) {
    folders.push_back(manager + "/odbc");
    folders.push_back(manager);
  }
  for (const char* folder : {"/usr/local/lib/odbc", "/usr/local/lib", "/usr/lib/odbc", "/usr/lib",
                             "/usr/lib64/odbc", "/usr/lib64"}) {
    folders.emplace_back(folder);
  }
  for (const std::string& folder : folders) {
    std::string candidate = folder + "/" + expanded;
    if (IsRegularFile(candidate)) return candidate;
  }
  return std::string();
}

std::string FindMySqlOdbcDriver(int n) {
  if (n < 1) return std::string();
  int candidate = 0;
  for (const OdbcDriverEntry& driver : ListOdbcDrivers()) {
    if (!IsMySqlOdbcDriverName(driver.name)) continue;
    ++candidate;
    bool driver_present = false;
    bool setup_listed = false;
    bool setup_present = false;
    for (const auto& [key, value] : driver.attributes) {
      if (EqualsIgnoreCase(key, "Driver")) {
        driver_present = !ResolveDriverFile(value).empty();
      } else if (EqualsIgnoreCase(key, "Setup")) {
        setup_listed = true;
        setup_present = !ResolveDriverFile(value).empty();
      }
    }
    if (candidate == n) {
      if (driver_present && (!setup_listed || setup_present)) return driver.name;
      return std::string();
    }
  }
  return std::string();
}

namespace {

std::string Attribute(std::string_view key, std::string_view value) {
  return std::string(key) + "=" + QuoteConnectionValue(value) + ";";
}

}  // namespace

Result<SourceProperties> BuildSourceProperties(const ConnectionDescriptor& descriptor,
                                               const TrialOpen& trial_open) {
  SourceProperties properties;
  std::string credentials =
      Attribute("UID", descriptor.user_id) + Attribute("PWD", descriptor.password);
  const std::string tail =
      (descriptor.catalog.empty() ? std::string() : Attribute("DATABASE", descriptor.catalog)) +
      "CHARSET=utf8mb4;";
  if (!EqualsIgnoreCase(descriptor.provider_display_name, kTcpIpPort)) {
    // A data source keeps the user and password stored with it unless
    // others are given: an empty UID or PWD would override them.
    credentials.clear();
    if (!descriptor.user_id.empty()) credentials += Attribute("UID", descriptor.user_id);
    if (!descriptor.password.empty()) credentials += Attribute("PWD", descriptor.password);
    std::string dsn =
        descriptor.source_name.empty() ? std::string() : "DSN={" + descriptor.source_name + "};";
    if (descriptor.source_name.find_first_of("{}") != std::string::npos) {
      dsn = Attribute("DSN", descriptor.source_name);
    }
    properties.connection_string = dsn + credentials + tail;
    properties.attempts.push_back(properties.connection_string);
    return properties;
  }
  properties.tcp_ip = true;
  std::string server = descriptor.source_name;
  std::string port = "3306";
  std::size_t colon = server.find(':');
  if (server.starts_with('[')) {  // "[::1]:3307": an IPv6 address
    const std::size_t close = server.find(']');
    colon = close == std::string::npos ? std::string::npos : server.find(':', close);
    if (close != std::string::npos) {
      const std::string rest = server.substr(close + 1);
      server = server.substr(1, close - 1) + rest;
      if (colon != std::string::npos) colon -= 2;
    }
  }
  if (colon != std::string::npos) {
    port = server.substr(colon + 1);
    server.resize(colon);
  }
  TrialOpen open = trial_open;
  if (!open) {
    open = [](const std::string& connection_string) -> Status {
      Result<std::unique_ptr<OdbcSession>> session = OdbcSession::Connect(connection_string);
      return session.ok() ? Status::Ok() : session.status();
    };
  }
  for (int n = 1; n <= 3; ++n) {
    std::string driver = FindMySqlOdbcDriver(n);
    if (driver.empty()) return Status::NotFound(std::string(kNoAppropriateConfig));
    std::string connection_string = "DRIVER={" + driver + "};" + Attribute("SERVER", server) +
                                    Attribute("PORT", port) + credentials + tail;
    properties.attempts.push_back(connection_string);
    properties.connection_string = connection_string;
    Status trial = open(connection_string);
    properties.attempt_results.push_back(trial);
    if (trial.ok()) break;
  }
  return properties;
}

SourceConnectResult ConnectSource(ConnectionDescriptor& descriptor, const LineSink& out,
                                  const TrialOpen& trial_open) {
  auto write = [&](const std::string& line) {
    if (out) out(line);
  };
  SourceConnectResult result;
  auto fail = [&](Status status) {
    result.session.reset();
    result.help_text = std::string(kSourceConnectionHelp);
    result.message_box = std::string(kSourceConnectionMessage);
    result.status = std::move(status);
    return std::move(result);
  };
  Result<SourceProperties> properties = BuildSourceProperties(descriptor, trial_open);
  if (!properties.ok()) return fail(properties.status());
  Result<std::unique_ptr<OdbcSession>> session =
      OdbcSession::Connect(properties->connection_string);
  if (!session.ok()) return fail(session.status());
  write(std::string(kConnectSourceLine));
  result.session = std::move(*session);

  std::string name;
  Result<std::string> dbms_name = result.session->DbmsName();
  if (!dbms_name.ok()) {
    write("Get Source DBMS Name Error!");
  } else {
    name = Trim(*dbms_name);
  }
  if (!name.empty()) {
    Result<std::string> version = result.session->DbmsVersion();
    if (!version.ok()) {
      write("Get Source DBMS Version Error!");
    } else {
      name += "[" + *version + "]";
    }
  }
  write(std::string(kResultSuccess));
  if (name.empty()) name = GetServerVersion(result.session.get(), out);
  descriptor.dbms_name = name;
  result.dbms_name = name;
  result.status = Status::Ok();
  return result;
}

}  // namespace velquin
