// Column layout: see table_spec.h and [TDEF-4], [COL-1] in docs/jet4-format.md.
#include "jet/table/table_spec.h"

#include "jet/table/table_def.h"
#include "jet/table/text_codec.h"

namespace velquin::jet {

std::uint16_t FixedLength(ColumnType type) {
  switch (type) {
    case ColumnType::kBool:
      return 1;
    case ColumnType::kByte:
      return 1;
    case ColumnType::kShort:
      return 2;
    case ColumnType::kLong:
      return 4;
    case ColumnType::kCurrency:
      return 8;
    case ColumnType::kSingle:
      return 4;
    case ColumnType::kDouble:
      return 8;
    case ColumnType::kDateTime:
      return 8;
    case ColumnType::kGuid:
      return 16;
    case ColumnType::kNumeric:
      return 17;
    default:
      return 0;
  }
}

bool IsFixedType(ColumnType type) { return FixedLength(type) != 0; }

Status ValidateTableSpec(const TableSpec& spec) {
  auto check_name = [](const std::string& name, const char* what) -> Status {
    std::size_t n = Utf16Length(name);
    if (n == 0 || n > 64) {
      return Status::InvalidArgument(std::string(what) + " name \"" + name +
                                     "\" must have 1 to 64 characters");
    }
    if (name[0] == ' ' || name.find_first_of(".!`[]") != std::string::npos) {
      return Status::InvalidArgument(std::string(what) + " name \"" + name +
                                     "\" contains a character Access does not allow");
    }
    for (unsigned char c : name) {
      if (c < 0x20) {
        return Status::InvalidArgument(std::string(what) + " name contains a control character");
      }
    }
    if (!Utf8ToUtf16(name).ok()) {
      return Status::InvalidArgument(std::string(what) + " name is not valid UTF-8");
    }
    return Status::Ok();
  };
  VELQUIN_RETURN_IF_ERROR(check_name(spec.name, "table"));
  if (spec.columns.empty() || spec.columns.size() > 255) {
    return Status::InvalidArgument("table \"" + spec.name + "\" must have 1 to 255 columns");
  }
  int autos = 0;
  for (std::size_t i = 0; i < spec.columns.size(); ++i) {
    const ColumnSpec& c = spec.columns[i];
    VELQUIN_RETURN_IF_ERROR(check_name(c.name, "column"));
    for (std::size_t j = 0; j < i; ++j) {
      if (CompareNames(spec.columns[j].name, c.name) == 0) {
        return Status::InvalidArgument("column \"" + c.name + "\" appears twice");
      }
    }
    switch (c.type) {
      case ColumnType::kBool:
      case ColumnType::kByte:
      case ColumnType::kShort:
      case ColumnType::kLong:
      case ColumnType::kCurrency:
      case ColumnType::kSingle:
      case ColumnType::kDouble:
      case ColumnType::kDateTime:
      case ColumnType::kGuid:
      case ColumnType::kOle:
      case ColumnType::kMemo:
        break;
      case ColumnType::kText:
        if (c.size > 255) {
          return Status::InvalidArgument("TEXT column \"" + c.name +
                                         "\" allows at most 255 characters");
        }
        break;
      case ColumnType::kBinary:
        if (c.size > 255) {
          return Status::InvalidArgument("BINARY column \"" + c.name +
                                         "\" allows at most 255 bytes");
        }
        break;
      case ColumnType::kNumeric:
        if (c.precision < 1 || c.precision > 28 || c.scale > c.precision) {
          return Status::InvalidArgument("DECIMAL column \"" + c.name +
                                         "\" needs precision 1..28 and scale 0..precision");
        }
        break;
      default:
        return Status::InvalidArgument("column \"" + c.name + "\" has an unsupported type");
    }
    if (!c.default_value.empty()) {
      if (c.auto_increment) {
        return Status::InvalidArgument("AutoNumber column \"" + c.name +
                                       "\" cannot have a default value");
      }
      if (!Utf8ToUtf16(c.default_value).ok()) {
        return Status::InvalidArgument("the default value of column \"" + c.name +
                                       "\" is not valid UTF-8");
      }
      if (Utf16Length(c.default_value) > kMaxDefaultValueLength) {
        return Status::InvalidArgument("the default value of column \"" + c.name +
                                       "\" is longer than 255 characters");
      }
    }
    if (c.auto_increment) {
      if (c.type != ColumnType::kLong) {
        return Status::InvalidArgument("AutoNumber column \"" + c.name + "\" must be LONG");
      }
      ++autos;
    }
  }
  if (autos > 1) return Status::InvalidArgument("a table can have only one AutoNumber column");
  // Every row holds every fixed-size column at full width, plus the column
  // count, the variable-column offsets and the null mask [ROW-1]: a table
  // whose rows cannot fit a page is refused when it is defined, as Jet
  // refuses it ("Too many fields defined."), before anything is written.
  std::size_t fixed = 0, vars = 0;
  for (const auto& c : spec.columns) {
    if (!IsFixedType(c.type)) {
      ++vars;
    } else if (c.type != ColumnType::kBool) {
      fixed += FixedLength(c.type);
    }
  }
  const std::size_t least = 2 + fixed + (vars ? 4 + 2 * vars : 0) + (spec.columns.size() + 7) / 8;
  if (least > kMaxRowSize) {
    return Status::InvalidArgument("Too many fields defined. Table \"" + spec.name + "\" needs " +
                                   std::to_string(least) + " bytes in every row, more than the " +
                                   std::to_string(kMaxRowSize) + " a row can hold");
  }
  return Status::Ok();
}

void LayoutColumns(const TableSpec& spec, TableDef* def) {
  def->columns.clear();
  std::uint16_t var_count = 0;
  std::uint16_t fixed_offset = 0;
  for (std::size_t i = 0; i < spec.columns.size(); ++i) {
    const ColumnSpec& s = spec.columns[i];
    Column c;
    c.name = s.name;
    c.type = s.type;
    c.number = static_cast<std::uint16_t>(i);
    c.display_index = spec.system ? 0 : static_cast<std::uint16_t>(i);
    bool fixed = IsFixedType(s.type);
    c.flags =
        static_cast<std::uint8_t>((fixed ? kColumnFixed : 0) | kColumnUpdatable | s.extra_flags);
    if (s.auto_increment) c.flags |= kColumnAutoNumber;
    if (s.type == ColumnType::kNumeric) {
      c.misc = {s.precision, s.scale, 0, 0};
    } else {
      c.misc = {0x09, 0x04, 0, 0};  // sort order 1033, version 0
    }
    if ((s.type == ColumnType::kText || s.type == ColumnType::kMemo) && s.compressed_unicode) {
      c.ext_flags = kColumnExtCompressed;
    }
    if (fixed) {
      c.length = FixedLength(s.type);
      c.var_index = var_count;
      if (s.type != ColumnType::kBool) {
        c.fixed_offset = fixed_offset;
        fixed_offset = static_cast<std::uint16_t>(fixed_offset + c.length);
      }
    } else {
      c.var_index = var_count++;
      if (s.type == ColumnType::kText)
        c.length = static_cast<std::uint16_t>(2 * (s.size ? s.size : 255));
      if (s.type == ColumnType::kBinary) c.length = s.size ? s.size : 255;
    }
    def->columns.push_back(std::move(c));
  }
  def->max_columns = static_cast<std::uint16_t>(spec.columns.size());
  def->table_type = spec.system ? kTableTypeSystem : kTableTypeUser;
}

Status ValidateIndexes(const TableSpec& spec) {
  if (spec.indexes.size() > 32)
    return Status::InvalidArgument("a table can have at most 32 indexes");
  int pks = 0;
  for (std::size_t i = 0; i < spec.indexes.size(); ++i) {
    const IndexSpec& is = spec.indexes[i];
    if (is.name.empty() || is.name.size() > 64) {
      return Status::InvalidArgument("index names must have 1 to 64 characters");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (CompareNames(spec.indexes[j].name, is.name) == 0) {
        return Status::InvalidArgument("index \"" + is.name + "\" appears twice");
      }
    }
    if (is.columns.empty() || is.columns.size() > 10) {
      return Status::InvalidArgument("index \"" + is.name + "\" must have 1 to 10 columns");
    }
    for (const IndexColumn& ic : is.columns) {
      if (ic.column_number >= spec.columns.size()) {
        return Status::InvalidArgument("index \"" + is.name + "\" names a missing column");
      }
      ColumnType t = spec.columns[ic.column_number].type;
      if (t == ColumnType::kOle) {
        return Status::InvalidArgument("index \"" + is.name + "\" cannot include an OLE column");
      }
    }
    if (is.primary_key) ++pks;
  }
  if (pks > 1) return Status::InvalidArgument("a table can have only one primary key");
  return Status::Ok();
}

}  // namespace velquin::jet
