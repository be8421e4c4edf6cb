#include "ui/demo_catalogs.h"

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
        {"orders", {"id", "customer_id", "total", "placed"}, {"PRIMARY", "ix_customer", "ix_customer"}},
        {"order items", {"order_id", "line", "sku", "qty"}, {"PRIMARY", "PRIMARY"}}},
       {{"v_big_orders", {"id", "total"}, ""}}},
  };
  return s;
}

MemoryCatalogSource DemoTargetCatalog() {
  MemoryCatalogSource t;
  t.data_source_name = "/srv/data/shop.mdb";
  t.current_catalog = "/srv/data/shop";
  t.databases = {{"/srv/data/shop", {{"customers", {"id", "name", "email", "created"}, {"PrimaryKey"}}}, {}}};
  return t;
}

}  // namespace velquin::ui
