// Catalogues for running the window without database servers: a small
// MySQL-like server and an Access file, used by --demo, the screenshots and
// the GUI tests.
#pragma once

#include "catalog/catalog_source.h"

namespace velquin::ui {

MemoryCatalogSource DemoSourceCatalog();
MemoryCatalogSource DemoTargetCatalog();

}  // namespace velquin::ui
