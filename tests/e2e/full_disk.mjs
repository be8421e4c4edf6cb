// End to end: a whole schema (data/sakila_like.sql, grown to a few thousand
// rows per table) migrated onto a disk that fills at many points of the run.
// After each: the run is a failure that names the full disk (never exit 0,
// never a row counted as refused for it); the file, when there is one, opens
// in mdb-reader and mdbtools; every table the summary lists holds in the
// file exactly the rows the summary says were written; no journal is left.
// Then the same migration with room again (--replace) must give the file a
// whole run gives.
//
//   node full_disk.mjs VELQUIN_BINARY SOURCE_DIR PRELOAD_LIBRARY
// VELQUIN_TEST_SEED fixes the points; VELQUIN_DISK_POINTS sets how many (16).
// Exit 0 pass, 1 fail, 77 skipped (no server or no reader).
import {execFileSync, spawnSync} from "node:child_process";
import {existsSync, mkdtempSync, readFileSync, rmSync} from "node:fs";
import {tmpdir} from "node:os";
import {join} from "node:path";

const [velquin, sourceDir, preload] = process.argv.slice(2);
const env = process.env;
if (!env.VELQUIN_MYSQL_HOST || !env.VELQUIN_MYSQL_PORT || !env.VELQUIN_MYSQL_USER) {
  console.log("SKIP: VELQUIN_MYSQL_* not set (scripts/mariadb-private)");
  process.exit(77);
}
if (!existsSync(join(sourceDir, "tests/readers/node_modules/mdb-reader")) ||
    spawnSync("mdb-tables", ["--help"]).error) {
  console.log("SKIP: mdb-reader or mdbtools not installed");
  process.exit(77);
}

const seed = Number(env.VELQUIN_TEST_SEED ?? Date.now() % 2147483647);
let state = seed >>> 0;
function random() {  // mulberry32
  state = (state + 0x6d2b79f5) >>> 0;
  let t = state;
  t = Math.imul(t ^ (t >>> 15), t | 1);
  t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
  return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
}
let failures = 0;
function check(ok, what) {
  if (!ok && ++failures <= 40) console.log("FAIL: " + what);
  return ok;
}

const db = `velquin_disk_${process.pid}`;
const mysqlEnv = {...env, MYSQL_PWD: env.VELQUIN_MYSQL_PASSWORD ?? ""};
const client = [
  "--no-defaults", "--default-character-set=utf8mb4", "-h", env.VELQUIN_MYSQL_HOST, "-P", env.VELQUIN_MYSQL_PORT,
  "-u", env.VELQUIN_MYSQL_USER
];
const work = mkdtempSync(join(tmpdir(), "velquin-disk-"));

// The schema with more rows: enough pages that the disk fills inside bulk
// loads, index builds, relationship checks and view creation alike.
const grow = `
  INSERT INTO actor (first_name, last_name) SELECT CONCAT('F', seq), CONCAT('L', seq % 97) FROM seq_1_to_3000;
  INSERT INTO film (title, description, language_id, rental_rate, length)
    SELECT CONCAT('Film ', seq), REPEAT(CONCAT('story ', seq, ' '), 1 + seq % 40), 1 + seq % 2, 0.99 + seq % 5, 60 + seq % 90
    FROM seq_1_to_1500;
  INSERT IGNORE INTO film_actor (actor_id, film_id)
    SELECT a.actor_id, f.film_id FROM actor a JOIN film f ON (a.actor_id * 7 + f.film_id) % 211 = 0;
  INSERT INTO rental (rental_date, inventory_id, customer_id, return_date, staff_id)
    SELECT '2005-05-24 22:53:30' + INTERVAL seq MINUTE, 1 + seq % 4, 1, NULL, 1 + seq % 2 FROM seq_1_to_6000;
`;

