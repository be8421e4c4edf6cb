// The Database API over the page file, tables and catalogue: creating and
// opening a file, reading the catalogue, creating tables. Catalogue rules
// [CAT-*] and crash-safe write order [SAFE-1]..[SAFE-3] in docs/jet4-format.md.
// Dropping and renaming tables: database_tables.cc; inserting, appending and
// scanning rows: database_insert.cc; deleting rows: database_rows.cc; indexes
// and saved queries: database_objects.cc.
#include "jet/database.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <set>

#include "jet/catalog/properties.h"
#include "jet/catalog/system_tables.h"
#include "jet/database_internal.h"
#include "jet/format/data_page.h"
#include "jet/table/long_value.h"
#include "jet/table/table_indexes.h"

namespace velquin::jet {
bool IsSystemName(std::string_view name) {
  return name.size() >= 4 && CompareNames(name.substr(0, 4), "MSys") == 0;
}

namespace {

// Lays out a new table: TDEF fields, its usage maps (appended to `maps` in
// the order of MapRowFields; their rows are placed by WriteMapPages) and its
// index definitions with the given root pages [TDEF-5], [UMAP-3].
void BuildTableDef(const TableSpec& spec, PageNumber tdef_page, std::vector<UsageMap>* maps,
                   const std::vector<PageNumber>& roots, TableDef* def) {
  LayoutColumns(spec, def);
  def->tdef_page = tdef_page;
  auto next_row = [&]() {
    maps->push_back(UsageMap::NewInline(0));
    return RowPointer{};
  };
  def->owned_map = next_row();
  def->free_map = next_row();
  for (auto& c : def->columns) {
    if (!c.is_long_value()) continue;
    c.lv_owned = next_row();
    c.lv_free = next_row();
  }
  for (std::size_t k = 0; k < spec.indexes.size(); ++k) {
    const IndexSpec& is = spec.indexes[k];
    RealIndex ri;
    ri.columns = is.columns;
    ri.usage_map = next_row();
    ri.root = k < roots.size() ? roots[k] : 0;
    if (ri.root != 0) maps->back() = NewIndexUsageMap(ri.root);
    // 0x80 is set on every index Jet 4 writes; Access makes primary keys
    // of user tables required as well.
    ri.flags = static_cast<std::uint8_t>(
        (is.unique || is.primary_key ? 0x01 : 0) | (is.ignore_nulls ? 0x02 : 0) |
        (is.required || (is.primary_key && !spec.system) ? 0x08 : 0) | 0x80);
    def->real_indexes.push_back(ri);
    LogicalIndex li;
    li.name = is.name;
    li.number = static_cast<std::uint32_t>(k);
    li.real_index = static_cast<std::uint32_t>(k);
    li.index_type = is.primary_key ? 1 : 0;
    def->logical_indexes.push_back(li);
  }
}

// The fields of `def` that name its usage-map rows, in the order
// BuildTableDef makes the maps: rows, free space, each long-value column's
// two, each index's.
std::vector<RowPointer*> MapRowFields(TableDef* def) {
  std::vector<RowPointer*> out = {&def->owned_map, &def->free_map};
  for (auto& c : def->columns) {
    if (!c.is_long_value()) continue;
    out.push_back(&c.lv_owned);
    out.push_back(&c.lv_free);
  }
  for (auto& ri : def->real_indexes) out.push_back(&ri.usage_map);
  return out;
}

// Writes `maps` as rows of `first_page` and, when they do not all fit (a
// table with many long-value columns), of further pages [UMAP-3]; names each
// map's row in `fields`.
Status WriteMapPages(PageStore& store, PageNumber first_page, std::vector<UsageMap>& maps,
                     const std::vector<RowPointer*>& fields) {
  if (fields.size() != maps.size())
    return Status::NotSupported("usage maps and their fields differ");
  Page p;
  PageNumber page = first_page;
  DataPage(p, page).Init(0);
  for (std::size_t k = 0; k < maps.size(); ++k) {
    VELQUIN_ASSIGN_OR_RETURN(auto row, maps[k].Save(store));
    if (!DataPage(p, page).CanAdd(row.size())) {
      if (DataPage(p, page).row_count() == 0) {
        return Status::NotSupported("a usage map does not fit an empty page");
      }
      VELQUIN_RETURN_IF_ERROR(store.WritePage(page, p));
      VELQUIN_ASSIGN_OR_RETURN(page, store.AllocatePage());
      p = Page{};
      DataPage(p, page).Init(0);
    }
    DataPage dp(p, page);
    *fields[k] = RowPointer{page, dp.Add(Bytes(row))};
  }
  return store.WritePage(page, p);
}

}  // namespace

Database::~Database() {
  EndInsertWriter();
  if (!pages_ || !pages_->writable()) return;
  // A statement still open failed; otherwise only the global map may wait.
  // Errors cannot be reported from here: a failed commit leaves the journal
  // valid and the next opener restores the last committed state.
  if (pages_->InStatement()) {
    (void)pages_->Rollback();
  } else {
    (void)pages_->Commit(false);
  }
}

Database::Statement::~Statement() {
  if (--db_->statement_depth_ == 0 && db_->pages_->InStatement()) {
    // The call failed before its commit. A rollback that fails refuses
    // every later write (the page file keeps the error) and the journal
    // stays for the next opener, so nothing more can be done here.
    (void)db_->RollbackStatement();
  }
}

Status Database::CommitStatement(bool durable) {
  if (statement_depth_ > 1) return pages_->Flush();
  return pages_->Commit(durable);
}

Status Database::RollbackStatement() {
  EndInsertWriter();
  VELQUIN_RETURN_IF_ERROR(pages_->Rollback());
  return LoadCatalog();
}

double Database::Now() const {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return DateTime::FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                             tm.tm_sec, static_cast<int>(ms))
      .days;
}

