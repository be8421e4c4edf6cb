// Connecting the MySQL source: the side's stored settings become an ODBC
// connection string, with a search for a usable MySQL ODBC driver when the
// settings name a server and port instead of a data source name.
//
// Data source names come from odbc.ini and drivers from odbcinst.ini, read
// through unixODBC (so ODBCSYSINI, ODBCINSTINI and ODBCINI apply).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/connection_descriptor.h"
#include "base/status.h"
#include "db/odbc_session.h"
#include "db/session.h"

namespace velquin {

// One side's connection settings live in base/connection_descriptor.h.
inline constexpr std::string_view kTcpIpPort = "TCP/IP:Port";

// An installed ODBC driver (a section of odbcinst.ini) and its attributes.
struct OdbcDriverEntry {
  std::string name;
  std::map<std::string, std::string> attributes;  // keys as written ("Driver", "Setup", ...)
};

// The installed drivers in odbcinst.ini order.
std::vector<OdbcDriverEntry> ListOdbcDrivers();

// True for driver names that denote a MySQL ODBC driver: the name contains
// "MySQL ODBC" or "MariaDB" (case-sensitive).
bool IsMySqlOdbcDriverName(std::string_view name);

// Resolves a driver library path as unixODBC would: absolute paths as they
// are, bare names in the driver manager's driver folder and the system's
// library folders. Returns the path of an existing regular file, or "".
std::string ResolveDriverFile(std::string_view path);

// The n-th usable MySQL ODBC driver (n counts from 1) in odbcinst.ini order:
// every driver whose name is a MySQL ODBC name is the next candidate; it is
// usable when its "Driver" file exists and its "Setup" file exists (a driver
// without a Setup entry needs only its Driver file; keys compared without
// regard to case, %NAME% references expanded). A candidate n that is not
// usable is not replaced by a later one: the result is "".
std::string FindMySqlOdbcDriver(int n);

// The connection string(s) for the source.
struct SourceProperties {
  bool tcp_ip = false;                  // "TCP/IP:Port" settings
  std::vector<std::string> attempts;    // one connection string per driver tried, in order
  std::vector<Status> attempt_results;  // the trial open's outcome for each attempt
  std::string connection_string;        // the string the real open uses
};

// Opens a trial connection with a connection string (the default connects
// and disconnects with OdbcSession::Connect).
using TrialOpen = std::function<Status(const std::string& connection_string)>;

// Builds the source's connection string from its descriptor.
//   DSN form: "DSN={name};UID=...;PWD=...;" plus "DATABASE=catalog;" when a
//     catalog is set, plus "CHARSET=utf8mb4;".
//   "TCP/IP:Port": source_name is "server:port" (split at the first ':';
//     without one the port is "3306"). For n = 1, 2, 3: the n-th usable MySQL
//     ODBC driver (none: NotFound, "No appropriate Config, Please correct!!!");
//     "DRIVER={name};SERVER=...;PORT=...;UID=<user ID>;PWD=...;" plus
//     "DATABASE=catalog;" when set, "CHARSET=utf8mb4;"; a trial open; the
//     first success ends the search. When all three trials fail the third
//     string is still returned (the real open then reports the failure).
// Values are brace-quoted where needed, so no value can add attributes.
Result<SourceProperties> BuildSourceProperties(const ConnectionDescriptor& descriptor,
                                               const TrialOpen& trial_open = nullptr);

// Output texts of the source side's connect.
inline constexpr std::string_view kConnectSourceLine = "Connect Source Database!";
inline constexpr std::string_view kSourceConnectionHelp =
    "Source Connection error! Please comfirm source database connection properties !";
inline constexpr std::string_view kSourceConnectionMessage = "Source Connection error!";
inline constexpr std::string_view kNoAppropriateConfig = "No appropriate Config, Please correct!!!";

struct SourceConnectResult {
  std::unique_ptr<OdbcSession> session;  // null on failure
  std::string dbms_name;                 // "MariaDB[10.11.000019]" (also stored in the descriptor)
  std::string help_text;    // on failure: the text for the help pane after "F1 to Help:"
  std::string message_box;  // on failure: the message box text
  Status status;            // the failure's cause (the driver's description)
};

// The database part of connecting the source: builds the connection string,
// connects, writes "Connect Source Database!", reads the DBMS name and
// version (failures write "Get Source DBMS Name Error!" / "Get Source DBMS
// Version Error!"), writes "RESULT: The operation completed SUCCESSFULLY" and
// stores the DBMS name in the descriptor. On failure the result carries the
// help text and message box text above and no session.
SourceConnectResult ConnectSource(ConnectionDescriptor& descriptor, const LineSink& out,
                                  const TrialOpen& trial_open = nullptr);

}  // namespace velquin
