// A run that cannot mislead, end to end against the private MariaDB and the
// independent readers. Four groups:
//   values     a table of value classes (every numeric type at its limits and
//              10,000 random values, float/double special cases, dates at the
//              edges, zero dates) compared value by value through mdb-reader,
//              and every changed value found in the summary's transforms;
//   CLI input  careless command lines stop before any write with exit 2;
//   reporting  a missing database and a target that is not an Access file
//              are named in one clear sentence;
//   signals    Ctrl-C at random moments of an employees-shaped migration ends
//              within 2 s with exit 130, a complete summary and a file the
//              readers accept; SIGTERM gives 143; a second Ctrl-C ends at once.
//
//   node honest_run.mjs VELQUIN_BINARY SOURCE_DIR [--group NAME]
//   node honest_run.mjs VELQUIN_BINARY SOURCE_DIR --make-employees DATABASE COUNT
// VELQUIN_TEST_SEED fixes the random values and moments (printed on failure).
// Exit 0 pass, 1 fail, 77 skipped (no server or no reader).
import {execFileSync, spawn, spawnSync} from "node:child_process";
import {existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync} from "node:fs";
import {tmpdir} from "node:os";
import {join} from "node:path";

process.env.TZ = "UTC";
const [velquin, sourceDir, ...rest] = process.argv.slice(2);
const only = rest[0] === "--group" ? rest[1] : null;
const env = process.env;
if (!env.VELQUIN_MYSQL_HOST || !env.VELQUIN_MYSQL_PORT || !env.VELQUIN_MYSQL_USER) {
  console.log("SKIP: VELQUIN_MYSQL_* not set (scripts/mariadb-private)");
  process.exit(77);
}
if (!existsSync(join(sourceDir, "tests/readers/node_modules/mdb-reader"))) {
  console.log("SKIP: mdb-reader not installed (npm ci in tests/readers)");
  process.exit(77);
}

const seed = Number(env.VELQUIN_TEST_SEED ?? Date.now() % 2147483647);
let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    if (failures <= 60) console.log("FAIL: " + what);
  }
  return ok;
}
// mulberry32: small, seeded, good enough to pick values and moments.
let state = seed >>> 0;
function random() {
  state = (state + 0x6d2b79f5) >>> 0;
  let t = state;
  t = Math.imul(t ^ (t >>> 15), t | 1);
  t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
  return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
}
const random32 = () => Math.floor(random() * 4294967296);

const db = `velquin_honest_${process.pid}`;
const mysqlEnv = {
  ...env,
  MYSQL_PWD: env.VELQUIN_MYSQL_PASSWORD ?? ""
};
const client = [
  "--no-defaults", "--default-character-set=utf8mb4", "-h", env.VELQUIN_MYSQL_HOST, "-P", env.VELQUIN_MYSQL_PORT, "-u",
  env.VELQUIN_MYSQL_USER
];
const runSql = (script) => execFileSync("mariadb", [...client, db], {env: mysqlEnv, input: script, maxBuffer: 1 << 30});
const rows = (text) => execFileSync("mariadb", [...client, "-N", "-B", db, "-e", text], {env: mysqlEnv, maxBuffer: 1 << 30})
                           .toString()
                           .split("\n")
                           .filter((l) => l.length)
                           .map((l) => l.split("\t"));
const sourceUrl = (database = db) =>
    `mysql://${env.VELQUIN_MYSQL_USER}@${env.VELQUIN_MYSQL_HOST}:${env.VELQUIN_MYSQL_PORT}/${database}`;
const migrate = (args, database = db) =>
    spawnSync(velquin, ["migrate", "--source", sourceUrl(database), ...args], {env: mysqlEnv, maxBuffer: 1 << 28});
const dump = (file) => {
  const r = spawnSync("node", [join(sourceDir, "tests/readers/dump.js"), file], {maxBuffer: 1 << 30});
  return r.status === 0 ? JSON.parse(r.stdout.toString()) : null;
};
const work = mkdtempSync(join(tmpdir(), "velquin-honest-"));
execFileSync("mariadb", [...client, "-e", `CREATE DATABASE \`${db}\``], {env: mysqlEnv});

