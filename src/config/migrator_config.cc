#include "config/migrator_config.h"

#include <system_error>

#include "config/ini_file.h"

namespace velquin {
namespace {

constexpr std::string_view kPublic = "Public";
constexpr std::string_view kSource = "SourceDB";
constexpr std::string_view kTarget = "TargetDB";

const char* FlagText(bool on) { return on ? "true" : "false"; }

void ReadConnection(const IniFile& file, std::string_view section, ConnectionSettings& out) {
  out.provider = file.GetString(section, "Provider");
  out.source_name = file.GetString(section, "SourceName");
  out.user_id = file.GetString(section, "UserID");
  out.password = file.GetString(section, "PassWord");
  out.catalog_name = file.GetString(section, "CatalogName");
}

Status WriteConnection(IniFile& file, std::string_view section, const ConnectionSettings& in) {
  VELQUIN_RETURN_IF_ERROR(file.SetString(section, "Provider", in.provider));
  VELQUIN_RETURN_IF_ERROR(file.SetString(section, "SourceName", in.source_name));
  VELQUIN_RETURN_IF_ERROR(file.SetString(section, "UserID", in.user_id));
  VELQUIN_RETURN_IF_ERROR(file.SetString(section, "PassWord", in.password));
  return file.SetString(section, "CatalogName", in.catalog_name);
}

}  // namespace

// migrator.cfg holds a password: only its owner may read it.
static Status SavePrivate(const IniFile& file, const std::filesystem::path& path) {
  VELQUIN_RETURN_IF_ERROR(file.Save(path));
  std::error_code ec;
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
      std::filesystem::perm_options::replace, ec);
  if (ec) return Status::IOError("cannot make " + path.string() + " private: " + ec.message());
  return Status::Ok();
}

bool ProfileFlagIsSet(std::string_view value) {
  return value.find("true") != std::string_view::npos;
}

Result<MigratorConfig> LoadMigratorConfig(const std::filesystem::path& path) {
  VELQUIN_ASSIGN_OR_RETURN(IniFile file, IniFile::Load(path));
  MigratorConfig config;
  config.options.config = ProfileFlagIsSet(file.GetString(kPublic, "Config"));
  config.options.auto_backup = ProfileFlagIsSet(file.GetString(kPublic, "AutoBackup"));
  config.options.tips = ProfileFlagIsSet(file.GetString(kPublic, "Tips"));
  if (config.options.config) {
    ReadConnection(file, kSource, config.source);
    ReadConnection(file, kTarget, config.target);
  }
  return config;
}

Status SaveMigratorConfig(const std::filesystem::path& path, const MigratorConfig& config) {
  VELQUIN_ASSIGN_OR_RETURN(IniFile file, IniFile::Load(path));
  if (config.options.config) {
    VELQUIN_RETURN_IF_ERROR(file.SetString(kPublic, "Config", "true"));
    VELQUIN_RETURN_IF_ERROR(file.SetString(kPublic, "Tips", FlagText(config.options.tips)));
    VELQUIN_RETURN_IF_ERROR(
        file.SetString(kPublic, "AutoBackup", FlagText(config.options.auto_backup)));
    VELQUIN_RETURN_IF_ERROR(WriteConnection(file, kSource, config.source));
    VELQUIN_RETURN_IF_ERROR(WriteConnection(file, kTarget, config.target));
  } else {
    VELQUIN_RETURN_IF_ERROR(file.SetString(kPublic, "Config", "false"));
  }
  return SavePrivate(file, path);
}

Status SaveMigratorConfigOnConnect(const std::filesystem::path& path,
                                   const MigratorConfig& config) {
  VELQUIN_ASSIGN_OR_RETURN(IniFile file, IniFile::Load(path));
  if (!config.options.config) VELQUIN_RETURN_IF_ERROR(file.SetString(kPublic, "Config", "false"));
  VELQUIN_RETURN_IF_ERROR(file.SetString(kPublic, "Tips", FlagText(config.options.tips)));
  VELQUIN_RETURN_IF_ERROR(
      file.SetString(kPublic, "AutoBackup", FlagText(config.options.auto_backup)));
  if (config.options.config) {
    VELQUIN_RETURN_IF_ERROR(file.SetString(kPublic, "Config", "true"));
    VELQUIN_RETURN_IF_ERROR(WriteConnection(file, kSource, config.source));
    VELQUIN_RETURN_IF_ERROR(WriteConnection(file, kTarget, config.target));
  }
  return SavePrivate(file, path);
}

}  // namespace velquin
