// End to end: `velquin migrate --resume` after a run killed (SIGKILL) at
// three points of an employees-shaped migration ends with exit 0, every
// table verified equal, and a file whose tables, relationships and queries
// are those of an uninterrupted run.
//
//   node resume.mjs VELQUIN_BINARY SOURCE_DIR
// VELQUIN_TEST_EMPLOYEES sets the size (20000 employees, 8 salaries each).
// Exit 0 pass, 1 fail, 77 skipped (no server, mdbtools or mdb-reader).
import {execFileSync, spawn, spawnSync} from "node:child_process";
import {existsSync, mkdtempSync, readFileSync, rmSync} from "node:fs";
import {tmpdir} from "node:os";
import {join} from "node:path";

const [velquin, sourceDir] = process.argv.slice(2);
const env = process.env;
if (!env.VELQUIN_MYSQL_HOST || !env.VELQUIN_MYSQL_PORT || !env.VELQUIN_MYSQL_USER) {
  console.log("SKIP: VELQUIN_MYSQL_* not set (scripts/mariadb-private)");
  process.exit(77);
}
if (!existsSync(join(sourceDir, "tests/readers/node_modules/mdb-reader")) ||
    spawnSync("mdb-schema", ["--help"]).error) {
  console.log("SKIP: mdb-reader or mdbtools not installed");
  process.exit(77);
}
let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    console.log("FAIL: " + what);
  }
}

const db = `velquin_resume_${process.pid}`;
const mysqlEnv = {...env, MYSQL_PWD: env.VELQUIN_MYSQL_PASSWORD ?? ""};
const client = [
  "--no-defaults", "-h", env.VELQUIN_MYSQL_HOST, "-P", env.VELQUIN_MYSQL_PORT, "-u", env.VELQUIN_MYSQL_USER
];
const source = `mysql://${env.VELQUIN_MYSQL_USER}@${env.VELQUIN_MYSQL_HOST}:${env.VELQUIN_MYSQL_PORT}/${db}`;
const work = mkdtempSync(join(tmpdir(), "velquin-resume-"));
const tool = (cmd, args) => execFileSync(cmd, args, {maxBuffer: 1 << 28}).toString();
// What the readers see: every table's rows (mdb-reader), the schema with
// its relationships and the queries (mdbtools).
function contents(file) {
  const r = spawnSync("node", [join(sourceDir, "tests/readers/dump.js"), file], {maxBuffer: 1 << 30});
  const schema = tool("mdb-schema", [file, "mysql"]).split("\n").sort().join("\n");
  const queries = tool("mdb-queries", ["-L", "-1", file]).split("\n").sort().join("\n");
  return (r.status === 0 ? r.stdout.toString() : "unreadable") + schema + queries;
}
function migrate(target, extra, killAfterMs) {
  return new Promise((resolve) => {
    const summary = target.replace(/\.mdb$/, `${extra.length ? "-resumed" : ""}.json`);
    const child = spawn(velquin, ["migrate", "--source", source, "--target", target, "--summary", summary, ...extra],
                        {env: mysqlEnv, stdio: ["ignore", "pipe", "pipe"]});
    let out = "";
    child.stdout.on("data", (d) => (out += d));
    child.stderr.on("data", (d) => (out += d));
    if (killAfterMs !== undefined) setTimeout(() => child.kill("SIGKILL"), killAfterMs);
    child.on("exit", (code, signal) => resolve({
      code, signal, out,
      objects: existsSync(summary) ? JSON.parse(readFileSync(summary, "utf8")).objects : [],
    }));
  });
}

try {
  execFileSync("node", [join(sourceDir, "tests/e2e/honest_run.mjs"), velquin, sourceDir, "--make-employees", db,
                        env.VELQUIN_TEST_EMPLOYEES ?? "20000"], {env});
  const whole = join(work, "whole.mdb");
  const started = Date.now();
  const reference = await migrate(whole, []);
  const length = Date.now() - started;
  check(reference.code === 0, `the uninterrupted run exits ${reference.code}: ${reference.out.slice(-400)}`);
  const wanted = contents(whole);
  let resumed = 0;
  for (const share of [0.25, 0.5, 0.85]) {
    const target = join(work, `killed${share}.mdb`);
    const killed = await migrate(target, [], Math.floor(length * share));
    const what = `killed at ${Math.round(share * 100)} % of ${length} ms`;
    if (killed.signal !== "SIGKILL") {
      console.log(`${what}: the run ended first (exit ${killed.code})`);
      continue;
    }
    if (!existsSync(target)) continue;  // killed before the file was made: nothing to resume
    resumed++;
    const r = await migrate(target, ["--resume", "--verify"]);
    check(r.code === 0, `${what}: --resume --verify exits ${r.code}: ${r.out.slice(-600)}`);
    check(r.objects.some((o) => o.status === "reused" || o.status === "migrated"), `${what}: a summary`);
    for (const o of r.objects.filter((o) => o.kind === "table")) {
      check(/^equal: /.test(o.verified), `${what}: ${o.name} (${o.status}) verified "${o.verified}"`);
    }
    check(contents(target) === wanted, `${what}: the resumed file holds what the uninterrupted run's holds`);
  }
  check(resumed >= 2, `only ${resumed} of 3 runs were killed with a file to resume`);
} catch (e) {
  check(false, String(e.stack ?? e));
} finally {
  try {
    execFileSync("mariadb", [...client, "-e", `DROP DATABASE IF EXISTS ${db}`], {env: mysqlEnv});
  } catch {}
  if (failures === 0) rmSync(work, {recursive: true, force: true});
  else console.log(`files kept in ${work}`);
}
process.exit(failures ? 1 : 0);
