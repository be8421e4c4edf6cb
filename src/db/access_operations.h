// The Access target side: connecting the target, creating, dropping and
// switching database files, renaming and dropping tables and views, the DBMS
// name fallback and Access type names from catalogue metadata.
//
// On this platform the target "provider" is our own Jet engine (JetSession).
// The configuration keeps naming it "Microsoft.Jet.OLEDB.4.0", so stored
// settings keep working. Our engine needs no Jet workgroup (system) database:
// CreateJetSystemDatabase creates nothing and reports success, and connecting
// never depends on such a file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/connection_descriptor.h"
#include "db/jet_session.h"
#include "db/session.h"

namespace velquin {

inline constexpr std::string_view kJetProgId = "Microsoft.Jet.OLEDB.4.0";
inline constexpr std::string_view kJetProviderClassId = "{DEE35070-506B-11CF-B1AA-00AA00B8DE95}";
// The workgroup file's path as the configuration names it (expanded with
// ExpandEnvironmentReferences); kept for the provider property list only.
inline constexpr std::string_view kJetSystemDatabasePath =
    "%USERPROFILE%\\Application Data\\Microsoft\\Access\\System.MDW";

inline constexpr std::string_view kConnectTargetLine = "Connect Target Database!";
inline constexpr std::string_view kTargetConnectionHelp =
    "Target Connection error! Please comfirm target database connection properties !";
inline constexpr std::string_view kTargetConnectionMessage = "Target Connection error!";
inline constexpr std::string_view kConnectedDatabaseDropped =
    "Connected Database Dropped, Please Connect Another!";
inline constexpr std::string_view kDropDatabaseSuccess = "Drop Database SUCCESSFULLY!!!";

// One initialisation property as the target's property list holds it.
struct DbProperty {
  std::uint32_t id = 0;
  std::variant<bool, std::int16_t, std::int32_t, std::string> value;
  bool jet_set = false;  // in the Jet initialisation set (250, 270)
  bool operator==(const DbProperty&) const = default;
};

// True when `prog_id` names the Jet provider (compared without regard to case).
bool IsJetProvider(std::string_view prog_id);

// The target's initialisation properties, in order: 5 = true, 6 = false,
// 8 = false, 9 = password, 12 = user ID, 59 = source name (when set),
// 233 = catalog (when set), 63 = 16, 64 = 4, 186 = 0x409, then 160: for Jet
// ";COUNTRY=0;CP=1252;LANGID=0x0409" (and the descriptor's catalog becomes
// the source name without a final ".mdb"), for other providers the Access
// ODBC driver string with the expanded system database path.
std::vector<DbProperty> BuildTargetProperties(ConnectionDescriptor& descriptor);

// Our engine needs no workgroup file: nothing is created; returns true.
bool CreateJetSystemDatabase(const LineSink& out);

// What the main window holds for the target side, and the user-interface
// hooks the operations call (each may be empty).
struct TargetContext {
  ConnectionDescriptor descriptor;
  std::unique_ptr<JetSession> session;  // null: not connected
  std::string current_path;             // target tree's current database path (no ".mdb")
  bool connected = false;
  std::string active_side;                // "Source..." selects the source tree
  std::string source_current_path;        // the source tree's current database path
  std::atomic<int>* run_state = nullptr;  // 2 = a worker runs, 99 = stop requested
  std::function<std::optional<std::string>(const std::string& folder)> save_dialog;
  std::function<void(const std::string& text)> message_box;
  std::function<void()> open_configuration;
  std::string help_text;  // set on a failed connect ("F1 to Help:" pane)
  Status failure;         // why the last connect failed (Busy: another program writes the file)
};

// Releases the session and marks the target not connected.
void DisconnectTarget(TargetContext& target);

// The database part of connecting the target: builds the properties, opens
// the file named by the descriptor's source name (the Jet provider only),
// writes "Connect Target Database!", reads the DBMS name and version
// ("MS Jet[04.00.0000]", stored in the descriptor) and writes the success
// line. On failure: the help text and the message box "Target Connection
// error!", and false.
bool ConnectTarget(TargetContext& target, const LineSink& out);

bool CreateAccessDatabase(TargetContext& target, std::string_view text, bool by_name,
                          const LineSink& out);
bool DropAccessDatabase(TargetContext& target, std::string_view path, const LineSink& out);
bool SwitchTargetDatabase(TargetContext& target, std::string_view name, const LineSink& out);
bool RenameAccessTable(Session* session, std::string_view old_name, std::string_view new_name,
                       const LineSink& out);
bool DropAccessTable(Session* session, std::string_view table, const LineSink& out);
bool DropAccessView(Session* session, std::string_view view, const LineSink& out);
std::string AccessDbmsName(Session* session, const LineSink& out);

// The Access SQL type name of a column from its catalogue metadata (column
// flags, OLE DB type code, character maximum length), in the Jet form when
// `provider` is the Jet provider, else in the general form.
std::string AccessTypeName(std::uint32_t flags, int type, std::uint64_t max_length,
                           std::string_view provider);

}  // namespace velquin