function migrate(target, extra, bytes) {
  const summary = target.replace(/\.mdb$/, ".json");
  const report = target.replace(/\.mdb$/, ".bytes");
  const run = spawnSync(velquin, ["migrate", "--source",
    `mysql://${env.VELQUIN_MYSQL_USER}@${env.VELQUIN_MYSQL_HOST}:${env.VELQUIN_MYSQL_PORT}/${db}`,
    "--target", target, "--summary", summary, ...extra], {
    env: {...mysqlEnv, LD_PRELOAD: preload, VELQUIN_DISK_FILE: target, VELQUIN_DISK_BYTES: String(bytes),
          VELQUIN_DISK_REPORT: report},
    maxBuffer: 1 << 26
  });
  return {
    status: run.status,
    out: run.stdout.toString() + run.stderr.toString(),
    objects: existsSync(summary) ? JSON.parse(readFileSync(summary, "utf8")).objects : null,
    peak: existsSync(report) ? Number(readFileSync(report, "utf8")) : 0,
  };
}
// The file as mdb-reader sees it: {table: rows}, or null when it cannot read it.
function read(file) {
  const r = spawnSync("node", [join(sourceDir, "tests/readers/dump.js"), file], {maxBuffer: 1 << 30});
  if (r.status !== 0) return null;
  return Object.fromEntries(JSON.parse(r.stdout.toString()).tables.map((t) => [t.name, t.rows]));
}

try {
  execFileSync("mariadb", [...client, "-e", `CREATE DATABASE ${db}`], {env: mysqlEnv});
  execFileSync("mariadb", [...client, "-D", db], {
    env: mysqlEnv,
    input: readFileSync(join(sourceDir, "tests/e2e/data/sakila_like.sql"), "utf8") + grow
  });

  const whole = join(work, "whole.mdb");
  const reference = migrate(whole, [], "18446744073709551615");
  check(reference.objects !== null, `a whole run writes its summary: ${reference.out.slice(-300)}`);
  const wanted = read(whole);
  check(wanted !== null, "mdb-reader reads the whole run's file");
  console.log(`whole run: exit ${reference.status}, ${reference.peak} bytes at most`);
  if (!reference.objects || !wanted || reference.peak === 0) throw new Error("no reference run");

  const points = Number(env.VELQUIN_DISK_POINTS ?? 16);
  let full = 0;
  for (let i = 0; i < points; i++) {
    // Spread over the run, each point moved by up to half a step.
    const bytes = Math.max(0, Math.floor(reference.peak * (i + 0.5 + (random() - 0.5)) / points));
    const what = `disk of ${bytes} bytes`;
    const target = join(work, `full${i}.mdb`);
    const r = migrate(target, [], bytes);
    if (r.status === reference.status && r.objects &&
        JSON.stringify(r.objects.map((o) => [o.name, o.written])) ===
            JSON.stringify(reference.objects.map((o) => [o.name, o.written]))) {
      continue;  // the journal's high-water mark was not reached by the file alone
    }
    full++;
    check(r.status !== 0, `${what}: a run that hit a full disk exits ${r.status}`);
    check(/No space left on device/.test(r.out), `${what}: the output names the full disk: ${r.out.slice(-300)}`);
    check(!existsSync(target + "-journal"), `${what}: no journal left after the run`);
    if (existsSync(target) && readFileSync(target).length > 0) {
      const got = read(target);
      if (check(got !== null, `${what}: mdb-reader reads the file`)) {
        for (const o of r.objects ?? []) {
          if (o.kind !== "table") continue;
          const rows = got[o.access_name];
          check((rows ? rows.length : 0) === o.written,
                `${what}: ${o.name} (${o.status}): summary says ${o.written} written, the file holds ${rows ? rows.length : "no table"}`);
        }
      }
      check(spawnSync("mdb-tables", [target]).status === 0, `${what}: mdbtools reads the file`);
    }
    for (const o of r.objects ?? []) {
      const before = reference.objects.find((p) => p.name === o.name);
      check(o.refused <= (before ? before.refused : 0), `${what}: ${o.name}: ${o.refused} rows counted as refused`);
    }
    // With room again, the same migration into the same file gives a whole run's file.
    if (existsSync(target)) {
      const again = migrate(target, ["--replace"], "18446744073709551615");
      check(again.status === reference.status, `${what}: the run with room exits ${again.status}: ${again.out.slice(-300)}`);
      check(JSON.stringify(read(target)) === JSON.stringify(wanted), `${what}: the run with room gives a whole file`);
    }
  }
  check(full >= points / 2, `only ${full} of ${points} runs met a full disk`);
} catch (e) {
  check(false, String(e.stack ?? e));
} finally {
  try {
    execFileSync("mariadb", [...client, "-e", `DROP DATABASE IF EXISTS ${db}`], {env: mysqlEnv});
  } catch {}
  if (failures === 0) rmSync(work, {recursive: true, force: true});
  else console.log(`${failures} failures (VELQUIN_TEST_SEED=${seed}); files kept in ${work}`);
}
process.exit(failures ? 1 : 0);
