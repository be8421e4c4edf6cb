#!/usr/bin/env bash
# End to end on a small database of the employees sample's shape
# (scripts/gen-employees --scale 0.002): every table's rows arrive, the six
# relationships are created and enforced in the file (mdbtools lists them),
# no data file is written unless asked, and the JSON summary has the run's
# timings.
#
#   tests/e2e/employees.sh VELQUIN_BINARY SOURCE_DIR
# Exit 0 pass, 1 fail, 77 skipped (no server, no mdbtools).
set -euo pipefail
velquin=$1
cd "$2"
if [ -z "${VELQUIN_MYSQL_PORT:-}" ] || ! command -v mdb-sql >/dev/null; then
  echo "SKIP: needs the private MariaDB (VELQUIN_MYSQL_*) and mdbtools"
  exit 77
fi
db="velquin_emp_$$"
work=$(mktemp -d)
export MYSQL_PWD="$VELQUIN_MYSQL_PASSWORD"
client=(mariadb --no-defaults -N -h "$VELQUIN_MYSQL_HOST" -P "$VELQUIN_MYSQL_PORT" -u "$VELQUIN_MYSQL_USER")
trap '"${client[@]}" -e "DROP DATABASE IF EXISTS $db" || true; rm -rf "$work"' EXIT
fail=0
check() { if ! eval "$1"; then echo "FAIL: $2"; fail=1; fi; }

scripts/gen-employees --scale 0.002 --database "$db" >"$work/counts"
check '[ "$(awk "\$1 == \"salaries\" {print \$2}" "$work/counts")" -gt 5000 ]' "salaries generated"
code=0
"$velquin" migrate --source "mysql://$VELQUIN_MYSQL_USER@$VELQUIN_MYSQL_HOST:$VELQUIN_MYSQL_PORT/$db" \
  --target "$work/e.mdb" --summary "$work/s.json" --timings >"$work/log" 2>&1 || code=$?
check '[ "$code" = 0 ]' "velquin migrate exit code $code"
check '[ "$(grep -c "Create FOREIGN KEY SUCCESSFULLY" "$work/log")" = 6 ]' "six relationships created"
check 'grep -q "^  relationships salaries " "$work/log"' "--timings lists the relationships of salaries"
check 'grep -q "\"timings\": {\"total\": " "$work/s.json"' "timings in the JSON summary"
check '! ls "$work"/e.data_cache/*.data >/dev/null 2>&1' "no data files without --data-files"
for t in employees departments dept_manager dept_emp titles salaries; do
  want=$("${client[@]}" -e "SELECT COUNT(*) FROM $db.$t")
  got=$(mdb-export "$work/e.mdb" "$t" | tail -n +2 | wc -l)
  check '[ "$want" = "$got" ]' "$t: $want rows in MySQL, $got read by mdbtools"
done
rels=$(mdb-export "$work/e.mdb" MSysRelationships | tail -n +2 | wc -l)
check '[ "$rels" = 6 ]' "MSysRelationships holds 6 rows ($rels)"
[ "$fail" = 0 ] && echo "PASS"
exit "$fail"
