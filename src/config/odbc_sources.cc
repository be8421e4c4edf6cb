#include "config/odbc_sources.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <system_error>

#include "base/text.h"
#include "config/ini_file.h"

namespace velquin {
namespace fs = std::filesystem;
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

fs::path Home() {
  std::string home = Env("HOME");
  return home.empty() ? fs::path() : fs::path(home);
}

fs::path SystemFolder() {
  std::string dir = Env("ODBCSYSINI");
  return dir.empty() ? fs::path("/etc") : fs::path(dir);
}

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return !p.empty() && fs::exists(p, ec) && !fs::is_directory(p, ec);
}

std::vector<IniFile> Load(const std::vector<fs::path>& files) {
  std::vector<IniFile> out;
  for (const fs::path& f : files) {
    Result<IniFile> ini = IniFile::Load(f);
    if (ini.ok()) out.push_back(std::move(*ini));  // an unreadable file counts as empty
  }
  return out;
}

// The driver sections of odbcinst.ini files (not the [ODBC] and
// [ODBC Drivers] sections), each name once.
std::vector<std::pair<std::string, const IniFile*>> DriverSections(
    const std::vector<IniFile>& files) {
  std::vector<std::pair<std::string, const IniFile*>> out;
  for (const IniFile& f : files) {
    for (const std::string& name : f.SectionNames()) {
      if (EqualsIgnoreCase(name, "ODBC") || EqualsIgnoreCase(name, "ODBC Drivers")) continue;
      const bool seen = std::any_of(out.begin(), out.end(),
                                    [&](const auto& e) { return EqualsIgnoreCase(e.first, name); });
      if (!seen) out.emplace_back(name, &f);
    }
  }
  return out;
}

}  // namespace

std::vector<fs::path> OdbcIniFiles() {
  std::vector<fs::path> files;
  std::string user = Env("ODBCINI");
  if (!user.empty()) {
    files.emplace_back(user);
  } else if (!Home().empty()) {
    files.push_back(Home() / ".odbc.ini");
  }
  files.push_back(SystemFolder() / "odbc.ini");
  return files;
}

std::vector<fs::path> OdbcInstIniFiles() {
  std::string name = Env("ODBCINSTINI");
  std::vector<fs::path> files{SystemFolder() / (name.empty() ? std::string("odbcinst.ini") : name)};
  if (!Home().empty()) files.push_back(UserOdbcInstIni());
  return files;
}

fs::path UserOdbcInstIni() { return Home() / ".odbcinst.ini"; }

bool IsMySqlDriver(const std::string& driver) {
  const std::string d = AsciiLower(driver);
  for (const char* word : {"mysql", "mariadb", "maodbc", "myodbc"}) {
    if (d.find(word) != std::string::npos) return true;
  }
  return false;
}

std::vector<std::string> MySqlDataSources() {
  const std::vector<IniFile> inst = Load(OdbcInstIniFiles());
  auto driver_is_mysql = [&](const std::string& driver) {
    if (IsMySqlDriver(driver)) return true;
    for (const IniFile& f : inst) {
      if (IsMySqlDriver(f.GetString(driver, "Driver"))) return true;
    }
    return false;
  };
  std::vector<std::string> names;
  for (const IniFile& f : Load(OdbcIniFiles())) {
    for (const std::string& dsn : f.SectionNames()) {
      if (EqualsIgnoreCase(dsn, "ODBC Data Sources") || EqualsIgnoreCase(dsn, "ODBC")) continue;
      if (!driver_is_mysql(f.GetString(dsn, "Driver"))) continue;
      if (std::find(names.begin(), names.end(), dsn) == names.end()) names.push_back(dsn);
    }
  }
  return names;
}

fs::path FindDriverFile(const std::string& named) {
  if (named.empty()) return {};
  fs::path p(named);
  if (p.has_parent_path()) return IsFile(p) ? p : fs::path();
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/x86_64-linux-gnu",
                          "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu",
                          "/usr/lib64", "/usr/lib", "/usr/local/lib", "/lib/x86_64-linux-gnu"}) {
    if (IsFile(fs::path(dir) / p)) return fs::path(dir) / p;
  }
  return {};
}

