// Dropping and renaming tables, with the catalogue rows and relationships
// that go with them. Catalogue rules [CAT-*] and crash-safe write order
// [SAFE-1]..[SAFE-3] in docs/jet4-format.md.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/catalog/properties.h"
#include "jet/catalog/system_tables.h"
#include "jet/database.h"
#include "jet/database_internal.h"
#include "jet/format/data_page.h"
#include "jet/table/long_value.h"
#include "jet/table/table_indexes.h"

namespace velquin::jet {

Status Database::DropTable(std::string_view name) { return DropTableAs(name, false); }

Status Database::DropTablesWithRelationships(const std::vector<std::string>& names) {
  Statement statement(this);
  EndInsertWriter();
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  std::map<PageNumber, std::string> dropped;  // tdef page -> name
  for (const std::string& name : names) {
    const Object* o = FindTable(name);
    if (!o) return Status::NotFound("no table \"" + name + "\"");
    dropped[static_cast<PageNumber>(o->id)] = o->name;
  }
  for (const auto& [page, name] : dropped) {
    VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, page));
    for (const LogicalIndex& li : def.logical_indexes) {
      if (li.index_type != 2 && li.related_type == 0) continue;
      if (!dropped.count(li.related_tdef)) {
        return Status::InvalidArgument("the table \"" + name + "\" is in a relationship with \"" +
                                       ObjectName(static_cast<std::int32_t>(li.related_tdef)) +
                                       "\", which stays");
      }
    }
  }
  // The relationships among them: their MSysRelationships rows, then their
  // MSysObjects rows.
  std::set<std::string> relationships;
  if (const Object* rels = FindTable("MSysRelationships")) {
    const PageNumber rp = static_cast<PageNumber>(rels->id);
    VELQUIN_ASSIGN_OR_RETURN(TableDef rdef, ReadTableDef(*pages_, rp));
    std::size_t rel_name = rdef.columns.size();
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < rdef.columns.size(); ++i) {
      if (CompareNames(rdef.columns[i].name, "szRelationship") == 0) rel_name = i;
      if (CompareNames(rdef.columns[i].name, "szObject") == 0 ||
          CompareNames(rdef.columns[i].name, "szReferencedObject") == 0) {
        named.push_back(i);
      }
    }
    TableCursor cur(*pages_, rdef);
    VELQUIN_RETURN_IF_ERROR(cur.Open());
    std::vector<Value> row;
    std::vector<RowPointer> rows;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur.Next(&row));
      if (!more) break;
      bool hit = false;
      for (std::size_t i : named) {
        if (i >= row.size() || row[i].kind() != ValueKind::kText) continue;
        for (const auto& [page, name] : dropped) {
          hit = hit || CompareNames(row[i].text_value(), name) == 0;
        }
      }
      if (!hit) continue;
      rows.push_back(cur.position());
      if (rel_name < row.size() && row[rel_name].kind() == ValueKind::kText) {
        relationships.insert(row[rel_name].text_value());
      }
    }
    VELQUIN_RETURN_IF_ERROR(DeleteRows(rp, rows));
  }
  std::vector<RowPointer> object_rows;
  for (const Object& o : objects_) {
    if (o.type == kObjectTypeRelationship && relationships.count(o.name)) {
      object_rows.push_back(o.where);
    }
  }
  VELQUIN_RETURN_IF_ERROR(DeleteRows(kMSysObjectsPage, object_rows));
  VELQUIN_RETURN_IF_ERROR(LoadCatalog());
  for (const auto& [page, name] : dropped) VELQUIN_RETURN_IF_ERROR(DropTableAs(name, true));
  return Flush();
}

