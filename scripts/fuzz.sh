#!/usr/bin/env bash
# Coverage-guided fuzzing of the readers with libFuzzer (Debian's clang,
# AddressSanitizer and UndefinedBehaviorSanitizer).
#
#   scripts/fuzz.sh [TARGET|all] [SECONDS]   run one target or every target (default all, 300 s each)
#   scripts/fuzz.sh --smoke [SECONDS]        every target on the seeds only (default 15 s each), in parallel
#   scripts/fuzz.sh report                   CPU time, speed and coverage accumulated per target
#   scripts/fuzz.sh list                     the targets
#
# Builds into build-fuzz/. The growing corpus, crash artifacts and the ledger
# of runs live outside the repository in $RASTIK_FUZZ_DIR (default
# ~/.cache/rastik-fuzz). Seeds are written afresh by the libraries' own
# writers each run; ../shared/corpus is added when present. A finding (crash,
# leak, sanitizer report, an input taking more than 10 s of CPU time, more
# than 2 GiB) stops that target with its input saved under artifacts/; the
# script then exits 1. Wall-clock time counts only past 600 s, as a backstop
# for inputs that wait: the machine may be loaded.
# FUZZ_JOBS sets how many targets run at once (default 1; --smoke: all cores).
# Fuzzers run under `nice -n 19` (FUZZ_NICE sets another niceness).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
shared="$root/../shared/corpus"

# target, shared corpus folders, dictionary, extra libFuzzer options
targets() {
  cat <<'EOF'
bmp|bmp|bmp|
jpeg|jpeg jpeg-hostile|jpeg|
jpeg_thumbnail||jpeg|
imgproc|bmp jpeg jpeg-hostile gif png tiff|jpeg bmp|
tiff|tiff|tiff|
tiff_resources||tiff|
gif|gif|gif|
png|png|png|
pict||pict|
dct|jpeg jpeg-hostile|jpeg|
chronik_file||chronik|-max_len=280000
chronik_dir||chronik|-max_len=280000
EOF
}

usage() {
  sed -n '4,8p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

smoke=0
if [[ ${1:-} == --smoke ]]; then
  smoke=1
  shift
fi
what=${1:-all}
seconds=${2:-}
[[ $what == -h || $what == --help ]] && usage
if [[ $smoke == 1 ]]; then
  seconds=${1:-15}
  what=all
fi
seconds=${seconds:-300}
[[ $seconds =~ ^[0-9]+$ ]] || usage

if [[ $smoke == 1 ]]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  jobs=${FUZZ_JOBS:-$(nproc)}
else
  work=${RASTIK_FUZZ_DIR:-$HOME/.cache/rastik-fuzz}
  jobs=${FUZZ_JOBS:-1}
fi
mkdir -p "$work"
ledger="$work/ledger.tsv"

report() {
  [[ -s $ledger ]] || { echo "no runs recorded in $ledger"; return; }
  printf "%-16s %5s %8s %11s %11s %7s %7s %9s\n" target runs CPU-min execs execs/CPU-s cov ft findings
  awk -F'\t' '
    { cpu[$2] += $4; execs[$2] += $5; runs[$2]++; last_cov[$2] = $7; last_ft[$2] = $8;
      if ($10 != "ok") bad[$2]++ }
    END {
      for (t in cpu) printf "%-16s %5d %8.1f %11d %11.0f %7s %7s %9d\n", t, runs[t], cpu[t] / 60, execs[t],
                            cpu[t] ? execs[t] / cpu[t] : 0, last_cov[t], last_ft[t], bad[t]
    }' "$ledger" | sort
}

case $what in
report) report; exit 0 ;;
list) targets | cut -d'|' -f1; exit 0 ;;
esac

if [[ $what != all ]] && ! targets | cut -d'|' -f1 | grep -qx "$what"; then
  echo "fuzz.sh: no target '$what' (scripts/fuzz.sh list)" >&2
  exit 2
fi

echo "== build $build" >&2
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRASTIK_FUZZ=ON -DRASTIK_BUILD_TESTS=OFF >/dev/null
nice -n 19 cmake --build "$build" -j"$(nproc)" >/dev/null

