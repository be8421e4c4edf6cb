#!/usr/bin/env bash
# scripts/check-layers over a small tree: it passes when every include
# points down, and fails, naming the file and line, on each planted
# violation (a module including a level above it; cli including migrate/).
set -euo pipefail
check="$1/scripts/check-layers"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{base,jet,db,migrate,app,cli}
echo '#include "base/status.h"' >"$tree/jet/a.cc"
echo '#include "jet/database.h"' >"$tree/db/a.cc"
echo '#include "db/session.h"' >"$tree/migrate/a.cc"
echo '#include "migrate/pipeline.h"' >"$tree/app/a.cc"
printf '#include "app/migration_run.h"\n#include "db/session.h"\n' >"$tree/cli/a.cc"
bash "$check" "$tree" >/dev/null || { echo "a sound tree was refused"; exit 1; }

expect_refused() {  # FILE LINE-TEXT WANTED-OUTPUT
  echo "$2" >>"$tree/$1"
  if out=$(bash "$check" "$tree" 2>&1); then
    echo "not refused: $2 in $1"
    exit 1
  fi
  grep -qF "$3" <<<"$out" || { echo "refused without naming it: $out"; exit 1; }
  sed -i '$d' "$tree/$1"
}
expect_refused cli/a.cc '#include "migrate/plan.h"' "cli/a.cc:3: cli may not include migrate"
expect_refused jet/a.cc '#include "db/session.h"' "jet/a.cc:2: jet (level 1) includes db (level 2)"
expect_refused migrate/a.cc '#include "app/main_controller.h"' "migrate/a.cc:2: migrate (level 3)"
echo "check-layers refuses every planted include"
