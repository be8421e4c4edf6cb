// End to end: `velquin migrate --plan` on a database of traps lists every
// rename with its reason, the columns whose values change on the way, the
// views Access cannot express and the projected size; it writes nothing; a
// projection over the size limit ends with exit 2; and a real run with
// --plan-json does what the plan said (no differences in its summary).
//
//   node plan.mjs VELQUIN_BINARY SOURCE_DIR
// Exit 0 pass, 1 fail, 77 skipped (no server).
import {execFileSync, spawnSync} from "node:child_process";
import {existsSync, mkdtempSync, readFileSync, rmSync} from "node:fs";
import {tmpdir} from "node:os";
import {join} from "node:path";

const [velquin] = process.argv.slice(2);
const env = process.env;
if (!env.VELQUIN_MYSQL_HOST || !env.VELQUIN_MYSQL_PORT || !env.VELQUIN_MYSQL_USER) {
  console.log("SKIP: VELQUIN_MYSQL_* not set (scripts/mariadb-private)");
  process.exit(77);
}
let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    console.log("FAIL: " + what);
  }
}
const db = `velquin_plan_${process.pid}`;
const mysqlEnv = {...env, MYSQL_PWD: env.VELQUIN_MYSQL_PASSWORD ?? ""};
const client = [
  "--no-defaults", "--default-character-set=utf8mb4", "-h", env.VELQUIN_MYSQL_HOST, "-P", env.VELQUIN_MYSQL_PORT,
  "-u", env.VELQUIN_MYSQL_USER
];
const source = `mysql://${env.VELQUIN_MYSQL_USER}@${env.VELQUIN_MYSQL_HOST}:${env.VELQUIN_MYSQL_PORT}/${db}`;
const work = mkdtempSync(join(tmpdir(), "velquin-plan-"));
const migrate = (...args) => {
  const r = spawnSync(velquin, ["migrate", "--source", source, ...args], {env: mysqlEnv, maxBuffer: 1 << 26});
  return {status: r.status, out: r.stdout.toString(), err: r.stderr.toString()};
};

try {
  execFileSync("mariadb", [...client, "-e", `CREATE DATABASE ${db}`], {env: mysqlEnv});
  execFileSync("mariadb", [...client, "-D", db], {
    env: mysqlEnv,
    input: `
      SET SESSION sql_mode = '';
      CREATE TABLE CaseTest (id int PRIMARY KEY, \`a.b\` int, \`select\` varchar(10));
      CREATE TABLE casetest (id int PRIMARY KEY);
      CREATE TABLE \`what!now\` (id int PRIMARY KEY);
      CREATE TABLE vals (id int PRIMARY KEY, born date NOT NULL, note varchar(400), big bigint unsigned,
        wide decimal(40,2), doc json, tags set('a','b'), spot geometry);
      INSERT INTO CaseTest VALUES (1, 2, 'x');
      INSERT INTO vals VALUES (1, '0000-00-00', REPEAT('n', 300), 18446744073709551615, 1.5, '{}', 'a', POINT(1, 2)),
                              (2, '2020-01-01', 'short', 1, 2, NULL, '', NULL);
      CREATE VIEW grouped AS SELECT GROUP_CONCAT(note) AS notes FROM vals;
      CREATE VIEW simple AS SELECT id, note FROM vals;
    `
  });
  const target = join(work, "t.mdb");
  const plan = migrate("--target", target, "--plan", "--plan-json", join(work, "plan.json"));
  check(plan.status === 0, `--plan exits ${plan.status}: ${plan.err}`);
  check(!existsSync(target), "--plan writes no file");
  const json = existsSync(join(work, "plan.json")) ? JSON.parse(readFileSync(join(work, "plan.json"), "utf8")) : null;
  check(json !== null, "--plan-json writes the plan");
  const text = plan.out;
  // Renames with their reasons: a case-only clash, a dot, a mark Access refuses.
  for (const [what, pattern] of [
         ["the case-only clash", /casetest.*->/i], ["the dot in a column name", /a\.b.*->.*a_b/],
         ["the exclamation mark", /what!now.*->/]]) {
    check(pattern.test(json?.renamed.join("\n") ?? ""), `${what} is in the plan's renames: ${json?.renamed}`);
  }
  const columns = Object.fromEntries(
      (json?.tables ?? []).flatMap((t) => t.columns.map((c) => [`${t.name}.${c.name}`, c])));
  check(/zero date/i.test(columns["vals.born"]?.note), `zero dates are planned: ${JSON.stringify(columns["vals.born"])}`);
  check(/MEMO|LONGTEXT/i.test(columns["vals.note"]?.access_type), `text over 255 becomes MEMO: ${JSON.stringify(columns["vals.note"])}`);
  for (const c of ["vals.big", "vals.wide", "vals.doc", "vals.tags", "vals.spot"]) {
    check(columns[c] && (columns[c].note !== "" || columns[c].access_type !== columns[c].declared),
          `${c} says what it becomes: ${JSON.stringify(columns[c])}`);
  }
  const views = Object.fromEntries((json?.views ?? []).map((v) => [v.name, v]));
  check(views.grouped?.query === false && /GROUP_CONCAT/.test(views.grouped?.reason), "the GROUP_CONCAT view is no query");
  check(views.simple?.query === true, "the plain view is a query");
  check(/Projected size of the \.mdb: [\d.]+ MB/.test(text) && /Estimated time: \d+ s/.test(text),
        `size and time are printed: ${text.slice(-300)}`);

  // Over the limit: exit 2, nothing written, the largest tables named.
  const over = migrate("--target", target, "--plan-size-limit", "1000");
  check(over.status === 2 && !existsSync(target), `a run over the size limit stops with exit 2: ${over.status}`);
  check(/OVER THE LIMIT.*largest tables: /.test(over.out) && /--tables/.test(over.out), `the split is suggested: ${over.out}`);

  // A real run does what its plan said.
  const summary = join(work, "s.json");
  const run = migrate("--target", target, "--plan-json", join(work, "plan2.json"), "--summary", summary);
  check(run.status === 1, `the run exits 1 (the GROUP_CONCAT view): ${run.status} ${run.err}`);
  const done = existsSync(summary) ? JSON.parse(readFileSync(summary, "utf8")) : {};
  check(Array.isArray(done.plan_differences) && done.plan_differences.length === 0,
        `the run differs from its plan: ${JSON.stringify(done.plan_differences)}`);
  check(JSON.stringify(done.renamed) === JSON.stringify(json?.renamed), "the run renames what the plan said");
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
