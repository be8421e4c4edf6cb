// The four system tables of a Jet 4 database and the fixed rows of a new one.
// Rules [CAT-1]..[CAT-8] in docs/jet4-format.md.
//
// MSysObjects (TDEF page 2): one row per object.
//   0 Id LONG  1 ParentId LONG  2 Name TEXT(255)  3 Type SHORT
//   4 DateCreate DATETIME  5 DateUpdate DATETIME  6 Owner BINARY(255)
//   7 Flags LONG  8 Database MEMO  9 Connect MEMO  10 ForeignName TEXT(255)
//   11 RmtInfoShort BINARY(255)  12 RmtInfoLong OLE  13 Lv OLE  14 LvProp OLE
//   15 LvModule OLE  16 LvExtra OLE
//   indexes: ParentIdName (ParentId, Name) unique; Id (Id) primary key
// MSysACEs: ObjectId LONG, SID BINARY(255), ACM LONG, FInheritable BOOL;
//   index ObjectId (required, not unique)
// MSysQueries: ObjectId LONG, Attribute BYTE, Order BINARY(255), Name1 TEXT,
//   Name2 TEXT, Expression MEMO, Flag SHORT, LvExtra LONG;
//   index ObjectIdAttribute (ObjectId, Attribute, Order) primary key
// MSysRelationships: szRelationship TEXT, grbit LONG, ccolumn LONG,
//   icolumn LONG, szObject TEXT, szColumn TEXT, szReferencedObject TEXT,
//   szReferencedColumn TEXT; indexes szRelationship, szObject,
//   szReferencedObject (ignore nulls)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/table/table_spec.h"

namespace velquin::jet {

inline constexpr PageNumber kMSysObjectsPage = 2;

inline constexpr std::int32_t kRootContainerId = 0x0F000000;
inline constexpr std::int32_t kTablesContainerId = 0x0F000001;
inline constexpr std::int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr std::int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr std::int32_t kMSysDbId = 0x10000000;

inline constexpr std::int16_t kObjectTypeTable = 1;
inline constexpr std::int16_t kObjectTypeDatabase = 2;
inline constexpr std::int16_t kObjectTypeContainer = 3;
inline constexpr std::int16_t kObjectTypeLinkedOdbc = 4;
inline constexpr std::int16_t kObjectTypeQuery = 5;
inline constexpr std::int16_t kObjectTypeLinkedTable = 6;
inline constexpr std::int16_t kObjectTypeRelationship = 8;

inline constexpr std::uint32_t kSystemObjectFlags = 0x80000000u;

// MSysObjects column numbers.
enum ObjectsColumn : std::size_t {
  kObjId = 0,
  kObjParentId,
  kObjName,
  kObjType,
  kObjDateCreate,
  kObjDateUpdate,
  kObjOwner,
  kObjFlags,
  kObjDatabase,
  kObjConnect,
  kObjForeignName,
  kObjRmtInfoShort,
  kObjRmtInfoLong,
  kObjLv,
  kObjLvProp,
  kObjLvModule,
  kObjLvExtra,
  kObjColumnCount
};

// Specifications of the four system tables, in page order (2, 3, 4, 5), with
// their indexes as Jet creates them.
std::vector<TableSpec> SystemTableSpecs();

// Owner SIDs Jet writes (meaning: built-in engine / admin accounts).
inline const std::vector<std::uint8_t> kEngineOwner = {0x65, 0x89};
inline const std::vector<std::uint8_t> kAdminOwner = {0x64, 0x8B};

struct AceRow {
  std::int32_t object_id;
  std::vector<std::uint8_t> sid;
  std::int32_t acm;
  bool inheritable;
};

// The MSysACEs rows of a new database, in Jet's order.
std::vector<AceRow> InitialAces();

}  // namespace velquin::jet