Result<std::unique_ptr<Database>> Database::Create(const std::string& path,
                                                   const CreateOptions& options) {
  VELQUIN_ASSIGN_OR_RETURN(auto file, OpenPosixFile(path, OpenMode::kCreate));
  auto journal = OpenPosixFile(JournalPath(path), OpenMode::kOpenOrCreate);
  if (!journal.ok()) {
    (void)RemoveFile(path);  // the empty file just made; the journal error is the one to report
    return journal.status();
  }
  auto db = CreateOn(std::move(file), options, std::move(*journal));
  if (!db.ok()) {
    // A database that could not be made leaves nothing behind.
    (void)RemoveFile(path);  // reported: the creation error below
    (void)RemoveFile(JournalPath(path));
    return db.status();
  }
  (*db)->pages_->SetJournalPath(JournalPath(path));
  return db;
}

Result<std::unique_ptr<Database>> Database::Open(const std::string& path,
                                                 const OpenOptions& options) {
  VELQUIN_ASSIGN_OR_RETURN(
      auto file,
      OpenPosixFile(path, options.read_only ? OpenMode::kReadOnly : OpenMode::kReadWrite));
  std::unique_ptr<File> journal;
  auto j = OpenPosixFile(JournalPath(path),
                         options.read_only ? OpenMode::kReadOnly : OpenMode::kOpenOrCreate);
  if (j.ok()) {
    journal = std::move(*j);
  } else if (j.status().code() != StatusCode::kNotFound) {
    return j.status();
  }
  VELQUIN_ASSIGN_OR_RETURN(auto db, OpenOn(std::move(file), options, std::move(journal)));
  db->pages_->SetJournalPath(JournalPath(path));
  return db;
}

Result<std::unique_ptr<Database>> Database::CreateOn(std::unique_ptr<File> file,
                                                     const CreateOptions& options,
                                                     std::unique_ptr<File> journal) {
  HeaderInfo h;
  std::unique_ptr<Database> probe(new Database(nullptr));
  h.creation_date = options.creation_date != 0 ? options.creation_date : probe->Now();
  VELQUIN_ASSIGN_OR_RETURN(auto pf, PageFile::Create(std::move(file), h, std::move(journal)));
  std::unique_ptr<Database> db(new Database(std::move(pf)));
  db->creation_date_ = h.creation_date;
  {
    Statement statement(db.get());
    VELQUIN_RETURN_IF_ERROR(db->Bootstrap(h.creation_date));
  }
  VELQUIN_RETURN_IF_ERROR(db->LoadCatalog());
  return db;
}