std::vector<DriverRow> MySqlDriverRows() {
  std::vector<DriverRow> rows;
  const fs::path manager = FindDriverFile("libodbc.so.2");
  rows.push_back({"unixODBC Driver Manager", manager.empty() ? "Not Installed" : "Installed",
                  manager.empty() ? "Unusable" : "Usable"});
  if (manager.empty()) return rows;
  const std::vector<IniFile> inst = Load(OdbcInstIniFiles());
  for (const auto& [name, file] : DriverSections(inst)) {
    const std::string driver = file->GetString(name, "Driver");
    if (!IsMySqlDriver(name) && !IsMySqlDriver(driver)) continue;
    const std::string setup = file->GetString(name, "Setup");
    const bool usable =
        !FindDriverFile(driver).empty() && (setup.empty() || !FindDriverFile(setup).empty());
    rows.push_back({name, "Installed", usable ? "Usable" : "Unusable"});
  }
  if (rows.size() == 1) rows.push_back({"MySQL ODBC Driver", "Not installed", "Unusable"});
  return rows;
}

std::vector<DriverRow> AccessDriverRows() {
  return {{"Velquin Jet 4 engine (built in)", "Installed", "Usable"}};
}

DriverRow TcpIpRow(const std::vector<DriverRow>& mysql_rows) {
  // The first row is the driver manager; a driver must be usable too.
  bool any = false;
  for (size_t i = 1; i < mysql_rows.size(); ++i) any = any || mysql_rows[i].usable == "Usable";
  return {"TCP/IP:Port", "N/A", any ? "Usable" : "Unusable"};
}

Status InstallBundledDriver(const fs::path& bundle, const fs::path& install_dir,
                            const fs::path& odbcinst) {
  std::error_code ec;
  fs::path driver, setup;
  if (fs::is_directory(bundle, ec)) {
    for (const auto& entry : fs::directory_iterator(bundle, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.find(".so") == std::string::npos) continue;
      std::string stem = AsciiLower(entry.path().stem().string());
      if (stem.rfind("lib", 0) == 0) stem.erase(0, 3);
      if (stem.find("setup") != std::string::npos || stem == "myodbc3s") {
        setup = entry.path();
      } else if (driver.empty()) {
        driver = entry.path();
      }
    }
  }
  if (driver.empty()) {
    return Status::NotFound("No driver files beside the program (" + bundle.string() +
                            "). On this system the MariaDB ODBC driver comes with the package "
                            "odbc-mariadb.");
  }
  fs::create_directories(install_dir, ec);
  for (const fs::path& f : {driver, setup}) {
    if (f.empty()) continue;
    const fs::path to = install_dir / f.filename();
    if (!fs::exists(to, ec)) {
      fs::copy_file(f, to, ec);
      if (ec) return Status::IOError("copying " + f.string() + ": " + ec.message());
    }
  }
  VELQUIN_ASSIGN_OR_RETURN(IniFile ini, IniFile::Load(odbcinst));
  const std::string section = "MySQL ODBC 3.51 Driver";
  VELQUIN_RETURN_IF_ERROR(
      ini.SetString(section, "Driver", (install_dir / driver.filename()).string()));
  if (!setup.empty()) {
    VELQUIN_RETURN_IF_ERROR(
        ini.SetString(section, "Setup", (install_dir / setup.filename()).string()));
  }
  // Each registration counts one more use, as odbcinst -i does.
  const std::string count = ini.GetString(section, "UsageCount");
  const int uses = count.empty() ? 1 : std::atoi(count.c_str()) + 1;
  VELQUIN_RETURN_IF_ERROR(ini.SetString(section, "UsageCount", std::to_string(uses)));
  VELQUIN_RETURN_IF_ERROR(ini.SetString("ODBC Drivers", section, "Installed"));
  return ini.Save(odbcinst);
}

}  // namespace velquin
