// What the configuration dialog and the driver check read from unixODBC's
// files: the MySQL/MariaDB data source names of odbc.ini, and the installed
// drivers of odbcinst.ini with whether their files are present.
//
// Files read (each missing file counts as empty):
//   odbc.ini      the user's ($ODBCINI, else ~/.odbc.ini) and the system's
//                 ($ODBCSYSINI/odbc.ini, else /etc/odbc.ini)
//   odbcinst.ini  the system's ($ODBCSYSINI/odbcinst.ini, else
//                 /etc/odbcinst.ini, or $ODBCINSTINI inside that folder) and
//                 the user's (~/.odbcinst.ini)
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "base/status.h"

namespace velquin {

std::vector<std::filesystem::path> OdbcIniFiles();
std::vector<std::filesystem::path> OdbcInstIniFiles();
// The user's odbcinst.ini (where a driver is registered without root).
std::filesystem::path UserOdbcInstIni();

// True when a driver name or library path names a MySQL or MariaDB driver.
bool IsMySqlDriver(const std::string& driver);

// Data source names, in file order (user file first), whose driver is a
// MySQL or MariaDB ODBC driver (named directly, or through odbcinst.ini).
std::vector<std::string> MySqlDataSources();

// One row of the driver check: name, installation and usability.
struct DriverRow {
  std::string name;
  std::string installed;  // "Installed", "Not Installed", "Not installed", "N/A"
  std::string usable;     // "Usable", "Unusable"
  // "name|installed|usable|"
  std::string Text() const { return name + "|" + installed + "|" + usable + "|"; }
};

// The source section: the driver manager's row (unixODBC's libodbc), then
// one row per MySQL/MariaDB driver of odbcinst.ini ("Usable" when its
// "Driver" file, and its "Setup" file when one is named, are present), or
// the row "MySQL ODBC Driver|Not installed|Unusable|". Nothing follows an
// unusable driver manager.
std::vector<DriverRow> MySqlDriverRows();
// The target section: the built-in Jet engine, always installed and usable.
std::vector<DriverRow> AccessDriverRows();
// "TCP/IP:Port|N/A|Usable|" when any driver row is usable, else Unusable.
DriverRow TcpIpRow(const std::vector<DriverRow>& mysql_rows);

// A library file named in odbcinst.ini: a path as it stands, a bare name
// searched in the system's library folders. Empty when not found or a
// folder.
std::filesystem::path FindDriverFile(const std::string& named);

// Registers the driver files shipped beside the program (in `bundle`, the
// folder "MyODBC3.51") in `odbcinst`: copies them into `install_dir`
// (existing files are kept) and writes the section "MySQL ODBC 3.51 Driver"
// with Driver, Setup and UsageCount, and its line in [ODBC Drivers], as
// `odbcinst -i -d` does. NotFound when the bundle holds no driver library.
Status InstallBundledDriver(const std::filesystem::path& bundle,
                            const std::filesystem::path& install_dir,
                            const std::filesystem::path& odbcinst);

}  // namespace velquin