// ---- values -------------------------------------------------------------------------------

function randomBigInt(lo, hi) {
  const span = hi - lo + 1n;
  const r = (BigInt(random32()) << 32n) | BigInt(random32());
  return lo + (((r << 32n) | BigInt(random32())) % span);
}
const bits = new DataView(new ArrayBuffer(8));
function randomFloat() {
  for (;;) {
    bits.setUint32(0, random32());
    const f = bits.getFloat32(0);
    if (Number.isFinite(f)) return f;
  }
}
function randomDouble() {
  for (;;) {
    bits.setUint32(0, random32());
    bits.setUint32(4, random32());
    const d = bits.getFloat64(0);
    if (Number.isFinite(d)) return d;
  }
}
const FLT_MAX = 3.4028234663852886e38;
const integer = (type, lo, hi) => ({
  type,
  edges: [lo, lo + 1n, -1n, 0n, 1n, hi - 1n, hi].filter((v) => v >= lo && v <= hi).map(String),
  random: () => String(randomBigInt(lo, hi)),
});
const decimalDigits = (before, after) => () => {
  let s = random() < 0.5 ? "-" : "";
  for (let i = 0; i < before; i++) s += Math.floor(random() * 10);
  s += ".";
  for (let i = 0; i < after; i++) s += Math.floor(random() * 10);
  return s;
};
// Each class: the column type, the values at its edges, a random value.
const numericClasses = {
  tinyint: integer("tinyint", -128n, 127n),
  tinyint_u: integer("tinyint unsigned", 0n, 255n),
  smallint: integer("smallint", -32768n, 32767n),
  smallint_u: integer("smallint unsigned", 0n, 65535n),
  mediumint: integer("mediumint", -8388608n, 8388607n),
  mediumint_u: integer("mediumint unsigned", 0n, 16777215n),
  int: integer("int", -2147483648n, 2147483647n),
  int_u: integer("int unsigned", 0n, 4294967295n),
  bigint: integer("bigint", -9223372036854775808n, 9223372036854775807n),
  bigint_u: integer("bigint unsigned", 0n, 18446744073709551615n),
  year: {type: "year", edges: ["1901", "2155"], random: () => String(1901 + Math.floor(random() * 255))},
  bit64:
      {type: "bit(64)", edges: ["0", "1", "18446744073709551615"], random: () => String(randomBigInt(0n, 18446744073709551615n))},
  dec: {
    type: "decimal(28,10)",
    edges: ["999999999999999999.9999999999", "-999999999999999999.9999999999", "0.0000000001"],
    random: decimalDigits(18, 10)
  },
  dec65: {
    type: "decimal(65,30)",
    edges: ["99999999999999999999999999999999999.999999999999999999999999999999"],
    random: decimalDigits(35, 30)
  },
  float: {
    type: "float",
    edges: [1234567, 8388607, 16777216, FLT_MAX, -FLT_MAX, 1.1754943508222875e-38, 1.401298464324817e-45, 0.1, -0, 1 / 3].map(
        (v) => v.toPrecision(17)),
    random: () => randomFloat().toPrecision(9),
  },
  double: {
    type: "double",
    edges: [Number.MAX_VALUE, -Number.MAX_VALUE, Number.MIN_VALUE, 2.2250738585072014e-308, 0.1, 9007199254740993, -0, 1 / 3].map(
        (v) => v.toPrecision(17)),
    random: () => randomDouble().toPrecision(17),
  },
};
// Dates: the edges Access holds, fractions it cuts, zero dates (as MySQL
// allows them outside strict mode), TIME beyond a day.
const dateClasses = {
  d: {
    type: "date",
    values: ["1000-01-01", "9999-12-31", "0100-01-01", "2024-02-29", "0000-00-00", "2020-00-05", "2020-05-00", null]
  },
  dt: {
    type: "datetime(6)",
    values: [
      "1000-01-01 00:00:00.000000", "9999-12-31 23:59:59.999999", "2000-01-01 12:00:00.000500", "2000-01-01 12:00:00.123000",
      "0000-00-00 00:00:00.000000", null
    ]
  },
  tm: {
    type: "time(6)",
    values: ["-838:59:59.000000", "838:59:59.000000", "00:00:00.000001", "-00:00:01.000000", "12:34:56.789000", null]
  },
  nn: {type: "date NOT NULL DEFAULT '0000-00-00'", values: ["2001-02-03", "0000-00-00", "1999-00-00"]},
  // NOT NULL without a zero default: the copy finds the zero dates late.
  nz: {type: "date NOT NULL", values: ["2001-02-03", "2002-03-04", "0000-00-00", "1999-00-00"]},
  nd: {type: "date NOT NULL", values: ["2001-02-03"]},
};

