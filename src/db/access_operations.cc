#include "db/access_operations.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "base/text.h"
#include "db/provider_error.h"
#include "db/sql_quote.h"
#include "db/statements.h"
#include "log/system_error.h"

namespace velquin {
namespace {

constexpr std::uint32_t kEFail = 0x80004005u;

// The folder part of a path, up to and including its last separator ("\"
// as stored by the Windows program, "/" on this platform); empty if none.
std::string FolderOf(std::string_view path) {
  std::size_t at = path.find_last_of("\\/");
  return at == std::string_view::npos ? std::string() : std::string(path.substr(0, at + 1));
}

std::string Format(std::string_view pattern, std::string_view a) {
  std::string out(pattern);
  out.replace(out.find("%s"), 2, a);
  return out;
}

}  // namespace

bool IsJetProvider(std::string_view prog_id) { return EqualsIgnoreCase(prog_id, kJetProgId); }

std::vector<DbProperty> BuildTargetProperties(ConnectionDescriptor& d) {
  std::vector<DbProperty> p;
  p.push_back({5, true});
  p.push_back({6, false});
  p.push_back({8, false});
  p.push_back({9, d.password});
  p.push_back({12, d.user_id});
  if (!d.source_name.empty()) p.push_back({59, d.source_name});
  if (!d.catalog.empty()) p.push_back({233, d.catalog});
  p.push_back({63, std::int32_t{16}});
  p.push_back({64, std::int16_t{4}});
  p.push_back({186, std::int32_t{0x409}});
  if (!IsJetProvider(d.provider_prog_id)) {
    p.push_back({160, "Driver={Microsoft Access Driver (*.mdb)};SystemDB=" +
                          ExpandEnvironmentReferences(std::string(kJetSystemDatabasePath) + ";")});
    return p;
  }
  p.push_back({160, std::string(";COUNTRY=0;CP=1252;LANGID=0x0409")});
  // The catalog shown for a Jet target: the file's path without ".mdb".
  // Only a literal ".mdb" ending is taken off (a name that merely ends in
  // "mdb", like "cmdb", is left whole).
  const std::string& s = d.source_name;
  if (s.size() >= 4 && s.compare(s.size() - 4, 4, ".mdb") == 0) {
    d.catalog = s.substr(0, s.size() - 4);
  } else {
    d.catalog = s;
  }
  return p;
}

bool CreateJetSystemDatabase(const LineSink&) { return true; }

void DisconnectTarget(TargetContext& t) {
  t.session.reset();
  t.connected = false;
}

bool ConnectTarget(TargetContext& t, const LineSink& out) {
  DisconnectTarget(t);
  BuildTargetProperties(t.descriptor);
  CreateJetSystemDatabase(out);
  Status failure = Status::Ok();
  if (!IsJetProvider(t.descriptor.provider_prog_id)) {
    failure = Status::NotSupported("Provider '" + t.descriptor.provider_prog_id +
                                   "' is not available; the target is reached through " +
                                   std::string(kJetProgId) + ".");
  } else {
    auto session = JetSession::Open(t.descriptor.source_name);
    if (session.ok()) {
      t.session = std::move(*session);
    } else {
      failure = session.status();
    }
  }
  t.failure = failure;
  if (!t.session) {
    if (out && !failure.message().empty()) out(failure.message());
    t.help_text = std::string(kTargetConnectionHelp);
    if (t.message_box) t.message_box(std::string(kTargetConnectionMessage));
    return false;
  }
  if (out) out(std::string(kConnectTargetLine));
  t.connected = true;
  t.current_path = t.descriptor.catalog;
  std::string name = *t.session->DbmsName();
  if (!name.empty()) name += "[" + *t.session->DbmsVersion() + "]";
  t.descriptor.dbms_name = name;
  if (out) out(std::string(kResultSuccess));
  return true;
}

bool CreateAccessDatabase(TargetContext& t, std::string_view text, bool by_name,
                          const LineSink& out) {
  std::string path;
  if (by_name) {
    const bool source = t.active_side.starts_with("Source");
    path = FolderOf(source ? t.source_current_path : t.current_path) + std::string(text);
  } else {
    if (!t.save_dialog) return false;
    std::optional<std::string> chosen = t.save_dialog(std::string(text));
    if (!chosen) return false;
    path = *chosen;
  }
  // The test is case-sensitive: "X.MDB" becomes "X.MDB.mdb", as in Access.
  if (path.find(".mdb") == std::string::npos) path += ".mdb";
  if (out) out(Format("Create Access MDB File [%s]", path));
  auto db = jet::Database::Create(path);
  if (!db.ok()) {
    if (out) out(FormatProviderError("Create DB", kEFail, db.status().message()));
    return false;
  }
  db->reset();
  CreateJetSystemDatabase(out);
  return true;
}

bool DropAccessDatabase(TargetContext& t, std::string_view path, const LineSink& out) {
  if (t.run_state && t.run_state->load() == 2) {
    t.run_state->store(99);
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  const bool connected_one = EqualsIgnoreCase(path, t.current_path);
  if (connected_one) {
    if (t.message_box) t.message_box(std::string(kConnectedDatabaseDropped));
    DisconnectTarget(t);
    t.current_path.clear();
  }
  const std::string file = std::string(path) + ".mdb";
  if (std::remove(file.c_str()) != 0) {
    if (out) out(SystemErrorText("Drop Database", errno));
    return false;
  }
  if (out) out(std::string(kDropDatabaseSuccess));
  if (connected_one && t.open_configuration) t.open_configuration();
  return true;
}

bool SwitchTargetDatabase(TargetContext& t, std::string_view name_in, const LineSink& out) {
  std::string name(name_in);
  if (name.find_first_of("\\/") == std::string::npos) name = FolderOf(t.current_path) + name;
  DisconnectTarget(t);
  t.descriptor.catalog.clear();
  if (IsJetProvider(t.descriptor.provider_prog_id)) {
    if (name.find(".mdb") == std::string::npos) name += ".mdb";
    t.descriptor.source_name = name;
  } else {
    t.descriptor.catalog = name;
  }
  t.current_path = name;
  ConnectTarget(t, out);
  return true;
}

bool RenameAccessTable(Session* session, std::string_view old_name, std::string_view new_name,
                       const LineSink& out) {
  if (!session) {
    if (out) out(SystemErrorText(kNoConnection));
    return false;
  }
  // The engine renames the table in place: its keys, indexes and
  // relationships stay (a copy under the new name left the old table behind
  // whenever a relationship refused its drop).
  if (JetSession* jet = session->AsJetSession()) {
    Status renamed = jet->database().RenameTable(old_name, new_name);
    if (!renamed.ok()) {
      if (out) out(Format("Rename [%s] ERROR!", old_name));
      return false;
    }
    return true;
  }
  // Names are quoted, so that a name with a blank or a quote keeps its meaning.
  const std::string copy =
      "select * into " + QuoteIdentifier(new_name) + " from " + QuoteIdentifier(old_name);
  if (!ExecuteStatement(session, copy, false, out)) {
    if (out) out(Format("Rename [%s] ERROR!", old_name));
    return false;
  }
  return ExecuteStatement(session, "drop table " + QuoteIdentifier(old_name), false, out);
}

bool DropAccessTable(Session* session, std::string_view table, const LineSink& out) {
  if (out) out(Format("drop table %s", table));
  return ExecuteStatement(session, "drop table " + QuoteIdentifier(table), true, out);
}

bool DropAccessView(Session* session, std::string_view view, const LineSink& out) {
  if (out) out(Format("drop view %s", view));
  return ExecuteStatement(session, "drop view " + QuoteIdentifier(view), true, out);
}

std::string AccessDbmsName(Session* session, const LineSink& out) {
  if (session) return "";
  if (out) out(SystemErrorText(kNoConnection));
  return std::string(kNoConnection);
}

std::string AccessTypeName(std::uint32_t flags, int type, std::uint64_t max_length,
                           std::string_view provider) {
  char buf[64];
  if (IsJetProvider(provider)) {
    // Each row falls through to the next one listed, as the provider's
    // flag combinations nest.
    switch (flags) {
      case 234:
        if (type == 128) return "LONGBINARY";
        if (type == 130) return "LONGTEXT";
        [[fallthrough]];
      case 90:
      case 122:
        switch (type) {
          case 2:
            return "SHORT";
          case 3:
            return "LONG";
          case 4:
            return "SINGLE";
          case 5:
            return "NUMERIC";
          case 6:
          case 131:
            return "CURRENCY";
          case 7:
            return "DATETIME";
          case 17:
            return "BYTE";
          case 72:
            return "GUID";
          default:
            break;
        }
        [[fallthrough]];
      case 24:
        if (type == 3) return "COUNTER";
        if (type == 11) return "BIT";
        [[fallthrough]];
      case 106:
        if (type == 128) return "BINARY";
        if (type == 130) return "TEXT";
        [[fallthrough]];
      case 202:
        if (type == 128) {
          std::snprintf(buf, sizeof buf, "VARBINARY(%llu) ",
                        static_cast<unsigned long long>(max_length ? max_length : 512));
          return buf;
        }
        [[fallthrough]];
      case 74:
        if (type == 128) {
          std::snprintf(buf, sizeof buf, "CHAR(%llu) ",
                        static_cast<unsigned long long>(max_length));
          return buf;
        }
        if (type == 130) {
          std::snprintf(buf, sizeof buf, "VARCHAR(%llu) ",
                        static_cast<unsigned long long>(max_length));
          return buf;
        }
        return "USERDEFINE";
      default:
        return "USERDEFINE";
    }
  }
  std::string suffix = " ";
  if (max_length > 0) {
    std::snprintf(buf, sizeof buf, "(%llu)", static_cast<unsigned long long>(max_length));
    suffix = buf;
  }
  switch (flags) {
    case 232:
      if (type == 128) return "LONGBINARY";
      if (type == 130) return "LONGTEXT";
      [[fallthrough]];
    case 120:
      switch (type) {
        case 2:
          return "SHORT";
        case 3:
          return "LONG";
        case 4:
          return "SINGLE";
        case 5:
          return "NUMERIC";
        case 16:
          return "BYTE";
        case 72:
          return "GUID";
        case 128:
          return "BINARY";
        case 131:
          return "CURRENCY";
        case 135:
          return "DATETIME";
        default:
          break;
      }
      [[fallthrough]];
    case 24:
      if (type == 3) return "COUNTER";
      if (type == 11) return "BIT";
      [[fallthrough]];
    case 104:
      if (type == 128) return "VARBINARY" + suffix;
      if (type == 130) return "CHAR" + suffix;
      return "USERDEFINE";
    default:
      return "USERDEFINE";
  }
}

}  // namespace velquin