Result<std::unique_ptr<Database>> Database::OpenOn(std::unique_ptr<File> file,
                                                   const OpenOptions& options,
                                                   std::unique_ptr<File> journal) {
  VELQUIN_ASSIGN_OR_RETURN(auto pf,
                           PageFile::Open(std::move(file), !options.read_only, std::move(journal)));
  std::unique_ptr<Database> db(new Database(std::move(pf)));
  db->creation_date_ = db->pages_->header().creation_date;
  VELQUIN_RETURN_IF_ERROR(db->LoadCatalog());
  return db;
}

Status Database::Bootstrap(double now) {
  PageStore& store = *pages_;
  std::vector<TableSpec> specs = SystemTableSpecs();
  std::vector<PageNumber> tdefs;
  for (std::size_t k = 0; k < specs.size(); ++k) {
    VELQUIN_ASSIGN_OR_RETURN(PageNumber p, store.AllocatePage());
    tdefs.push_back(p);
  }
  if (tdefs[0] != kMSysObjectsPage) return Status::Corruption("MSysObjects must be on page 2");
  VELQUIN_ASSIGN_OR_RETURN(PageNumber map_page, store.AllocatePage());
  std::vector<std::vector<PageNumber>> roots(specs.size());
  for (std::size_t k = 0; k < specs.size(); ++k) {
    for (std::size_t i = 0; i < specs[k].indexes.size(); ++i) {
      const IndexSpec& is = specs[k].indexes[i];
      VELQUIN_ASSIGN_OR_RETURN(
          PageNumber p,
          CreateIndexRoot(store, tdefs[k], is.unique || is.primary_key, is.columns.size()));
      roots[k].push_back(p);
    }
  }
  std::vector<UsageMap> maps;
  std::vector<TableDef> defs(specs.size());
  std::vector<RowPointer*> fields;
  for (std::size_t k = 0; k < specs.size(); ++k) {
    BuildTableDef(specs[k], tdefs[k], &maps, roots[k], &defs[k]);
  }
  for (auto& d : defs) {
    for (RowPointer* f : MapRowFields(&d)) fields.push_back(f);
  }
  VELQUIN_RETURN_IF_ERROR(WriteMapPages(store, map_page, maps, fields));
  for (const auto& d : defs) VELQUIN_RETURN_IF_ERROR(WriteTableDef(store, d));

  // MSysObjects rows of a new database.
  struct Row {
    std::int32_t id, parent;
    const char* name;
    std::int16_t type;
    const std::vector<std::uint8_t>* owner;
  };
  const Row rows[] = {
      {kTablesContainerId, kRootContainerId, "Tables", kObjectTypeContainer, &kEngineOwner},
      {kDatabasesContainerId, kRootContainerId, "Databases", kObjectTypeContainer, &kEngineOwner},
      {kRelationshipsContainerId, kRootContainerId, "Relationships", kObjectTypeContainer,
       &kEngineOwner},
      {kMSysDbId, kDatabasesContainerId, "MSysDb", kObjectTypeDatabase, &kAdminOwner},
      {static_cast<std::int32_t>(tdefs[0]), kTablesContainerId, "MSysObjects", kObjectTypeTable,
       &kEngineOwner},
      {static_cast<std::int32_t>(tdefs[1]), kTablesContainerId, "MSysACEs", kObjectTypeTable,
       &kEngineOwner},
      {static_cast<std::int32_t>(tdefs[2]), kTablesContainerId, "MSysQueries", kObjectTypeTable,
       &kEngineOwner},
      {static_cast<std::int32_t>(tdefs[3]), kTablesContainerId, "MSysRelationships",
       kObjectTypeTable, &kEngineOwner},
  };
  // Bulk writers: each index is built in one pass at Commit.
  {
    VELQUIN_ASSIGN_OR_RETURN(auto w, TableWriter::Open(store, tdefs[0], /*bulk=*/true));
    for (const Row& r : rows) {
      std::vector<Value> v(kObjColumnCount);
      v[kObjId] = Value::Long(r.id);
      v[kObjParentId] = Value::Long(r.parent);
      v[kObjName] = Value::Text(r.name);
      v[kObjType] = Value::Short(r.type);
      v[kObjDateCreate] = Value::Date(DateTime{now});
      v[kObjDateUpdate] = Value::Date(DateTime{now});
      v[kObjOwner] = Value::Binary(*r.owner);
      v[kObjFlags] = Value::Long(static_cast<std::int32_t>(kSystemObjectFlags));
      VELQUIN_RETURN_IF_ERROR(w->Append(v));
    }
    VELQUIN_RETURN_IF_ERROR(w->Commit());
  }
  {
    VELQUIN_ASSIGN_OR_RETURN(auto w, TableWriter::Open(store, tdefs[1], /*bulk=*/true));
    for (const AceRow& a : InitialAces()) {
      VELQUIN_RETURN_IF_ERROR(w->Append({Value::Long(a.object_id), Value::Binary(a.sid),
                                         Value::Long(a.acm), Value::Bool(a.inheritable)}));
    }
    VELQUIN_RETURN_IF_ERROR(w->Commit());
  }
  return Flush();
}