function valuesGroup() {
  // One table per class; 10,000 random values over the numeric classes.
  const names = Object.keys(numericClasses);
  const perClass = Math.ceil(10000 / names.length);
  let script = "SET sql_mode = '';\n";
  const expected = {};
  for (const [name, c] of Object.entries(numericClasses)) {
    const values = [...c.edges];
    while (values.length < c.edges.length + perClass) values.push(c.random());
    expected[name] = values;
    script += `CREATE TABLE v_${name} (id int PRIMARY KEY, v ${c.type});\n`;
    for (let i = 0; i < values.length; i += 500) {
      const chunk =
          values.slice(i, i + 500).map((v, j) => `(${i + j + 1}, ${name === "bit64" ? `CAST(${v} AS UNSIGNED)` : `'${v}'`})`);
      script += `INSERT INTO v_${name} VALUES ${chunk.join(",")};\n`;
    }
  }
  for (const [name, c] of Object.entries(dateClasses)) {
    script += `CREATE TABLE v_${name} (id int PRIMARY KEY, v ${c.type});\n`;
    script +=
        `INSERT INTO v_${name} VALUES ${c.values.map((v, i) => `(${i + 1}, ${v === null ? "NULL" : `'${v}'`})`).join(",")};\n`;
  }
  runSql(script);

  const target = join(work, "values.mdb");
  const run = migrate(["--target", target, "--summary", join(work, "values.json")]);
  check(run.status === 0, `values run: exit ${run.status}: ${run.stderr}${run.stdout.toString().slice(-600)}`);
  const summary = JSON.parse(readFileSync(join(work, "values.json"), "utf8"));
  const file = dump(target);
  if (!check(file, "mdb-reader reads the values file")) return;
  const tables = Object.fromEntries(file.tables.map((t) => [t.name, t]));
  const normDec = (s) => {
    s = String(s);
    const neg = s.startsWith("-");
    if (neg || s.startsWith("+")) s = s.slice(1);
    let [i, f = ""] = s.split(".");
    i = i.replace(/^0+(?=\d)/, "");
    f = f.replace(/0+$/, "");
    const out = f ? `${i}.${f}` : i;
    return (neg && out !== "0" ? "-" : "") + out;
  };

  // Numbers: MySQL's value (floats as the exact double they widen to)
  // against the file's.
  let compared = 0;
  for (const name of names) {
    const t = tables[`v_${name}`];
    if (!check(t, `v_${name} in the file`)) continue;
    const exact = name === "float" || name === "double" ? "v + 0e0" :
        name === "bit64"                                ? "CAST(v + 0 AS CHAR)" :
                                                          "CAST(v AS CHAR)";
    const my = rows(`SELECT id, ${exact} FROM v_${name} ORDER BY id`);
    const got = new Map(t.rows.map((r) => [r[0], r[1]]));
    check(my.length === t.rows.length, `v_${name}: ${my.length} rows in MySQL, ${t.rows.length} in the file`);
    for (const [id, m] of my) {
      const v = got.get(Number(id));
      const ok = name === "float" || name === "double" ?
          typeof v === "number" && (Object.is(v, parseFloat(m)) || (v === 0 && parseFloat(m) === 0)) :
          normDec(v) === normDec(m);
      check(ok, `v_${name} id ${id}: MySQL ${m}, file ${JSON.stringify(v)}`);
      compared++;
    }
  }
  check(compared >= 10000, `${compared} numeric values compared`);
  const floatRow = (id) => new Map(tables.v_float.rows.map((r) => [r[0], r[1]])).get(id);
  check(
      floatRow(1) === 1234567 && floatRow(2) === 8388607 && floatRow(4) === FLT_MAX,
      `FLOAT 1234567, 8388607 and the maximum arrive exact: ${floatRow(1)} ${floatRow(2)} ${floatRow(4)}`);

  // Dates: the value Access holds, and the changes the summary counts.
  const jetEpoch = Date.UTC(1899, 11, 30);
  const dayMs = 86400000;
  const timeMs = (t) => {
    const neg = t.startsWith("-");
    const [h, m, s] = t.replace("-", "").split(":");
    const ms = ((+h * 60 + +m) * 60) * 1000 + Math.trunc(parseFloat(s) * 1000 + 1e-6);
    const at = neg ? -ms : ms;
    const day = Math.floor(at / dayMs);
    return day >= 0 ? jetEpoch + at : jetEpoch + day * dayMs - (at - day * dayMs);
  };
  const isZero = (v) => /^\d{4}-(00-|\d\d-00)/.test(v);
  const byName = Object.fromEntries(summary.objects.map((o) => [o.name, o]));
  for (const [name, c] of Object.entries(dateClasses)) {
    const t = tables[`v_${name}`];
    if (!check(t, `v_${name} in the file`)) continue;
    const counts = {};
    const count = (kind, example) => {
      counts[kind] ??= {count: 0, example};
      counts[kind].count++;
    };
    c.values.forEach((v, i) => {
      const got = t.rows.find((r) => r[0] === i + 1)?.[1];
      const where = `v_${name} ${v}: file ${JSON.stringify(got)}`;
      if (v === null) return void check(got === null, where);
      if (isZero(v)) {
        count("zero date to NULL", v);
        return void check(got === null, where);
      }
      if (/\.\d{3}[1-9]|\.\d{4}[1-9]|\.\d{5}[1-9]/.test(v)) count("fraction cut to ms", v);
      let want;
      if (c.type.startsWith("time")) {
        count("time as date", v);
        want = timeMs(v);
      } else {
        want = Date.parse(v.slice(0, 23).replace(" ", "T") + (v.length > 10 ? "Z" : "T00:00:00Z"));
      }
      check(got && Date.parse(got.date) === want, where);
    });
    const transforms = byName[`v_${name}`]?.transforms ?? [];
    for (const [kind, want] of Object.entries(counts)) {
      const found = transforms.find((x) => x.column === "v" && x.kind === kind);
      check(
          found && found.count === want.count && found.example === want.example,
          `v_${name}: summary counts ${want.count} "${kind}" (e.g. ${want.example}): ${JSON.stringify(transforms)}`);
    }
    const valueKinds = transforms.filter((x) => x.kind !== "made nullable").length;
    check(valueKinds === Object.keys(counts).length, `v_${name}: no other transforms: ${JSON.stringify(transforms)}`);
  }
  // The NOT NULL column holding zero dates is created nullable, and says so.
  const nn = byName.v_nn?.transforms?.find((x) => x.kind === "made nullable");
  check(nn && nn.column === "v" && nn.count === 2 && nn.example === "0000-00-00", `v_nn made nullable: ${JSON.stringify(nn)}`);
  check(tables.v_nn?.columns.find((col) => col.name === "v")?.nullable === true, "v_nn.v nullable in the file");
  const nz = byName.v_nz;
  const nzMade = nz?.transforms?.find((x) => x.kind === "made nullable");
  check(nzMade && nzMade.count === 2 && nzMade.example === "", `v_nz made nullable: ${JSON.stringify(nz)}`);
  check(nz?.read === 4 && nz?.written === 4, `v_nz rows counted once: ${JSON.stringify(nz)}`);
  // The readers do not show "Required": the table scripts do.
  const ddl = (name) => readFileSync(join(work, "values.data_cache", name), "utf8");
  check(/`v` DATETIME\s*\n/.test(ddl("v_nz")), `v_nz.v created nullable: ${ddl("v_nz")}`);
  check(/`v` DATETIME not null/.test(ddl("v_nd")), `v_nd.v stays required: ${ddl("v_nd")}`);
  const log = run.stdout.toString();
  check(log.includes("[v_d] changed for Access: `v`: zero date to NULL, 3 values (e.g. '0000-00-00')"), "zero dates in the log");

  // --zero-dates refuse: today's behaviour, with the source value named.
  const refused = migrate(["--target", join(work, "refuse.mdb"), "--tables", "v_dt", "--zero-dates", "refuse"]);
  check(refused.status === 1, `refuse run exit ${refused.status}`);
  const rejectsFile = join(work, "refuse.data_cache", "v_dt.rejects");
  const rejects = existsSync(rejectsFile) ? readFileSync(rejectsFile, "utf8") : "";
  check(
      rejects.includes("the zero date '0000-00-00 00:00:00.000000'") && rejects.includes(",'0000-00-00 00:00:00.000000')"),
      `rejects carry the source value: ${rejects}`);
}

