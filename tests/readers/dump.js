// Reads an .mdb file with the independent reader mdb-reader and prints it as
// JSON, so tests can compare what another implementation sees in our files.
//
//   node dump.js FILE.mdb                 all user tables: names, columns, rows
//   node dump.js FILE.mdb TABLE [TABLE…]  only those tables
//   node dump.js --tables FILE.mdb        table names only
//   node dump.js --system FILE.mdb        include the system tables
//
// Values are written so that nothing is lost: binary and OLE values as
// {"hex": "..."}, dates as {"date": ISO-8601 with milliseconds}, bigints as
// strings; currency and numeric values come as mdb-reader's exact strings.
// Exit code 0 on success, 1 with the reader's error message on stderr.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const args = process.argv.slice(2);
const flags = new Set(args.filter((a) => a.startsWith("--")));
const rest = args.filter((a) => !a.startsWith("--"));
if (rest.length < 1) {
  process.stderr.write("usage: node dump.js [--tables] [--system] FILE.mdb [TABLE...]\n");
  process.exit(2);
}

function encode(value) {
  if (value === null || value === undefined) return null;
  if (Buffer.isBuffer(value)) return { hex: value.toString("hex") };
  if (value instanceof Date) return { date: value.toISOString() };
  if (typeof value === "bigint") return value.toString();
  return value;
}

try {
  const reader = new MDBReader(readFileSync(rest[0]));
  const names = reader.getTableNames({
    normalTables: true,
    systemTables: flags.has("--system"),
    linkedTables: false,
  });
  if (flags.has("--tables")) {
    process.stdout.write(JSON.stringify(names) + "\n");
    process.exit(0);
  }
  const wanted = rest.length > 1 ? rest.slice(1) : names;
  const out = { tables: [] };
  for (const name of wanted) {
    const table = reader.getTable(name);
    const columns = table.getColumns();
    const rows = table.getData().map((row) => columns.map((c) => encode(row[c.name])));
    out.tables.push({
      name: table.name,
      rowCount: table.rowCount,
      columns: columns.map((c) => ({
        name: c.name,
        type: c.type,
        size: c.size,
        nullable: c.nullable,
        autoLong: c.autoLong,
        precision: c.precision,
        scale: c.scale,
      })),
      rows,
    });
  }
  process.stdout.write(JSON.stringify(out) + "\n");
} catch (err) {
  process.stderr.write(`mdb-reader: ${err && err.message ? err.message : err}\n`);
  process.exit(1);
}
