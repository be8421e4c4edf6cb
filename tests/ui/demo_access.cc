#include "demo_access.h"

#include <thread>

namespace velquin::ui {

MemoryCatalogSource DemoSourceCatalog() {
  MemoryCatalogSource s;
  s.data_source_name = "localhost";
  s.current_catalog = "shop";
  s.databases = {
      {"information_schema", {}, {}},
      {"mysql", {}, {}},
      {"shop",
       {{"customers", {"id", "name", "email", "created"}, {"PRIMARY", "ix_email"}},
        {"orders",
         {"id", "customer_id", "total", "placed"},
         {"PRIMARY", "ix_customer", "ix_customer"}},
        {"order items", {"order_id", "line", "sku", "qty"}, {"PRIMARY", "PRIMARY"}}},
       {{"v_big_orders", {"id", "total"}, ""}}},
  };
  return s;
}

MemoryCatalogSource DemoTargetCatalog() {
  MemoryCatalogSource t;
  t.data_source_name = "/srv/data/shop.mdb";
  t.current_catalog = "/srv/data/shop";
  t.databases = {
      {"/srv/data/shop", {{"customers", {"id", "name", "email", "created"}, {"PrimaryKey"}}}, {}}};
  return t;
}

Result<std::string> MemoryDatabaseAccess::Connect(Side side, DbTree& tree) {
  const bool target = side == Side::kTarget;
  if (target ? fail_target : fail_source) {
    return Status::IOError(target ? "the target data source cannot be opened"
                                  : "the source data source cannot be opened");
  }
  MemoryCatalogSource& src = target ? target_ : source_;
  tree.set_source(&src);
  tree.set_provider(target ? "Microsoft.Jet.OLEDB.4.0" : "MSDASQL");
  tree.set_catalog_name(src.current_catalog);
  return std::string(target ? "ACCESS 4.0" : "MySQL 10.11.6");
}

Status MemoryDatabaseAccess::UseDatabase(Side side, const std::string& name) {
  (side == Side::kTarget ? target_ : source_).current_catalog = name;
  return Status::Ok();
}

Status MemoryDatabaseAccess::DropDatabase(const std::string& name) {
  auto& dbs = target_.databases;
  for (auto it = dbs.begin(); it != dbs.end(); ++it) {
    if (it->name == name) {
      dbs.erase(it);
      return Status::Ok();
    }
  }
  return Status::NotFound("no database " + name);
}

Status MemoryDatabaseAccess::DropTable(const std::string& table) {
  for (auto& db : target_.databases) {
    if (db.name != target_.current_catalog) continue;
    for (auto it = db.tables.begin(); it != db.tables.end(); ++it) {
      if (it->name == table) {
        db.tables.erase(it);
        return Status::Ok();
      }
    }
  }
  return Status::NotFound("no table " + table);
}

Status MemoryDatabaseAccess::DropView(const std::string& view) {
  for (auto& db : target_.databases) {
    if (db.name != target_.current_catalog) continue;
    for (auto it = db.views.begin(); it != db.views.end(); ++it) {
      if (it->name == view) {
        db.views.erase(it);
        return Status::Ok();
      }
    }
  }
  return Status::NotFound("no view " + view);
}

Status MemoryDatabaseAccess::RenameTable(const std::string& old_name, const std::string& new_name) {
  for (auto& db : target_.databases) {
    if (db.name != target_.current_catalog) continue;
    for (auto& t : db.tables) {
      if (t.name == new_name) return Status::Constraint("table " + new_name + " exists");
    }
    for (auto& t : db.tables) {
      if (t.name == old_name) {
        t.name = new_name;
        return Status::Ok();
      }
    }
  }
  return Status::NotFound("no table " + old_name);
}

std::string MemoryDatabaseAccess::TableCondition(const std::string& database,
                                                 const std::string& table) {
  auto it = conditions.find(database + "." + table);
  return it == conditions.end() ? std::string() : it->second;
}

void DemoTaskOperations::Step(const std::string& what) {
  log_.Write(what);
  std::this_thread::sleep_for(step_);
}

Status MemoryDatabaseAccess::CreateDatabase(const std::string& path) {
  std::string name = path;
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".mdb") == 0)
    name.resize(name.size() - 4);
  for (const auto& db : target_.databases) {
    if (db.name == name) return Status::InvalidArgument("the file " + path + " exists");
  }
  target_.databases.push_back({name, {}, {}});
  target_.current_catalog = name;
  target_.data_source_name = path;
  return Status::Ok();
}

Status MemoryDatabaseAccess::ClearTable(const std::string& table) {
  for (const auto& db : target_.databases) {
    if (db.name != target_.current_catalog) continue;
    for (const auto& t : db.tables) {
      if (t.name == table) {
        cleared_tables.push_back(table);
        return Status::Ok();
      }
    }
  }
  return Status::NotFound("no table " + table);
}

bool MemoryDatabaseAccess::PrintSourceQuery(const std::string& sql, bool) {
  source_statements.push_back(sql);
  return true;
}

std::string MemoryDatabaseAccess::SourceQueryValue(const std::string& sql) {
  source_statements.push_back(sql);
  for (const auto& [key, answer] : query_answers) {
    if (sql.find(key) != std::string::npos) return answer;
  }
  return "0";
}

Status MemoryDatabaseAccess::SaveCondition(const std::string& database, const std::string& table,
                                           const std::string& condition) {
  conditions[database + "." + table] = condition;
  return Status::Ok();
}

Status MemoryDatabaseAccess::TestConnection(Side side, const ConnectionDescriptor& descriptor) {
  if (side == Side::kTarget ? fail_target : fail_source) {
    return Status::IOError("cannot reach " + descriptor.source_name);
  }
  return Status::Ok();
}

}  // namespace velquin::ui