rm -rf "$work/seeds"
"$build/fuzz/fuzz_image_seeds" "$work/seeds"
"$build/fuzz/fuzz_store_seeds" "$work/seeds"

# Runs one target; its summary line goes to $work/runs/<target>.summary.
run_target() {
  local line=$1 name subs dicts extra
  IFS='|' read -r name subs dicts extra <<<"$line"
  local corpus="$work/corpus/$name" artifacts="$work/artifacts/$name/" log="$work/runs/$name.log"
  mkdir -p "$corpus" "$artifacts" "$work/runs" "$work/seeds/$name"
  local dirs=("$corpus" "$work/seeds/$name") sub
  for sub in $subs; do [[ -d $shared/$sub ]] && dirs+=("$shared/$sub"); done
  local dict="$work/runs/$name.dict" d
  : >"$dict"
  for d in $dicts; do cat "$root/fuzz/dict/$d.dict" >>"$dict"; done
  # Each run has a scratch directory of its own, removed afterwards even
  # when the fuzzer stopped on a finding.
  local base=/dev/shm
  [[ -w $base ]] || base=${TMPDIR:-/tmp}
  local scratch
  scratch=$(mktemp -d "$base/rastik-fuzz-run.XXXXXX")
  local start=$SECONDS rc=0 times="$work/runs/$name.time"
  # shellcheck disable=SC2086
  { TIMEFORMAT='%U %S'; time RASTIK_FUZZ_SCRATCH="$scratch" nice -n "${FUZZ_NICE:-19}" "$build/fuzz/fuzz_$name" \
      -max_total_time="$seconds" -timeout=600 -report_slow_units=60 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts" -dict="$dict" $extra \
      "${dirs[@]}" >"$log" 2>&1 || rc=$?; } 2>"$times"
  rm -rf "$scratch"
  local wall=$((SECONDS - start)) cpu stats
  cpu=$(awk '{printf "%.0f", $1 + $2}' "$times")
  stats=$(awk '
    / cov: / { for (i = 1; i < NF; i++) { if ($i == "cov:") cov = $(i+1); if ($i == "ft:") ft = $(i+1);
                                          if ($i == "corp:") corp = $(i+1) } }
    /stat::number_of_executed_units:/ { execs = $2 }
    /stat::average_exec_per_sec:/ { rate = $2 }
    END { printf "%s\t%s\t%s\t%s\t%s", execs + 0, rate + 0, cov + 0, ft + 0, corp }' "$log")
  local result=ok
  [[ $rc == 0 ]] || result="FINDING(rc=$rc)"
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$(date +%FT%T)" "$name" "$wall" "$cpu" "$stats" "$result" \
    >"$work/runs/$name.summary"
  if [[ $result != ok ]]; then
    echo "fuzz.sh: $name stopped on a finding; log $log, artifacts in $artifacts" >&2
    grep -E "ERROR|SUMMARY|==fuzz host==|Test unit written" "$log" | head -8 >&2 || true
  fi
}

selected=$(targets | { if [[ $what == all ]]; then cat; else grep "^$what|"; fi })
rm -f "$work"/runs/*.summary 2>/dev/null || true
echo "== fuzz: $(echo "$selected" | wc -l) target(s), $seconds s each, $jobs at a time" >&2
running=0
while IFS= read -r line; do
  run_target "$line" &
  running=$((running + 1))
  if ((running >= jobs)); then
    wait -n || true
    running=$((running - 1))
  fi
done <<<"$selected"
wait

status=0
printf '%-16s %6s %7s %10s %10s %7s %7s %-12s %s\n' target wall-s cpu-s execs exec/s cov ft corpus result
for name in $(echo "$selected" | cut -d'|' -f1); do
  s="$work/runs/$name.summary"
  if [[ ! -s $s ]]; then
    echo "$name: no summary" >&2
    status=1
    continue
  fi
  cat "$s" >>"$ledger"
  awk -F'\t' '{ printf "%-16s %6s %7s %10s %10s %7s %7s %-12s %s\n", $2, $3, $4, $5, $6, $7, $8, $9, $10 }' "$s"
  grep -q $'\tok$' "$s" || status=1
done
exit $status