Status Database::LoadCatalog() {
  objects_.clear();
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, kMSysObjectsPage));
  auto col = [&](const char* name) -> Result<std::size_t> {
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
      if (CompareNames(def.columns[i].name, name) == 0) return i;
    }
    return PageCorruption(kMSysObjectsPage, "MSysObjects",
                          std::string("catalogue has no column ") + name);
  };
  VELQUIN_ASSIGN_OR_RETURN(std::size_t c_id, col("Id"));
  VELQUIN_ASSIGN_OR_RETURN(std::size_t c_parent, col("ParentId"));
  VELQUIN_ASSIGN_OR_RETURN(std::size_t c_name, col("Name"));
  VELQUIN_ASSIGN_OR_RETURN(std::size_t c_type, col("Type"));
  VELQUIN_ASSIGN_OR_RETURN(std::size_t c_flags, col("Flags"));
  TableCursor cur(*pages_, def);
  VELQUIN_RETURN_IF_ERROR(cur.Open());
  std::vector<Cell> cells;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cur.NextCells(&cells));
    if (!more) break;
    RowPointer where = cur.position();
    Object o;
    auto get = [&](std::size_t i) {
      return DecodeCellValue(*pages_, def.columns[i], cells[i], where.page);
    };
    VELQUIN_ASSIGN_OR_RETURN(Value id, get(c_id));
    VELQUIN_ASSIGN_OR_RETURN(Value parent, get(c_parent));
    VELQUIN_ASSIGN_OR_RETURN(Value name, get(c_name));
    VELQUIN_ASSIGN_OR_RETURN(Value type, get(c_type));
    VELQUIN_ASSIGN_OR_RETURN(Value flags, get(c_flags));
    std::int64_t i64;
    o.id = id.AsInt64(&i64) ? static_cast<std::int32_t>(i64) : 0;
    o.parent_id = parent.AsInt64(&i64) ? static_cast<std::int32_t>(i64) : 0;
    o.name = name.kind() == ValueKind::kText ? name.text_value() : "";
    o.type = type.AsInt64(&i64) ? static_cast<std::int16_t>(i64) : 0;
    o.flags = flags.AsInt64(&i64) ? static_cast<std::uint32_t>(i64) : 0;
    o.where = where;
    objects_.push_back(std::move(o));
  }
  return Status::Ok();
}

const Database::Object* Database::FindInTables(std::string_view name) const {
  for (const auto& o : objects_) {
    if (o.parent_id == kTablesContainerId && CompareNames(o.name, name) == 0) return &o;
  }
  return nullptr;
}

const Database::Object* Database::FindTable(std::string_view name) const {
  const Object* o = FindInTables(name);
  return o && o->type == kObjectTypeTable ? o : nullptr;
}

Result<std::vector<std::string>> Database::ListTables(bool include_system) {
  std::vector<std::string> out;
  for (const auto& o : objects_) {
    if (o.parent_id != kTablesContainerId || o.type != kObjectTypeTable) continue;
    bool system = (o.flags & 0x80000002u) != 0 || IsSystemName(o.name);
    if (system && !include_system) continue;
    out.push_back(o.name);
  }
  return out;
}