Status Database::DropTableAs(std::string_view name, bool related_too) {
  Statement statement(this);
  EndInsertWriter();
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  const Object* o = FindTable(name);
  if (!o) return Status::NotFound("no table \"" + std::string(name) + "\"");
  if ((o->flags & 0x80000002u) != 0 || IsSystemName(o->name)) {
    return Status::InvalidArgument("system table \"" + o->name + "\" cannot be dropped");
  }
  Object obj = *o;
  PageNumber tdef = static_cast<PageNumber>(obj.id);
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, tdef));
  // A table in a relationship stays, as in Access: the other table's
  // definition names it.
  for (const LogicalIndex& li : def.logical_indexes) {
    if (li.index_type == 2 && !related_too) {
      return Status::InvalidArgument(
          "Cannot delete this index or table.  It is either the current index or it is used in "
          "a relationship.");
    }
  }
  // Collect every page the table owns before anything changes.
  std::vector<PageNumber> release;
  std::vector<RowPointer> map_rows = {def.owned_map, def.free_map};
  for (const auto& c : def.columns) {
    if (c.is_long_value()) {
      map_rows.push_back(c.lv_owned);
      map_rows.push_back(c.lv_free);
    }
  }
  for (const auto& ri : def.real_indexes) map_rows.push_back(ri.usage_map);
  for (std::size_t k = 0; k < map_rows.size(); ++k) {
    if (map_rows[k].page == 0) continue;
    VELQUIN_ASSIGN_OR_RETURN(UsageMap m, LoadUsageMap(*pages_, map_rows[k]));
    // Free-space maps list pages the owned maps already list.
    bool is_free_map = k == 1;
    for (std::size_t c = 0, lvk = 2; c < def.columns.size(); ++c) {
      if (def.columns[c].is_long_value()) {
        if (k == lvk + 1) is_free_map = true;
        lvk += 2;
      }
    }
    if (!is_free_map) {
      for (PageNumber p : m.Pages(pages_->PageCount())) release.push_back(p);
    }
    for (PageNumber p : m.BitmapPages()) release.push_back(p);
  }
  VELQUIN_ASSIGN_OR_RETURN(auto tdef_pages, TableDefPages(*pages_, tdef));
  // [SAFE-2] The catalogue rows go first: from then on the table is gone for
  // every reader, and its pages can be handed back.
  {
    std::vector<RowPointer> obj_rows = {obj.where};
    VELQUIN_RETURN_IF_ERROR(DeleteRows(kMSysObjectsPage, obj_rows));
  }
  if (const Object* aces = FindTable("MSysACEs")) {
    PageNumber ap = static_cast<PageNumber>(aces->id);
    VELQUIN_ASSIGN_OR_RETURN(TableDef adef, ReadTableDef(*pages_, ap));
    TableCursor cur(*pages_, adef);
    VELQUIN_RETURN_IF_ERROR(cur.Open());
    std::vector<Value> row;
    std::vector<RowPointer> ace_rows;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur.Next(&row));
      if (!more) break;
      std::int64_t oid;
      if (!row.empty() && row[0].AsInt64(&oid) && oid == obj.id) ace_rows.push_back(cur.position());
    }
    VELQUIN_RETURN_IF_ERROR(DeleteRows(ap, ace_rows));
  }
  // The table's usage-map rows: delete them; map pages left without live
  // rows are released.
  std::vector<PageNumber> map_pages;
  for (const RowPointer& rp : map_rows) {
    if (rp.page == 0) continue;
    Page p;
    VELQUIN_RETURN_IF_ERROR(pages_->ReadPage(rp.page, p));
    DataPage dp(p, rp.page);
    VELQUIN_RETURN_IF_ERROR(dp.Validate());
    if (rp.row < dp.row_count()) dp.MarkDeleted(rp.row);
    VELQUIN_RETURN_IF_ERROR(pages_->WritePage(rp.page, p));
    if (std::find(map_pages.begin(), map_pages.end(), rp.page) == map_pages.end()) {
      map_pages.push_back(rp.page);
    }
  }
  for (PageNumber mp : map_pages) {
    Page p;
    VELQUIN_RETURN_IF_ERROR(pages_->ReadPage(mp, p));
    DataPage dp(p, mp);
    bool live = false;
    for (std::size_t r = 0; r < dp.row_count(); ++r) {
      auto s = dp.Slot(r);
      if (s.ok() && !s->deleted) live = true;
    }
    if (!live && dp.owner() == 0) release.push_back(mp);
  }
  release.insert(release.end(), tdef_pages.begin(), tdef_pages.end());
  std::sort(release.begin(), release.end());
  release.erase(std::unique(release.begin(), release.end()), release.end());
  for (PageNumber p : release) {
    if (p < 2 || p >= pages_->PageCount()) continue;
    VELQUIN_RETURN_IF_ERROR(pages_->ReleasePage(p));
  }
  VELQUIN_RETURN_IF_ERROR(LoadCatalog());
  return Flush();
}

