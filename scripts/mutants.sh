#!/usr/bin/env bash
# Mutation sample: how many deliberate faults does the test suite catch?
#
# Each line of scripts/mutants.txt names one single-line fault: a file, a text
# that occurs exactly once in it, its replacement and a short description
# (tab-separated). On a throwaway copy of the committed HEAD the script builds
# once, then for each fault: applies it, rebuilds, runs the tests, restores
# the file. A fault is "caught" when a test fails, "missed" when all pass,
# "invalid" when it does not build and "stale" when its text is not found
# exactly once (the code moved on); invalid and stale ones are not counted.
#
#   scripts/mutants.sh               every fault
#   scripts/mutants.sh --list        the numbered faults, nothing built
#   scripts/mutants.sh 7 12          faults 7 and 12 only
#   scripts/mutants.sh --limit 5     the first five
#
# Environment:
#   MUTANTS_TESTS    extra ctest arguments that narrow the suite, e.g. '-R Listing'
#   MUTANTS_TIMEOUT  seconds allowed per test (default 60)
#   MUTANTS_JOBS     parallel tests and compile jobs (default 2)
#   MUTANTS_LIST     the list to use (default: mutants.txt beside this script)
#   MUTANTS_REV      the commit to measure (default HEAD)
#
# Prints one line per fault and ends with "caught N of M (P%)". The exit
# status is 0 whatever was missed: this measures, it does not gate. It is
# non-zero only when the script itself fails (no copy, no build, or a suite
# that already fails without any fault).
set -euo pipefail
# Read whole before it runs: the tree may change under a long run.
{

here=$(cd "$(dirname "$0")" && pwd)
repo=$(git -C "$here" rev-parse --show-toplevel)
list=${MUTANTS_LIST:-$here/mutants.txt}
rev=${MUTANTS_REV:-HEAD}
timeout=${MUTANTS_TIMEOUT:-60}
jobs=${MUTANTS_JOBS:-2}
read -r -a narrow <<<"${MUTANTS_TESTS:-}"

usage() {
  echo "usage: $0 [--list] [--limit K] [NUMBER...]" >&2
  exit 2
}

listOnly=0
limit=0
picked=()
while (($#)); do
  case $1 in
    -l|--list) listOnly=1 ;;
    --limit) shift; [[ ${1:-} =~ ^[0-9]+$ ]] || usage; limit=$1 ;;
    -h|--help) usage ;;
    *) [[ $1 =~ ^[0-9]+$ ]] || usage; picked+=("$1") ;;
  esac
  shift
done

[[ -f $list ]] || { echo "mutants: no list at $list" >&2; exit 1; }

# The list as NUL-separated fields: path, find, replace, description.
parse_list() {
  python3 - "$list" <<'PY'
import sys
out = sys.stdout.buffer
for n, line in enumerate(open(sys.argv[1], encoding="utf-8"), 1):
    line = line.rstrip("\n")
    if not line.strip() or line.lstrip().startswith("#"):
        continue
    fields = line.split("\t")
    if len(fields) != 4 or not all(fields[:2]) or not fields[3]:
        sys.exit(f"mutants: line {n}: expected path, find, replace, description (tab-separated)")
    for f in fields:
        out.write(f.encode("utf-8") + b"\0")
PY
}