Status Database::ReadColumnProperties(const Object& obj, std::vector<ColumnProperties>* out) {
  out->clear();
  VELQUIN_ASSIGN_OR_RETURN(TableDef odef, ReadTableDef(*pages_, kMSysObjectsPage));
  if (odef.columns.size() <= kObjLvProp ||
      CompareNames(odef.columns[kObjLvProp].name, "LvProp") != 0) {
    return Status::Ok();
  }
  Page p;
  VELQUIN_RETURN_IF_ERROR(pages_->ReadPage(obj.where.page, p));
  DataPage dp(p, obj.where.page);
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(obj.where.row));
  Bytes row = dp.RowBytes(s);
  Page other;
  RowPointer at = obj.where;
  if (s.overflow) VELQUIN_RETURN_IF_ERROR(FollowOverflow(*pages_, other, &row, &at));
  std::vector<Cell> cells;
  VELQUIN_RETURN_IF_ERROR(DecodeRow(odef, row, at.page, at.row, &cells));
  VELQUIN_ASSIGN_OR_RETURN(
      Value v, DecodeCellValue(*pages_, odef.columns[kObjLvProp], cells[kObjLvProp], at.page));
  if (v.kind() != ValueKind::kBinary || v.binary_value().empty()) return Status::Ok();
  auto props = jet::ReadColumnProperties(Bytes(v.binary_value()));
  if (!props.ok()) {
    return props.status().WithContext("table \"" + obj.name + "\" (page " +
                                      std::to_string(obj.where.page) + ")");
  }
  *out = std::move(*props);
  return Status::Ok();
}

Result<TableInfo> Database::Describe(const Object& obj) {
  if (obj.id <= 0 || static_cast<PageNumber>(obj.id) >= pages_->PageCount()) {
    return PageCorruption(obj.where.page, "MSysObjects Id",
                          "table \"" + obj.name + "\" names TDEF page " + std::to_string(obj.id) +
                              " outside the file");
  }
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, static_cast<PageNumber>(obj.id)));
  TableInfo t;
  t.name = obj.name;
  t.tdef_page = def.tdef_page;
  t.system = (obj.flags & 0x80000002u) != 0 || IsSystemName(obj.name);
  t.row_count = def.row_count;
  t.last_autonumber = def.last_autonumber;
  std::vector<ColumnProperties> props;
  VELQUIN_RETURN_IF_ERROR(ReadColumnProperties(obj, &props));
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    ColumnInfo ci;
    ci.name = c.name;
    ci.type = c.type;
    ci.number = c.number;
    ci.size = c.type == ColumnType::kText ? c.length / 2 : c.length;
    if (c.type == ColumnType::kNumeric) {
      ci.precision = c.precision();
      ci.scale = c.scale();
    }
    ci.auto_increment = (c.flags & kColumnAutoNumber) != 0;
    ci.compressed_unicode = c.compressed();
    for (const auto& p : props) {
      if (CompareNames(p.column, c.name) != 0) continue;
      ci.not_null = ci.not_null || p.required;
      if (!p.default_value.empty()) ci.default_value = p.default_value;
    }
    t.columns.push_back(ci);
  }
  for (const auto& li : def.logical_indexes) {
    IndexInfo ii;
    ii.name = li.name;
    const RealIndex& ri = def.real_indexes[li.real_index];
    for (const auto& ic : ri.columns) {
      for (const auto& c : def.columns) {
        if (c.number == ic.column_number) ii.columns.push_back({c.name, ic.ascending});
      }
    }
    ii.primary_key = li.index_type == 1;
    ii.foreign_key = li.index_type == 2;
    ii.unique = (ri.flags & 0x01) != 0;
    ii.ignore_nulls = (ri.flags & 0x02) != 0;
    ii.required = (ri.flags & 0x08) != 0;
    t.indexes.push_back(ii);
  }
  return t;
}

Result<TableInfo> Database::GetTable(std::string_view name) {
  const Object* o = FindTable(name);
  if (!o) return Status::NotFound("no table \"" + std::string(name) + "\"");
  return Describe(*o);
}

Status Database::AddObjectRow(std::int32_t id, std::int32_t parent, const std::string& name,
                              std::int16_t type, std::uint32_t flags,
                              const std::vector<std::uint8_t>& owner,
                              const std::vector<std::uint8_t>& properties) {
  VELQUIN_ASSIGN_OR_RETURN(auto w, TableWriter::Open(*pages_, kMSysObjectsPage));
  std::vector<Value> v(w->def().columns.size());
  double now = Now();
  v[kObjId] = Value::Long(id);
  v[kObjParentId] = Value::Long(parent);
  v[kObjName] = Value::Text(name);
  v[kObjType] = Value::Short(type);
  v[kObjDateCreate] = Value::Date(DateTime{now});
  v[kObjDateUpdate] = Value::Date(DateTime{now});
  v[kObjOwner] = Value::Binary(owner);
  v[kObjFlags] = Value::Long(static_cast<std::int32_t>(flags));
  if (!properties.empty()) v[kObjLvProp] = Value::Binary(properties);
  VELQUIN_RETURN_IF_ERROR(w->Append(v));
  // The writer keeps the catalogue's indexes as it goes.
  return w->Commit();
}

