// ConnectionDescriptor: the connection settings of one side (source MySQL
// or target Access), filled by the configuration dialog or the command line
// and turned into connection settings by the database layer.
#pragma once

#include <string>

namespace velquin {

struct ConnectionDescriptor {
  std::string provider_prog_id;  // e.g. "MSDASQL" or "Microsoft.Jet.OLEDB.4.0"
  std::string catalog;           // database name, lower case
  std::string source_name;       // data source / server, lower case
  std::string password;
  std::string user_id;
  std::string dbms_name;  // set when connecting
  std::string provider_display_name;
};

}  // namespace velquin
