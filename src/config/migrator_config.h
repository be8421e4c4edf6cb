// migrator.cfg: the two connection settings and three program options,
// kept in an INI file beside the program.
//
//   [Public]    Config, Tips, AutoBackup     "true" / "false"
//   [SourceDB]  Provider, SourceName, UserID, PassWord, CatalogName
//   [TargetDB]  the same five keys for the target
//
// A flag counts as set when its value contains "true" (case-sensitive, as
// the stored files were read). Values are not cut at 79 characters, unlike
// the fixed buffers the files were once read with.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/status.h"

namespace velquin {

struct ConnectionSettings {
  std::string provider;     // provider display name, e.g. "TCP/IP:Port"
  std::string source_name;  // data source name, "host:port" or .mdb path
  std::string user_id;
  std::string password;  // stored in plain text, as the file format has it
  std::string catalog_name;

  bool operator==(const ConnectionSettings&) const = default;
};

struct MigratorOptions {
  bool config = false;       // "Properties from and to config file"
  bool tips = false;         // "Display Tips"
  bool auto_backup = false;  // "Auto Backup (need more time and disk space)"

  bool operator==(const MigratorOptions&) const = default;
};

struct MigratorConfig {
  MigratorOptions options;
  ConnectionSettings source;
  ConnectionSettings target;

  bool operator==(const MigratorConfig&) const = default;
};

inline constexpr std::string_view kMigratorConfigFileName = "migrator.cfg";

// True when a stored flag value counts as set (contains "true").
bool ProfileFlagIsSet(std::string_view value);

// Reads the file as the configuration dialog does when it opens: a missing
// file gives all options off and empty settings; the connection settings are
// read only when the Config option is set (otherwise they stay empty).
Result<MigratorConfig> LoadMigratorConfig(const std::filesystem::path& path);

// Both writers leave the file readable and writable by its owner only
// (mode 0600): it holds a password.
//
// "Save Config": with the Config option on, writes Config=true, Tips,
// AutoBackup and the ten connection keys; with it off, writes only
// Config=false and leaves everything else in the file untouched.
Status SaveMigratorConfig(const std::filesystem::path& path, const MigratorConfig& config);

// "Connect": writes Tips and AutoBackup always, Config, and the ten
// connection keys when the Config option is on.
Status SaveMigratorConfigOnConnect(const std::filesystem::path& path, const MigratorConfig& config);

}  // namespace velquin