// ---- CLI input and reporting -----------------------------------------------------------------

function careless() {
  runSql(
      "CREATE TABLE actor (id int PRIMARY KEY); CREATE TABLE film (id int PRIMARY KEY);" +
      "CREATE TABLE category (id int PRIMARY KEY); INSERT INTO actor VALUES (1);" +
      "CREATE VIEW v_actor AS SELECT id FROM actor;");
  // A target named like a summary, as the careless do.
  const target = join(work, "careless.csv");
  const good = migrate(["--target", target, "--tables", "actor, film , category", "--views", "v_actor"]);
  check(good.status === 0, `blanks around commas: exit ${good.status} ${good.stderr}`);
  const tables = dump(target)?.tables.map((t) => t.name).sort().join(",");
  check(tables === "actor,category,film", `every table named is migrated: ${tables}`);
  const before = readFileSync(target);
  const lower = rows("SELECT @@lower_case_table_names")[0][0];
  const cfgFolder = join(work, "cfg-folder");
  mkdirSync(cfgFolder);
  const cases = [
    [["--target", target, "--summary", target], /--target and --summary name the same file/],
    [["--target", target, "--summary", join(work, ".", "careless.csv")], /--target and --summary name the same file/],
    [["--target", target, "--log", target], /name the same file/],
    [
      ["--target", join(work, "a.mdb"), "--summary", join(work, "s.json"), "--log", join(work, ".", "s.json")],
      /name the same file/
    ],
    [["--target", join(work, "n1.mdb"), "--tables", "nosuchtable"], /table nosuchtable/],
    [["--target", join(work, "n2.mdb"), "--tables", "actor,nosuch1, nosuch2"], /table nosuch1, table nosuch2/],
    [["--target", join(work, "n3.mdb"), "--views", "nosuchview"], /view nosuchview/],
    [["--target", join(work, "n4.mdb"), "--tables", "v_actor"], /table v_actor \(it is a view\)/],
    [["--target", join(work, "n5.mdb"), "--conditions", join(work, "missing.cfg")], /does not exist/],
    [["--target", join(work, "n6.mdb"), "--conditions", cfgFolder], /is not a file/],
  ];
  if (lower === "0") cases.push([["--target", join(work, "n7.mdb"), "--tables", "Actor"], /did you mean actor/]);
  for (const [args, message] of cases) {
    const r = migrate(args);
    const err = r.stderr.toString();
    check(r.status === 2 && message.test(err), `${args.join(" ")}: exit ${r.status}, ${err.trim()}`);
    const t = args[args.indexOf("--target") + 1];
    if (t !== target) check(!existsSync(t) && !existsSync(t.replace(/\.mdb$/, ".data_cache")), `${t}: nothing created`);
  }
  check(readFileSync(target).equals(before), "the migrated file is untouched by the refused runs");
  if (lower !== "0") console.log(`NOTE: lower_case_table_names=${lower}: names match without regard to case`);

  // Misleading errors: a database that does not exist, targets that are not Access files.
  const nodbLog = join(work, "nodb.log");
  const nodb = migrate(["--target", join(work, "nodb.mdb"), "--log", nodbLog], "no_such_db_" + process.pid);
  check(
      existsSync(nodbLog) && /Unknown database/.test(readFileSync(nodbLog, "utf8")),
      "the --log file names the connection failure");
  const nodbErr = nodb.stderr.toString();
  check(
      nodb.status === 2 && /Unknown database/.test(nodbErr) && !/No appropriate Config/.test(nodbErr),
      `missing database: exit ${nodb.status}, ${nodbErr.trim()}`);
  // A log file that cannot be written is a failure, not a silent loss.
  const full = migrate(["--target", join(work, "full.mdb"), "--tables", "actor", "--log", "/dev/full"]);
  check(
      full.status === 1 && /writing the log file failed/.test(full.stderr.toString()),
      `--log /dev/full: exit ${full.status}, ${full.stderr.toString().trim()}`);
  const junk = {
    "text.mdb": Buffer.from("hello\n"),
    "image.mdb": Buffer.concat([Buffer.from("89504e470d0a1a0a", "hex"), Buffer.alloc(500)]),
    "empty.mdb": Buffer.alloc(0),
    "cut.mdb": before.subarray(0, 2048),
    "noise.mdb": Buffer.from(Array.from({length: 9000}, () => random32() & 255)),
  };
  for (const [name, bytes] of Object.entries(junk)) writeFileSync(join(work, name), bytes);
  mkdirSync(join(work, "folder.mdb"));
  for (const name of [...Object.keys(junk), "folder.mdb"]) {
    const r = migrate(["--target", join(work, name)]);
    const err = r.stderr.toString();
    check(
        r.status === 2 && err.includes(`${join(work, name)} is not an Access database: `) && err.trim().split("\n").length === 1,
        `${name}: exit ${r.status}, ${err.trim()}`);
    check(!r.stdout.toString().includes("No Connection!"), `${name}: no "No Connection!" lines`);
    check(!existsSync(join(work, name.replace(/\.mdb$/, ".data_cache"))), `${name}: no data_cache folder`);
    if (junk[name]) check(readFileSync(join(work, name)).equals(junk[name]), `${name} is left as it was`);
  }
}