parse_list >/dev/null || exit 1
paths=() finds=() repls=() descs=()
fields=()
mapfile -d '' fields < <(parse_list)
((${#fields[@]} % 4 == 0)) || { echo "mutants: could not read $list" >&2; exit 1; }
for ((i = 0; i < ${#fields[@]}; i += 4)); do
  paths+=("${fields[i]}") finds+=("${fields[i+1]}") repls+=("${fields[i+2]}") descs+=("${fields[i+3]}")
done
total=${#paths[@]}
((total > 0)) || { echo "mutants: the list is empty" >&2; exit 1; }

if ((listOnly)); then
  for ((i = 0; i < total; ++i)); do printf '%3d  %-40s %s\n' $((i + 1)) "${paths[i]}" "${descs[i]}"; done
  exit 0
fi

# Which faults to run, as 0-based indexes.
order=()
if ((${#picked[@]})); then
  for n in "${picked[@]}"; do
    ((n >= 1 && n <= total)) || { echo "mutants: no fault number $n (1..$total)" >&2; exit 2; }
    order+=($((n - 1)))
  done
else
  for ((i = 0; i < total; ++i)); do order+=("$i"); done
fi
if ((limit > 0 && ${#order[@]} > limit)); then order=("${order[@]:0:limit}"); fi

# A throwaway copy of the commit, removed at exit.
work=$(mktemp -d "${TMPDIR:-/tmp}/mutants.XXXXXX")
src=$work/src
build=$work/build
cleanup() {
  git -C "$repo" worktree remove --force "$src" >/dev/null 2>&1 || true
  git -C "$repo" worktree prune >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
git -C "$repo" worktree add --detach --quiet "$src" "$rev"
commit=$(git -C "$src" rev-parse --short HEAD)

# Applies fault i to the copy; prints why not when its text is not found once.
apply() {
  python3 - "$src/${paths[$1]}" "${finds[$1]}" "${repls[$1]}" <<'PY'
import sys
path, find, repl = sys.argv[1:4]
try:
    text = open(path, encoding="utf-8").read()
except OSError:
    print("no such file"); sys.exit(1)
n = text.count(find)
if n != 1:
    print("text not found" if n == 0 else f"text found {n} times"); sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(find, repl))
PY
}

run_tests() {
  ctest --test-dir "$build" -j"$jobs" --timeout "$timeout" --stop-on-failure "${narrow[@]}" >"$work/test.log" 2>&1
}

# Paths relative to the work folder in the compiler cache, so that a later
# run (another temporary folder) finds this run's objects.
export CCACHE_BASEDIR=$work CCACHE_NOHASHDIR=1

echo "mutants: $commit, ${#order[@]} of $total faults, tests: ${MUTANTS_TESTS:-all}"
echo "mutants: building the copy in $build"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log" >&2; echo "mutants: the copy does not configure" >&2; exit 1; }
cmake --build "$build" -j"$jobs" >"$work/build.log" 2>&1 ||
  { tail -40 "$work/build.log" >&2; echo "mutants: the copy does not build" >&2; exit 1; }
if ! run_tests; then
  tail -30 "$work/test.log" >&2
  echo "mutants: the tests fail without any fault; nothing to measure" >&2
  exit 1
fi

caught=0 missed=0 invalid=0 stale=0
missedList=() invalidList=() staleList=()
for i in "${order[@]}"; do
  n=$((i + 1))
  label="$(printf '%3d' "$n")  ${paths[i]}: ${descs[i]}"
  if ! why=$(apply "$i"); then
    ((++stale)); staleList+=("$n")
    echo "stale    $label ($why)"
    continue
  fi
  if ! cmake --build "$build" -j"$jobs" >"$work/build.log" 2>&1; then
    ((++invalid)); invalidList+=("$n")
    echo "invalid  $label (does not build)"
  elif run_tests; then
    ((++missed)); missedList+=("$n")
    echo "MISSED   $label"
  else
    ((++caught))
    name=$(sed -nE 's/.*Test +#[0-9]+: ([^ ]+) \.*[ ]*\*\*\*.*/\1/p' "$work/test.log" | head -1)
    echo "caught   $label${name:+ (by $name)}"
  fi
  git -C "$src" checkout --quiet -- "${paths[i]}"
done

((stale + invalid == 0)) || echo "mutants: not counted: ${invalid} invalid${invalidList:+ (${invalidList[*]})}, ${stale} stale${staleList:+ (${staleList[*]})}"
((missed == 0)) || echo "mutants: missed: ${missedList[*]}"
counted=$((caught + missed))
if ((counted > 0)); then pct=$((100 * caught / counted)); else pct=0; fi
echo "caught $caught of $counted ($pct%)"
exit 0
}
