// End to end against the private MariaDB and two independent readers:
// loads data/roundtrip.sql, migrates it with `velquin migrate`, then compares
// every row of every table between MySQL and the .mdb as read by mdb-reader
// (tests/readers/dump.js) and by mdbtools (mdb-export), value by value with
// the documented transforms (docs/type-map.md, docs/migration.md); checks
// keys, indexes, views, the order of the steps, the progress lines, the
// refused view and the row condition from Condition.cfg.
//
//   node roundtrip.mjs VELQUIN_BINARY SOURCE_DIR
// Exit 0 pass, 1 fail, 77 skipped (no server or no reader).
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync, rmSync, existsSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

process.env.TZ = "UTC";
const [velquin, sourceDir] = process.argv.slice(2);
const env = process.env;
if (!env.VELQUIN_MYSQL_HOST || !env.VELQUIN_MYSQL_PORT || !env.VELQUIN_MYSQL_USER) {
  console.log("SKIP: VELQUIN_MYSQL_* not set (scripts/mariadb-private)");
  process.exit(77);
}
if (!existsSync(join(sourceDir, "tests/readers/node_modules/mdb-reader"))) {
  console.log("SKIP: mdb-reader not installed (npm ci in tests/readers)");
  process.exit(77);
}

let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    if (failures <= 60) console.log("FAIL: " + what);
  }
}

const db = `velquin_e2e_${process.pid}`;
const mysqlEnv = { ...env, MYSQL_PWD: env.VELQUIN_MYSQL_PASSWORD ?? "" };
const client = ["--no-defaults", "--default-character-set=utf8mb4", "-h", env.VELQUIN_MYSQL_HOST,
  "-P", env.VELQUIN_MYSQL_PORT, "-u", env.VELQUIN_MYSQL_USER];
function sql(text, database = db) {
  return execFileSync("mariadb", [...client, "-N", "-B", database ? "-D" + database : "-e", ...(database ? ["-e", text] : [text])].filter(Boolean),
    { env: mysqlEnv, maxBuffer: 1 << 30 }).toString();
}
function rows(text) {
  const out = sql(text);
  return out.split("\n").filter((l) => l.length).map((l) => l.split("\t"));
}