Status Database::AddAceRows(std::int32_t object_id) {
  const Object* aces = FindTable("MSysACEs");
  if (!aces) return Status::Ok();  // a database without permissions table
  PageNumber page = static_cast<PageNumber>(aces->id);
  // One row per SID that has an ACE on the Tables container.
  std::vector<std::vector<std::uint8_t>> sids;
  {
    VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, page));
    TableCursor cur(*pages_, def);
    VELQUIN_RETURN_IF_ERROR(cur.Open());
    std::vector<Value> row;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur.Next(&row));
      if (!more) break;
      if (row.size() < 2) continue;
      std::int64_t oid;
      if (!row[0].AsInt64(&oid) || oid != kTablesContainerId) continue;
      if (row[1].kind() != ValueKind::kBinary) continue;
      if (std::find(sids.begin(), sids.end(), row[1].binary_value()) == sids.end()) {
        sids.push_back(row[1].binary_value());
      }
    }
  }
  VELQUIN_ASSIGN_OR_RETURN(auto w, TableWriter::Open(*pages_, page));
  if (w->def().columns.size() != 4) return Status::Ok();
  for (const auto& sid : sids) {
    VELQUIN_RETURN_IF_ERROR(w->Append(
        {Value::Long(object_id), Value::Binary(sid), Value::Long(1048575), Value::Bool(false)}));
  }
  return w->Commit();
}

Status Database::CreateTable(const TableSpec& spec_in) {
  Statement statement(this);
  EndInsertWriter();
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  VELQUIN_RETURN_IF_ERROR(ValidateTableSpec(spec_in));
  if (FindInTables(spec_in.name)) {
    return Status::InvalidArgument("table \"" + spec_in.name + "\" already exists");
  }
  TableSpec spec = spec_in;
  spec.system = false;
  VELQUIN_RETURN_IF_ERROR(ValidateIndexes(spec));
  PageStore& store = *pages_;
  // [SAFE-1] Definition, map and index pages first, the catalogue rows last.
  VELQUIN_ASSIGN_OR_RETURN(PageNumber tdef, store.AllocatePage());
  VELQUIN_ASSIGN_OR_RETURN(PageNumber map_page, store.AllocatePage());
  std::vector<PageNumber> roots;
  for (const IndexSpec& is : spec.indexes) {
    VELQUIN_ASSIGN_OR_RETURN(
        PageNumber root,
        CreateIndexRoot(store, tdef, is.unique || is.primary_key, is.columns.size()));
    roots.push_back(root);
  }
  std::vector<UsageMap> maps;
  TableDef def;
  BuildTableDef(spec, tdef, &maps, roots, &def);
  VELQUIN_RETURN_IF_ERROR(WriteMapPages(store, map_page, maps, MapRowFields(&def)));
  VELQUIN_RETURN_IF_ERROR(WriteTableDef(store, def));
  VELQUIN_RETURN_IF_ERROR(pages_->Flush());
  // NOT NULL is the column property "Required" and a default the property
  // "DefaultValue", both kept in the LvProp blob.
  std::vector<ColumnProperties> column_props;
  for (const auto& c : spec.columns) {
    column_props.push_back(
        {.column = c.name,
         .required = c.not_null && c.type != ColumnType::kBool && !c.auto_increment,
         .default_value = c.default_value});
  }
  std::vector<std::uint8_t> props = EncodeColumnProperties(column_props);
  VELQUIN_RETURN_IF_ERROR(AddObjectRow(static_cast<std::int32_t>(tdef), kTablesContainerId,
                                       spec.name, kObjectTypeTable, 0, kAdminOwner, props));
  VELQUIN_RETURN_IF_ERROR(AddAceRows(static_cast<std::int32_t>(tdef)));
  VELQUIN_RETURN_IF_ERROR(LoadCatalog());
  return Flush();
}

Status Database::Flush() {
  if (read_only()) return Status::Ok();
  return CommitStatement(true);
}

}  // namespace velquin::jet
