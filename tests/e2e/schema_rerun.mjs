// End to end: a whole schema (data/sakila_like.sql) through `velquin
// migrate` and back through mdbtools: every table migrated, every foreign
// key an enforced relationship, views in dependency order, the GROUP_CONCAT
// views refused with their reason or materialized with MySQL's rows, the
// output of `velquin mdb schema` executed into a new file recreating the
// tables, relationships and queries (as mdbtools and mdb-reader see them),
// and re-runs into the same file (default stop, --replace, --append).
//
//   node schema_rerun.mjs VELQUIN_BINARY SOURCE_DIR
// Exit 0 pass, 1 fail, 77 skipped (no server or no mdbtools).
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, copyFileSync, existsSync } from "node:fs";
import { createHash } from "node:crypto";
import { tmpdir } from "node:os";
import { join } from "node:path";

const [velquin, sourceDir] = process.argv.slice(2);
const env = process.env;
if (!env.VELQUIN_MYSQL_HOST || !env.VELQUIN_MYSQL_PORT || !env.VELQUIN_MYSQL_USER) {
  console.log("SKIP: VELQUIN_MYSQL_* not set (scripts/mariadb-private)");
  process.exit(77);
}
if (spawnSync("mdb-schema", ["--help"]).error) {
  console.log("SKIP: mdbtools not installed");
  process.exit(77);
}

let failures = 0;
let checks = 0;
function check(ok, what) {
  checks++;
  if (!ok) {
    failures++;
    console.log("FAIL: " + what);
  }
}

const db = `velquin_schema_${process.pid}`;
const mysqlEnv = { ...env, MYSQL_PWD: env.VELQUIN_MYSQL_PASSWORD ?? "" };
const client = ["--no-defaults", "--default-character-set=utf8mb4", "-h", env.VELQUIN_MYSQL_HOST,
  "-P", env.VELQUIN_MYSQL_PORT, "-u", env.VELQUIN_MYSQL_USER];
const mysqlRows = (text) => execFileSync("mariadb", [...client, "-N", "-B", "-D", db, "-e", text],
  { env: mysqlEnv }).toString().split("\n").filter((l) => l.length);
const tool = (cmd, args) => execFileSync(cmd, args, { maxBuffer: 1 << 26 }).toString();
const sha = (file) => createHash("sha256").update(readFileSync(file)).digest("hex");

const work = mkdtempSync(join(tmpdir(), "velquin-schema-"));
function migrate(target, ...extra) {
  const summary = join(work, `s${checks}.json`);
  const run = spawnSync(velquin, ["migrate", "--source",
    `mysql://${env.VELQUIN_MYSQL_USER}@${env.VELQUIN_MYSQL_HOST}:${env.VELQUIN_MYSQL_PORT}/${db}`,
    "--target", target, "--summary", summary, ...extra], { env: mysqlEnv, maxBuffer: 1 << 26 });
  const objects = existsSync(summary) ? JSON.parse(readFileSync(summary, "utf8")).objects : [];
  return { status: run.status, log: run.stdout.toString(), err: run.stderr.toString(),
    byName: Object.fromEntries(objects.map((o) => [o.name, o])), objects };
}
// The structure mdb-reader sees: user tables' columns, relationships and
// queries from the system tables (object ids replaced by names).
function structure(file) {
  const dump = (...args) => JSON.parse(execFileSync("node",
    [join(sourceDir, "tests/readers/dump.js"), ...args], { maxBuffer: 1 << 28 }).toString());
  const user = dump(file).tables.map((t) => ({ name: t.name, columns: t.columns }));
  const sys = Object.fromEntries(dump("--system", file, "MSysObjects", "MSysQueries",
    "MSysRelationships").tables.map((t) => [t.name, t]));
  const col = (t, name) => sys[t].columns.findIndex((c) => c.name === name);
  const names = new Map(sys.MSysObjects.rows.map((r) => [r[col("MSysObjects", "Id")],
    r[col("MSysObjects", "Name")]]));
  const objectId = col("MSysQueries", "ObjectId");
  const queries = sys.MSysQueries.rows.map((r) => JSON.stringify(r.map((v, i) =>
    i === objectId ? names.get(v) : v))).sort();
  const relationships = sys.MSysRelationships.rows.map((r) => JSON.stringify(r)).sort();
  return { user, queries, relationships };
}
// What a reader sees of a file: schema with relationships, every table's rows, every query.
function contents(file) {
  let out = tool("mdb-schema", [file, "mysql"]);
  for (const t of tool("mdb-tables", ["-1", file]).split("\n").filter((l) => l)) {
    out += `== ${t}\n` + tool("mdb-export", [file, t]);
  }
  for (const q of tool("mdb-queries", ["-L", "-1", file]).split("\n").filter((l) => l)) {
    out += `== query ${q}\n` + tool("mdb-queries", [file, q]);
  }
  return out;
}