const work = mkdtempSync(join(tmpdir(), "velquin-e2e-"));
try {
  const script = readFileSync(join(sourceDir, "tests/e2e/data/roundtrip.sql"), "utf8").replaceAll("velquin_e2e", db);
  execFileSync("mariadb", client, { env: mysqlEnv, input: script });

  const target = join(work, "rt.mdb");
  const run = spawnSync(velquin, ["migrate", "--source",
    `mysql://${env.VELQUIN_MYSQL_USER}@${env.VELQUIN_MYSQL_HOST}:${env.VELQUIN_MYSQL_PORT}/${db}`,
    "--target", target, "--summary", join(work, "s.json")], { env: mysqlEnv, maxBuffer: 1 << 28 });
  const log = run.stdout.toString();
  writeFileSync(join(work, "log.txt"), log);
  check(run.status === 1, `exit code ${run.status}, expected 1 (a view is refused)`);
  const summary = JSON.parse(readFileSync(join(work, "s.json"), "utf8"));
  const byName = Object.fromEntries(summary.objects.map((o) => [o.name, o]));

  // Names: CaseTest/casetest both there, dotted and spaced tables migrated.
  check(byName["CaseTest"]?.access_name === "CaseTest", "CaseTest keeps its name");
  check(byName["casetest"]?.access_name === "casetest_2", "casetest becomes casetest_2");
  check(byName["dots.in.name"]?.access_name === "dots_in_name", "dots.in.name -> dots_in_name");
  check(byName["with space"]?.access_name === "with space", "a table with a space is migrated");
  check(summary.renamed.some((r) => r.includes("dots.in.name")), "renames listed in the summary");
  check(log.includes("Renamed for Access: table or view `casetest` -> `casetest_2`"), "rename in the log");

  // Order: tables, then relationships, then views.
  const lastTable = log.lastIndexOf("TABLE: [");
  const rel = log.indexOf("Convert Relationships of database");
  const firstView = log.indexOf("VIEW: [");
  check(lastTable >= 0 && lastTable < rel && rel < firstView, "order tables -> foreign keys -> views");
  check(log.includes("[many] 2000 records converted!") && log.includes("[many] 4000 records converted!") &&
        !log.includes("[many] 6000"), "progress lines every 2000 rows");
  check(log.includes("[many] 4500 records converted, convertion completed SUCCESSFULLY!"), "summary line of many");

  // Views: two made, the GROUP_CONCAT one refused with its reason.
  check(byName["v_refused"]?.status === "failed" && /GROUP_CONCAT/.test(byName["v_refused"]?.reason),
        "v_refused fails naming GROUP_CONCAT");
  const queries = execFileSync("mdb-queries", ["-L", target]).toString();
  check(/\bv_child\b/.test(queries) && /\bv_simple\b/.test(queries), `views in the file: ${queries.trim()}`);

  // Keys and indexes in the file.
  // (mdb-schema's postgres form names every index and key it finds.)
  const schema = execFileSync("mdb-schema", [target, "postgres"]).toString();
  writeFileSync(join(work, "schema.txt"), schema);
  for (const line of [
    'CREATE UNIQUE INDEX "parent_code_idx" ON "parent" ("code");',  // a unique key named like its column
    'CREATE INDEX "parent_label_idx" ON "parent" ("label");',
    'ALTER TABLE "parent" ADD CONSTRAINT "parent_pkey" PRIMARY KEY ("a", "b");',
    'ALTER TABLE "casetest_2" ADD CONSTRAINT "casetest_2_pkey" PRIMARY KEY ("id");',
    'ALTER TABLE "select" ADD CONSTRAINT "select_pkey" PRIMARY KEY ("from");',
  ]) {
    check(schema.includes(line), "schema has " + line);
  }
  // The index on the foreign key's columns is the relationship's own, not a second one.
  check(!schema.includes('CREATE INDEX "child_pa_idx"'), "no plain index beside the relationship's");
  const relationshipsSupported = !log.includes("are not supported by this engine yet");
  if (relationshipsSupported) {
    // The relationships by name, composite one whole, in MSysRelationships.
    const rels = execFileSync("mdb-export", ["-H", target, "MSysRelationships"]).toString();
    for (const line of ['"fk_child_manager",0,1,0,"child","manager_id","child","id"',
                        '"fk_child_parent",4096,2,0,"child","pa","parent","a"',
                        '"fk_child_parent",4096,2,1,"child","pb","parent","b"']) {
      check(rels.includes(line), "MSysRelationships has " + line);
    }
    check(byName["child"]?.status === "migrated", "child migrated with its relationships");
  } else {
    console.log("NOTE: the Jet engine does not build relationships yet; checked that they are reported");
    check(byName["child"]?.status === "failed", "child fails while its relationships are missing");
  }

  // Every row of every table, value by value.
  const dump = JSON.parse(execFileSync("node", [join(sourceDir, "tests/readers/dump.js"), target],
    { maxBuffer: 1 << 30 }).toString());
  const mdbTables = Object.fromEntries(dump.tables.map((t) => [t.name, t]));
  const tables = rows(`SELECT TABLE_NAME FROM INFORMATION_SCHEMA.TABLES WHERE TABLE_SCHEMA='${db}' AND TABLE_TYPE='BASE TABLE'`).map((r) => r[0]);
  const normDec = (s) => {
    s = String(s);
    let neg = s.startsWith("-");
    if (neg || s.startsWith("+")) s = s.slice(1);
    let [i, f = ""] = s.split(".");
    i = i.replace(/^0+(?=\d)/, "");
    f = f.replace(/0+$/, "");
    const out = f ? `${i}.${f}` : i;
    return (neg && out !== "0" ? "-" : "") + out;
  };
  const jetEpoch = Date.UTC(1899, 11, 30);
  const dayMs = 86400000;
  const timeMs = (t) => {
    const neg = t.startsWith("-");
    const [h, m, s] = t.replace("-", "").split(":");
    const ms = ((+h * 60 + +m) * 60) * 1000 + Math.trunc(parseFloat(s) * 1000 + 1e-6);
    const at = neg ? -ms : ms;  // 1899-12-30 plus the time (docs/type-map.md D3)
    // Before 1899-12-30 Jet stores the day negative and the time of day as a
    // positive fraction subtracted from it (-1.25 is 1899-12-29 06:00);
    // mdb-reader reads the stored number as a plain day count, so that is
    // what it shows for such a moment.
    const day = Math.floor(at / dayMs);
    if (day >= 0) return jetEpoch + at;
    return jetEpoch + day * dayMs - (at - day * dayMs);
  };
  const dateMs = (t) => Date.parse(t.replace(" ", "T") + "Z");

  for (const table of tables) {
    const access = byName[table]?.access_name ?? table;
    const mdb = mdbTables[access];
    check(mdb, `table ${table} (${access}) in the file`);
    if (!mdb) continue;
    const cols = rows(`SELECT COLUMN_NAME, DATA_TYPE, COLUMN_TYPE, IS_NULLABLE FROM INFORMATION_SCHEMA.COLUMNS WHERE TABLE_SCHEMA='${db}' AND TABLE_NAME='${table}' ORDER BY ORDINAL_POSITION`);
    const q = (n) => "`" + n.replaceAll("`", "``") + "`";
    const exprs = cols.map(([name, type]) => {
      const c = q(name);
      if (/char|text|enum|set|json/.test(type)) return `HEX(CONVERT(${c} USING utf8mb4))`;
      if (/binary|blob/.test(type)) return `HEX(${c})`;
      if (type === "bit") return `CAST(${c} + 0 AS CHAR)`;
      if (/^(date|datetime|timestamp)$/.test(type)) return `DATE_FORMAT(${c}, '%Y-%m-%d %H:%i:%s.%f')`;
      return `CAST(${c} AS CHAR)`;
    });
    const key = cols[0][0];
    const my = rows(`SELECT ${exprs.join(", ")} FROM ${q(table)} ORDER BY ${q(key)}`);
    const got = [...mdb.rows].sort((a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0));
    check(my.length === got.length, `${table}: ${my.length} rows in MySQL, ${got.length} in the file`);
    for (let r = 0; r < Math.min(my.length, got.length); r++) {
      for (let c = 0; c < cols.length; c++) {
        const [name, type, ctype] = cols[c];
        const m = my[r][c];
        const v = got[r][c];
        const where = `${table}.${name} row ${r + 1}: mysql ${String(m).slice(0, 60)} file ${JSON.stringify(v)?.slice(0, 60)}`;
        if (m === "NULL") { check(v === null, where); continue; }
        if (/char|text|enum|set|json/.test(type)) {
          check(typeof v === "string" && Buffer.from(v, "utf8").toString("hex").toUpperCase() === m, where);
        } else if (/binary|blob/.test(type)) {
          check(v && v.hex !== undefined && v.hex.toUpperCase() === m, where);
        } else if (type === "bit") {
          if (ctype === "bit(1)" && typeof v === "boolean") check(v === (m === "1"), where);
          else check(normDec(v) === normDec(m), where);
        } else if (/^(date|datetime|timestamp)$/.test(type)) {
          const d = v && v.date ? Date.parse(v.date) : NaN;
          check(Math.abs(d - dateMs(m.slice(0, 23))) <= 1, where);
        } else if (type === "time") {
          const d = v && v.date ? Date.parse(v.date) : NaN;
          check(Math.abs(d - timeMs(m)) <= 1, where);
        } else if (type === "float") {
          check(typeof v === "number" && Math.fround(parseFloat(m)) === Math.fround(v), where);
        } else if (type === "double") {
          check(typeof v === "number" && parseFloat(m) === v, where);
        } else {
          check(normDec(v) === normDec(m), where);
        }
      }
    }

    // mdbtools: the same rows, compared where its text form is exact.
    const sep = "\x1f", rowSep = "\x1e";
    const exported = spawnSync("mdb-export", ["-H", "-Q", "-d", sep, "-R", rowSep, "-b", "hex",
      "-D", "%Y-%m-%d %H:%M:%S", target, access], { maxBuffer: 1 << 30 });
    check(exported.status === 0, `mdb-export ${access}: ${exported.stderr}`);
    const lines = exported.stdout.toString("utf8").split(rowSep).filter((l, i, a) => i < a.length - 1 || l.length);
    check(lines.length === my.length, `mdb-export ${access}: ${lines.length} rows, MySQL ${my.length}`);
    const exportedRows = lines.map((l) => l.split(sep));
    const ids = new Map(exportedRows.map((r) => [r[0], r]));
    for (const m of my) {
      const e = ids.get(m[0]);
      if (!e) continue;
      for (let c = 0; c < cols.length; c++) {
        const [name, type] = cols[c];
        const mv = m[c], ev = e[c];
        const where = `mdb-export ${table}.${name}: mysql ${String(mv).slice(0, 40)} mdbtools ${String(ev).slice(0, 40)}`;
        if (mv === "NULL") { check(ev === "", where); continue; }
        // mdbtools' own limits: it prints characters beyond U+FFFF as "??"
        // and stops a text or binary value at its first NUL byte. Those
        // values are judged by mdb-reader above; here the rest is compared.
        if (/char|text|enum|set|json/.test(type)) {
          const text = Buffer.from(mv, "hex").toString("utf8");
          if (/[\u{10000}-\u{10FFFF}]/u.test(text)) continue;
          const upToNul = text.split("\0")[0];
          check(Buffer.from(ev ?? "", "utf8").toString("hex").toUpperCase() ===
                Buffer.from(upToNul, "utf8").toString("hex").toUpperCase(), where);
        } else if (/int|year|decimal/.test(type)) {
          check(normDec(ev) === normDec(mv), where);
        } else if (/binary|blob/.test(type) && mv.length <= 4096) {
          let prefix = "";
          for (let i = 0; i < mv.length; i += 2) {
            if (mv.slice(i, i + 2) === "00") break;
            prefix += mv.slice(i, i + 2);
          }
          // (OLE values come whole; BINARY ones up to the first NUL.)
          const shown = (ev ?? "").toUpperCase();
          check(shown === mv || shown === prefix, where);
        }
      }
    }
  }

  // Backup of the migrated database and its restore into a new file: every
  // table, row, query and relationship the readers see is the same.
  const backupDir = join(work, "backup");
  const backedUp = spawnSync(velquin, ["backup", target, "--to", backupDir]);
  check(backedUp.status === 0, `backup exit ${backedUp.status}: ${backedUp.stdout.toString().slice(-600)}`);
  const restoredFile = join(work, "restored.mdb");
  const restored = spawnSync(velquin, ["restore", backupDir, "--target", restoredFile]);
  check(restored.status === 0, `restore exit ${restored.status}: ${restored.stdout.toString().slice(-600)}`);
  if (restored.status === 0) {
    const again = execFileSync("node", [join(sourceDir, "tests/readers/dump.js"), restoredFile],
      { maxBuffer: 1 << 30 }).toString();
    const first = execFileSync("node", [join(sourceDir, "tests/readers/dump.js"), target],
      { maxBuffer: 1 << 30 }).toString();
    // Table by table: the restore may list two tables whose names differ only
    // in case in the other order of creation.
    const byName = (text) => JSON.stringify(JSON.parse(text).tables
      .sort((x, y) => (x.name < y.name ? -1 : x.name > y.name ? 1 : 0)));
    check(byName(again) === byName(first), "mdb-reader reads the restored file as the migrated one");
    const list = (f) => execFileSync("mdb-queries", ["-L", f]).toString();
    check(list(restoredFile) === list(target), "the restored file has the same queries");
    for (const q of list(target).split(/\s+/).filter(Boolean)) {
      const text = (f) => execFileSync("mdb-queries", [f, q]).toString();
      check(text(restoredFile) === text(target), `query ${q} restored as it was`);
    }
    const rels = (f) => execFileSync("mdb-export", [f, "MSysRelationships"]).toString()
      .split("\n").sort().join("\n");
    check(rels(restoredFile) === rels(target), "the restored file has the same relationships");
  }

  // A connection error is exit code 2 and names the server's reason.
  const denied = spawnSync(velquin, ["migrate", "--source",
    `mysql://${env.VELQUIN_MYSQL_USER}:wrong@${env.VELQUIN_MYSQL_HOST}:${env.VELQUIN_MYSQL_PORT}/${db}`,
    "--target", join(work, "denied.mdb")], { env: { ...env, MYSQL_PWD: "" } });
  check(denied.status === 2 && /Access denied/.test(denied.stderr.toString()),
        `wrong password: exit ${denied.status}, ${denied.stderr}`);
  check(!existsSync(join(work, "denied.mdb")), "no target file after a failed connect");

  // Condition.cfg narrows the rows of a table.
  const cfg = join(work, "Condition.cfg");
  writeFileSync(cfg, `[${db}]\r\nmany=id > 4000\r\n`);
  const narrowed = spawnSync(velquin, ["migrate", "--source",
    `mysql://${env.VELQUIN_MYSQL_USER}@${env.VELQUIN_MYSQL_HOST}:${env.VELQUIN_MYSQL_PORT}/${db}`,
    "--target", join(work, "narrow.mdb"), "--tables", "many", "--conditions", cfg], { env: mysqlEnv });
  check(narrowed.status === 0, `narrowed run exit ${narrowed.status}: ${narrowed.stdout.toString().slice(-400)}`);
  const n = JSON.parse(execFileSync("node", [join(sourceDir, "tests/readers/dump.js"), join(work, "narrow.mdb")]).toString());
  check(n.tables.length === 1 && n.tables[0].rows.length === 500, "Condition.cfg: 500 rows of many");
} finally {
  try { sql(`DROP DATABASE IF EXISTS \`${db}\``, ""); } catch {}
  if (failures === 0) rmSync(work, { recursive: true, force: true });
  else console.log("kept for inspection: " + work);
}
console.log(failures === 0 ? "PASS" : `${failures} failures`);
process.exit(failures === 0 ? 0 : 1);