Status Database::RenameTable(std::string_view from, std::string_view to) {
  Statement statement(this);
  EndInsertWriter();
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  const Object* o = FindTable(from);
  if (!o) return Status::NotFound("no table \"" + std::string(from) + "\"");
  if ((o->flags & 0x80000002u) != 0 || IsSystemName(o->name)) {
    return Status::InvalidArgument("system table \"" + o->name + "\" cannot be renamed");
  }
  const Object* clash = FindInTables(to);
  if (clash && clash != o) {
    return Status::InvalidArgument("an object named \"" + std::string(to) + "\" already exists");
  }
  TableSpec check;
  check.name = std::string(to);
  check.columns.push_back(ColumnSpec{.name = "x"});
  VELQUIN_RETURN_IF_ERROR(ValidateTableSpec(check));
  // Read the whole old row, write it again under the new name, then delete
  // the old row: a crash in between leaves the table reachable.
  Object obj = *o;
  VELQUIN_ASSIGN_OR_RETURN(TableDef odef, ReadTableDef(*pages_, kMSysObjectsPage));
  Page p;
  VELQUIN_RETURN_IF_ERROR(pages_->ReadPage(obj.where.page, p));
  DataPage dp(p, obj.where.page);
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(obj.where.row));
  std::vector<Cell> cells;
  VELQUIN_RETURN_IF_ERROR(DecodeRow(odef, dp.RowBytes(s), obj.where.page, obj.where.row, &cells));
  std::vector<Value> row;
  for (std::size_t i = 0; i < odef.columns.size(); ++i) {
    VELQUIN_ASSIGN_OR_RETURN(Value v,
                             DecodeCellValue(*pages_, odef.columns[i], cells[i], obj.where.page));
    row.push_back(std::move(v));
  }
  row[kObjName] = Value::Text(std::string(to));
  row[kObjDateUpdate] = Value::Date(DateTime{Now()});
  // The row is rewritten in place: one page write renames the table [SAFE-3].
  std::vector<std::vector<std::uint8_t>> bufs(odef.columns.size());
  std::vector<Cell> new_cells(odef.columns.size());
  for (std::size_t i = 0; i < odef.columns.size(); ++i) {
    const Column& c = odef.columns[i];
    if (c.type == ColumnType::kBool) {
      new_cells[i].present = cells[i].present;
    } else if (c.is_long_value()) {
      new_cells[i] = cells[i];  // long values keep their pages
    } else if (!row[i].is_null()) {
      VELQUIN_RETURN_IF_ERROR(EncodeCellValue(c, row[i], &bufs[i]));
      new_cells[i].present = true;
      new_cells[i].data = Bytes(bufs[i]);
    }
  }
  // The index entries under the old name are computed before the page
  // changes under the cells.
  TableIndexWriter indexes(*pages_, &odef);
  VELQUIN_RETURN_IF_ERROR(indexes.Open());
  std::vector<std::vector<std::uint8_t>> old_keys;
  VELQUIN_RETURN_IF_ERROR(indexes.Keys(cells, obj.where.page, &old_keys));
  std::vector<std::uint8_t> encoded;
  EncodeRow(odef, new_cells, &encoded);
  if (!dp.Replace(obj.where.row, Bytes(encoded))) {
    return Status::NotSupported("the renamed catalogue row does not fit its page");
  }
  VELQUIN_RETURN_IF_ERROR(pages_->WritePage(obj.where.page, p));
  // Then the entry under the old name gives way to one under the new name.
  VELQUIN_RETURN_IF_ERROR(indexes.Remove(old_keys, obj.where));
  std::vector<Cell> stored;
  VELQUIN_RETURN_IF_ERROR(DecodeRow(odef, Bytes(encoded), obj.where.page, obj.where.row, &stored));
  VELQUIN_RETURN_IF_ERROR(indexes.Check(stored, obj.where.page));
  VELQUIN_RETURN_IF_ERROR(indexes.Insert(obj.where));
  VELQUIN_RETURN_IF_ERROR(indexes.StoreMaps());
  VELQUIN_RETURN_IF_ERROR(WriteTableDef(*pages_, odef));
  // The table's relationships name it in their MSysRelationships rows (the
  // index entries of both tables point at pages, not names): those rows are
  // written again under the new name, so every relationship stays.
  if (const Object* rels = FindTable("MSysRelationships")) {
    const PageNumber rp = static_cast<PageNumber>(rels->id);
    VELQUIN_ASSIGN_OR_RETURN(TableDef rdef, ReadTableDef(*pages_, rp));
    std::vector<std::size_t> named;  // szObject, szReferencedObject
    for (std::size_t i = 0; i < rdef.columns.size(); ++i) {
      if (CompareNames(rdef.columns[i].name, "szObject") == 0 ||
          CompareNames(rdef.columns[i].name, "szReferencedObject") == 0) {
        named.push_back(i);
      }
    }
    TableCursor cur(*pages_, rdef);
    VELQUIN_RETURN_IF_ERROR(cur.Open());
    std::vector<Value> rrow;
    std::vector<RowPointer> old_rows;
    std::vector<std::vector<Value>> new_rows;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur.Next(&rrow));
      if (!more) break;
      bool hit = false;
      for (std::size_t i : named) {
        if (i < rrow.size() && rrow[i].kind() == ValueKind::kText &&
            CompareNames(rrow[i].text_value(), obj.name) == 0) {
          rrow[i] = Value::Text(std::string(to));
          hit = true;
        }
      }
      if (!hit) continue;
      old_rows.push_back(cur.position());
      new_rows.push_back(rrow);
    }
    if (!old_rows.empty()) {
      VELQUIN_RETURN_IF_ERROR(DeleteRows(rp, old_rows));
      VELQUIN_ASSIGN_OR_RETURN(auto w, TableWriter::Open(*pages_, rp));
      for (const auto& r : new_rows) VELQUIN_RETURN_IF_ERROR(w->Append(r));
      VELQUIN_RETURN_IF_ERROR(w->Commit());
    }
  }
  VELQUIN_RETURN_IF_ERROR(LoadCatalog());
  return Flush();
}

}  // namespace velquin::jet