try {
  const script = readFileSync(join(sourceDir, "tests/e2e/data/sakila_like.sql"), "utf8");
  execFileSync("mariadb", [...client, "-e", `CREATE DATABASE ${db}`], { env: mysqlEnv });
  execFileSync("mariadb", [...client, "-D", db], { env: mysqlEnv, input: script });
  const tables = mysqlRows(`SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_SCHEMA = '${db}' AND TABLE_TYPE = 'BASE TABLE'`);
  // mdbtools prints a relationship once per column pair.
  const fkColumns = mysqlRows(`SELECT CONSTRAINT_NAME FROM INFORMATION_SCHEMA.KEY_COLUMN_USAGE WHERE TABLE_SCHEMA = '${db}' AND REFERENCED_TABLE_NAME IS NOT NULL`);
  // Views Access cannot express: GROUP_CONCAT.
  const grouped = ["film_actors", "category_films"];

  // First run: every table and relationship; the GROUP_CONCAT views refused alone.
  const first = join(work, "first.mdb");
  const r1 = migrate(first);
  check(r1.status === 1, `first run exits 1 for the refused views, got ${r1.status}`);
  for (const t of tables) check(r1.byName[t]?.status === "migrated", `table ${t} migrated`);
  for (const v of grouped) {
    check(r1.byName[v]?.status === "failed" && /GROUP_CONCAT/.test(r1.byName[v].reason),
      `view ${v} refused with its reason`);
  }
  const failed = r1.objects.filter((o) => o.status !== "migrated").map((o) => o.name).sort();
  check(JSON.stringify(failed) === JSON.stringify([...grouped].sort()),
    `every other view (one per translation) is a query: failed ${failed}`);
  const queries = tool("mdb-queries", ["-L", "-1", first]).split("\n");
  for (const v of ["t_union", "t_union_all"]) check(queries.includes(v), `union view ${v} is a query`);
  const schema = tool("mdb-schema", [first, "mysql"]);
  const relationships = new Set([...schema.matchAll(/ADD CONSTRAINT `([^`]+)` FOREIGN KEY/g)].map((m) => m[1]));
  check(relationships.size === fkColumns.length,
    `${relationships.size} relationship column pairs for ${fkColumns.length} foreign-key columns`);
  // `mdb schema`, run by `mdb exec` into a new file, recreates the file's
  // structure: tables, columns, indexes, relationships with their rules, and
  // queries (union queries too), for mdbtools and for mdb-reader.
  const schemaText = spawnSync(velquin, ["mdb", "schema", first], { maxBuffer: 1 << 26 });
  check(schemaText.status === 0, `mdb schema exits 0: ${schemaText.stderr}`);
  const listed = spawnSync(velquin, ["mdb", "tables", "--queries", first]).stdout.toString();
  check(listed === tool("mdb-queries", ["-L", "-1", first]),
    `mdb tables --queries lists the queries mdbtools lists: ${listed}`);
  const rebuilt = join(work, "from-schema.mdb");
  const exec = spawnSync(velquin, ["mdb", "exec", "--create", rebuilt],
    { input: schemaText.stdout, maxBuffer: 1 << 26 });
  check(exec.status === 0, `mdb exec reads the schema back: ${exec.stderr}`);
  if (exec.status === 0) {
    check(tool("mdb-schema", [rebuilt, "mysql"]) === schema,
      "mdbtools sees the same tables, indexes and relationships in the rebuilt file");
    const rebuiltQueries = tool("mdb-queries", ["-L", "-1", rebuilt]);
    check(rebuiltQueries === tool("mdb-queries", ["-L", "-1", first]), "the same queries");
    for (const q of rebuiltQueries.split("\n").filter((l) => l)) {
      check(tool("mdb-queries", [rebuilt, q]) === tool("mdb-queries", [first, q]),
        `query ${q} reads the same`);
    }
    const [a, b] = [structure(first), structure(rebuilt)];
    check(JSON.stringify(a.user) === JSON.stringify(b.user), "mdb-reader: the same tables and columns");
    check(a.relationships.length === fkColumns.length &&
      JSON.stringify(a.relationships) === JSON.stringify(b.relationships),
      `mdb-reader: the same ${a.relationships.length} relationship rows`);
    check(a.queries.length > 0 && JSON.stringify(a.queries) === JSON.stringify(b.queries),
      `mdb-reader: the same ${a.queries.length} query rows`);
  }
  const orphan = spawnSync(velquin, ["mdb", "exec", first,
    "INSERT INTO shelf_item (inventory_id, store_id, shelf_no) VALUES (3, 2, 9)"]);
  check(orphan.status !== 0, "a row without its related row is refused (composite relationship)");
  const at = (name) => r1.log.indexOf(`VIEW: [${db}].[${name}]`);
  check(at("film_rate") < at("cheap_film") && at("cheap_film") < at("cheap_film_count"),
    "views on views created in dependency order");

  // Again into the same file: stops before any change.
  const before = sha(first);
  const r2 = migrate(first);
  check(r2.status === 2, `a second run stops with exit 2, got ${r2.status}`);
  check(r2.err.includes("actor") && r2.err.includes("--replace"), "the clashing names are listed");
  check(sha(first) === before, "the file is unchanged");

  // --materialize-views into a new file: exit 0, the views' rows are MySQL's.
  const fresh = join(work, "fresh.mdb");
  const r3 = migrate(fresh, "--materialize-views");
  check(r3.status === 0, `--materialize-views exits 0, got ${r3.status}`);
  for (const v of grouped) {
    check(r3.byName[v]?.status === "materialized", `view ${v} materialized`);
    const want = mysqlRows(`SELECT COUNT(*) FROM ${v}`)[0];
    check(String(r3.byName[v]?.written) === want, `view ${v}: ${r3.byName[v]?.written} rows, MySQL ${want}`);
  }
  const actors = tool("mdb-export", ["-H", "-d", "\t", "-Q", fresh, "film_actors"]).split("\n").filter((l) => l);
  check(JSON.stringify(actors.sort()) === JSON.stringify(mysqlRows("SELECT * FROM film_actors").sort()),
    "film_actors holds the view's rows");

  // --replace over the first file gives what a fresh run gives.
  copyFileSync(fresh, join(work, "fresh-copy.mdb"));
  const r4 = migrate(first, "--replace", "--materialize-views");
  check(r4.status === 0, `--replace exits 0, got ${r4.status}`);
  check(contents(first) === contents(fresh), "--replace gives the contents of a fresh run");

  // --append adds the rows again: every row whose key exists is refused and counted.
  const r5 = migrate(first, "--append", "--materialize-views");
  check(r5.status === 1, `--append exits 1 (rows refused), got ${r5.status}`);
  for (const t of tables) {
    const o = r5.byName[t];
    check(o && o.read > 0 && o.refused === o.read && existsSync(o.rejects_file),
      `table ${t}: ${o?.refused} of ${o?.read} rows refused into the rejects file`);
  }
} finally {
  try {
    execFileSync("mariadb", [...client, "-e", `DROP DATABASE IF EXISTS ${db}`], { env: mysqlEnv });
  } catch {}
  if (failures === 0) rmSync(work, { recursive: true, force: true });
}
console.log(`${checks - failures} passed, ${failures} failed`);
process.exit(failures ? 1 : 0);