// ---- signals ----------------------------------------------------------------------------------

// An employees-shaped database, small enough for CI.
function employees(database, count) {
  execFileSync(
      "mariadb", [...client, "-e", `DROP DATABASE IF EXISTS \`${database}\`; CREATE DATABASE \`${database}\``], {env: mysqlEnv});
  execFileSync("mariadb", [...client, database], {
    env: mysqlEnv,
    input: `
    CREATE TABLE departments (dept_no char(4) PRIMARY KEY, dept_name varchar(40) NOT NULL UNIQUE);
    CREATE TABLE employees (emp_no int PRIMARY KEY, birth_date date NOT NULL, first_name varchar(14) NOT NULL,
      last_name varchar(16) NOT NULL, gender enum('M','F') NOT NULL, hire_date date NOT NULL);
    CREATE TABLE dept_emp (emp_no int, dept_no char(4), from_date date NOT NULL, to_date date NOT NULL,
      PRIMARY KEY (emp_no, dept_no), FOREIGN KEY (emp_no) REFERENCES employees (emp_no),
      FOREIGN KEY (dept_no) REFERENCES departments (dept_no));
    CREATE TABLE titles (emp_no int, title varchar(50), from_date date, to_date date,
      PRIMARY KEY (emp_no, title, from_date), FOREIGN KEY (emp_no) REFERENCES employees (emp_no));
    CREATE TABLE salaries (emp_no int, salary int NOT NULL, from_date date, to_date date NOT NULL,
      PRIMARY KEY (emp_no, from_date), FOREIGN KEY (emp_no) REFERENCES employees (emp_no));
    INSERT INTO departments SELECT CONCAT('d', LPAD(seq, 3, '0')), CONCAT('Department ', seq) FROM seq_1_to_9;
    INSERT INTO employees SELECT seq, '1960-01-01' + INTERVAL seq % 5000 DAY, CONCAT('F', seq), CONCAT('L', seq),
      IF(seq % 2, 'M', 'F'), '1990-01-01' + INTERVAL seq % 3000 DAY FROM seq_1_to_${count};
    INSERT INTO dept_emp SELECT seq, CONCAT('d', LPAD(seq % 9 + 1, 3, '0')), '1990-01-01', '9999-01-01' FROM seq_1_to_${count};
    INSERT INTO titles SELECT seq, 'Engineer', '1990-01-01', NULL FROM seq_1_to_${count};
    INSERT INTO salaries SELECT e.seq, 40000 + y.seq * 1000, '1990-01-01' + INTERVAL y.seq YEAR,
      '1991-01-01' + INTERVAL y.seq YEAR FROM seq_1_to_${count} e, seq_0_to_7 y;
    CREATE VIEW v_current AS SELECT emp_no, salary FROM salaries WHERE to_date > '2020-01-01';
    CREATE VIEW v_names AS SELECT emp_no, first_name, last_name FROM employees;
  `
  });
}

function runWithSignals(database, target, signals, delayMs) {
  return new Promise((resolve) => {
    const summary = target.replace(/\.mdb$/, ".json");
    const child = spawn(
        velquin, ["migrate", "--source", sourceUrl(database), "--target", target, "--summary", summary],
        {env: mysqlEnv, stdio: ["ignore", "pipe", "pipe"]});
    let out = "";
    child.stdout.on("data", (d) => {
      out += d;
    });
    child.stderr.on("data", (d) => {
      out += d;
    });
    let signalledAt = null;
    setTimeout(() => {
      if (child.exitCode !== null) return;
      signalledAt = Date.now();
      signals.forEach((s, i) => setTimeout(() => child.kill(s), i * 50));
    }, delayMs);
    child.on(
        "exit",
        (code, signal) => resolve({code, signal, out, summary, seconds: signalledAt ? (Date.now() - signalledAt) / 1000 : null}));
  });
}

async function signalsGroup() {
  const database = `${db}_emp`;
  employees(database, Number(env.VELQUIN_TEST_EMPLOYEES ?? 6000));
  try {
    const objects = ["departments", "employees", "dept_emp", "titles", "salaries", "v_current", "v_names"];
    // A whole run first, for its length.
    const started = Date.now();
    const whole = await runWithSignals(database, join(work, "whole.mdb"), [], 1e9);
    const length = Date.now() - started;
    console.log(`whole employees run: ${length} ms`);
    check(whole.code === 0, `whole employees run: exit ${whole.code}: ${whole.out.slice(-500)}`);
    const moments = Array.from({length: 10}, () => Math.floor(50 + random() * Math.max(100, length * 0.5)));
    let signalled = 0;
    const runs = [
      ...moments.map((m) => ["SIGINT", ["SIGINT"], m]), ["SIGTERM", ["SIGTERM"], moments[0]],
      ["twice", ["SIGINT", "SIGINT"], moments[1]]
    ];
    let index = 0;
    for (let [name, signals, at] of runs) {
      const target = join(work, `stop${index++}.mdb`);
      // A run on a machine less busy than the timing run may end first, or finish its last
      // object in the moment the signal is on its way: then it must be whole and say so, and
      // the stop is tried again earlier (at least 50 ms in, once the handlers are set).
      let r;
      for (let attempt = 0; attempt < 3; attempt++, at = Math.max(50, Math.floor(at / 2))) {
        rmSync(target, {force: true});
        rmSync(target.replace(/\.mdb$/, ".json"), {force: true});
        r = await runWithSignals(database, target, signals, at);
        if (r.code !== 0) break;
        const done = existsSync(r.summary) ? JSON.parse(readFileSync(r.summary, "utf8")) : {objects: []};
        check(
            objects.every((o) => done.objects.some((d) => d.name === o && d.status === "migrated")),
            `${name} at ${at} ms: exit 0 only for a whole run: ${r.out.slice(-400)}`);
      }
      if (r.code === 0) continue;
      signalled++;
      const what = `${name} at ${at} ms of ${length} ms`;
      const want = name === "SIGTERM" ? 143 : 130;
      check(r.code === want, `${what}: exit ${r.code} (signal ${r.signal}), expected ${want}: ${r.out.slice(-400)}`);
      check(r.seconds !== null && r.seconds <= 2, `${what}: ended ${r.seconds} s after the signal`);
      check(
          !/Data Converting Terminaled![\s\S]*convertion completed SUCCESSFULLY!/.test(r.out),
          `${what}: no success line after the stop`);
      if (existsSync(target)) {
        check(dump(target) !== null, `${what}: mdb-reader reads the file`);
        check(spawnSync("mdb-tables", [target]).status === 0, `${what}: mdbtools reads the file`);
      }
      if (name === "twice") continue;  // ends at once: no summary promised
      const summary = existsSync(r.summary) ? JSON.parse(readFileSync(r.summary, "utf8")) : {objects: []};
      const names = summary.objects.map((o) => o.name);
      check(objects.every((o) => names.includes(o)), `${what}: every object in the summary: ${names}`);
      const statuses = summary.objects.map((o) => o.status);
      check(statuses.every((s) => ["migrated", "stopped", "not started"].includes(s)), `${what}: statuses ${statuses}`);
      check(summary.objects.filter((o) => o.status === "stopped").length <= 1, `${what}: at most one stopped object`);
      const afterStop = summary.objects.slice(summary.objects.findIndex((o) => o.status !== "migrated"));
      check(
          afterStop.slice(1).every((o) => o.status === "not started"),
          `${what}: everything after the stop not started: ${statuses}`);
    }
    check(signalled >= 9, `${signalled} of 12 runs were still going at their moment`);
  } finally {
    try {
      execFileSync("mariadb", [...client, "-e", `DROP DATABASE IF EXISTS \`${database}\``], {env: mysqlEnv});
    } catch {}
  }
}

if (rest[0] === "--make-employees") {
  // By hand: node honest_run.mjs VELQUIN SOURCE_DIR --make-employees DATABASE COUNT
  employees(rest[1], Number(rest[2]));
  execFileSync("mariadb", [...client, "-e", `DROP DATABASE IF EXISTS \`${db}\``], {env: mysqlEnv});
  rmSync(work, {recursive: true, force: true});
  process.exit(0);
}
try {
  if (!only || only === "values") valuesGroup();
  if (!only || only === "cli") careless();
  if (!only || only === "signals") await signalsGroup();
} finally {
  try {
    execFileSync("mariadb", [...client, "-e", `DROP DATABASE IF EXISTS \`${db}\``], {env: mysqlEnv});
  } catch {}
  if (failures === 0)
    rmSync(work, {recursive: true, force: true});
  else
    console.log(`kept for inspection: ${work} (VELQUIN_TEST_SEED=${seed})`);
}
console.log(failures === 0 ? "PASS" : `${failures} failures (VELQUIN_TEST_SEED=${seed})`);
process.exit(failures === 0 ? 0 : 1);
