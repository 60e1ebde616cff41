#!/usr/bin/env bash
# Checks that two builds store and read the event store identically: each
# build's chronik tool writes the same batches into a directory of its own
# (roll-overs, the file limit, overflow blocks, records split over blocks,
# batches of more than 1024 codes); the data files of the two directories
# must match byte for byte and their indexes in everything but the clock's
# share (file names, end times). Then both tools read both directories and
# copies of them with damaged words (range reads, station filters, single
# files) and every output must be the same, as must what a write into a
# damaged copy stores.
#   bench/chronik_identical.sh BUILD-BEFORE BUILD-AFTER
set -euo pipefail
before=${1:?build directory before}/chronik
after=${2:?build directory after}/chronik
export TZ=UTC
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

t0=1709251200  # 2024-03-01 00:00:00
seed=12345
rnd() {  # rnd N: a number below N from a fixed sequence
  seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
  r=$(( (seed >> 8) % $1 ))
}
code() {  # a listed station or module event, now and then its clear
  rnd 4; local clear=$(( r == 0 ? 1 : 0 ))
  rnd 3
  if (( r == 0 )); then
    rnd 64; local a=$(( 2 + r * 2 )); rnd 16; local cage=$r; rnd 256; local slot=$r
    local flags=(16 32 64 255); rnd 4
    printf '0x%x' $(( (clear << 31) | (a << 21) | (cage << 17) | (slot << 9) | (${flags[r]} << 1) ))
  else
    local kinds=(1 2 4 6 7 8 9 11 13 14 15 25 27 34 37 41 127 0 3 5); rnd 20; local k=${kinds[r]}
    rnd 256; local f=$r; rnd 128; local a=$(( 2 + r ))
    printf '0x%x' $(( (clear << 31) | (a << 16) | (k << 9) | (f << 1) | 1 ))
  fi
}

# The batches, one line each: time node codes...
seed=12345
t=$t0
{
  echo "$t 2 0"
  for i in $(seq 1 260); do
    rnd 400; t=$(( t + r ))
    rnd 8; node=$(( r < 3 ? 2 + r : 2 + (seed >> 3) % 128 ))
    rnd 20
    case $r in
      0) n=510 ;; 1) n=600 ;; 2) n=1100 ;; 3) n=2500 ;; 4) n=509 ;;
      *) rnd 5; n=$(( r + 1 )) ;;
    esac
    line="$t $node"
    for _ in $(seq 1 "$n"); do line+=" $(code)"; done
    echo "$line"
  done
  echo "$(( t + 1 )) 2 4294967295"
} >"$scratch/batches"
t_end=$(( t + 1 ))

store() {  # store TOOL DIR OPTIONS...
  local tool=$1 dir=$2; shift 2
  mkdir -p "$dir"
  while read -r time node codes; do
    # shellcheck disable=SC2086
    "$tool" "$@" write --time "$time" "$dir" "$node" $codes
  done <"$scratch/batches"
}

# Every data file's words, then the index without the clock's share.
digest_dir() {
  local dir=$1
  for f in $(cd "$dir" && ls KORVAL*.API | sort); do
    echo "$(md5sum <"$dir/$f" | cut -c1-32) $(stat -c %s "$dir/$f")"
  done
  local n
  n=$(( $(stat -c %s "$dir/Index.API") ))
  head -c 43 "$dir/Index.API" | md5sum
  for (( o = 43; o + 32 <= n; o += 32 )); do
    tail -c +$(( o + 1 )) "$dir/Index.API" | head -c 4 | od -An -tu4
  done
}

reads() {  # reads TOOL DIR: every read the check compares
  local tool=$1 dir=$2 mid=$(( (t0 + t_end) / 2 ))
  for range in "$t0 $t_end" "$mid $t_end" "$(( mid - 3600 )) $mid" "0 4294967295" "$t_end $(( t_end + 10 ))"; do
    for opts in "" "--station 4" "--station 6" "--from-first-file"; do
      echo "== read $opts $range"
      # shellcheck disable=SC2086
      "$tool" read $opts --json "$dir" $range 2>/dev/null || echo "exit $?"
    done
  done
  for f in $(cd "$dir" && ls KORVAL*.API | sort); do
    for opts in "" "--station 2"; do
      echo "== file $opts $f"
      # shellcheck disable=SC2086
      "$tool" file $opts --json "$dir/$f" 2>/dev/null || echo "exit $?"
    done
  done
}

put_word() {  # put_word FILE OFFSET VALUE, little-endian
  printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(( $3 & 255 )) $(( ($3 >> 8) & 255 )) $(( ($3 >> 16) & 255 )) \
    $(( ($3 >> 24) & 255 )))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

failed=0
compare() {  # compare WHAT FILE-A FILE-B
  if cmp -s "$2" "$3"; then
    echo "identical: $1 ($(wc -l <"$2") lines)"
  else
    echo "DIFFERENT: $1" >&2
    diff "$2" "$3" | head -20 >&2
    failed=1
  fi
}

for config in "--span 3600 --max-files 4" "--span 86400"; do
  name=${config// /}
  # shellcheck disable=SC2086
  store "$before" "$scratch/a$name" $config
  # shellcheck disable=SC2086
  store "$after" "$scratch/b$name" $config
  digest_dir "$scratch/a$name" >"$scratch/da"
  digest_dir "$scratch/b$name" >"$scratch/db"
  compare "stored files, $config" "$scratch/da" "$scratch/db"
  for dir in a b; do
    reads "$before" "$scratch/$dir$name" >"$scratch/r-before"
    reads "$after" "$scratch/$dir$name" >"$scratch/r-after"
    compare "reads of the $dir directory, $config" "$scratch/r-before" "$scratch/r-after"
  done
done

# Damaged copies of the one-file directory: links, used-word counts, leading
# words, record words, the block counter and the block directory.
src="$scratch/a--span86400"
first=$(cd "$src" && ls KORVAL*.API | sort | head -1)
damages=(
  "1140 0" "1140 1" "1140 266340" "1140 1124" "1140 7" "1136 1025" "1136 4294967294" "1136 3"
  "1132 0" "1148 17" "1148 4294967295" "1128 4294967295" "1124 4294967295" "46 5" "104 7"
  "104 266340" "108 0" "266352 1025" "266356 1124" "266360 1025" "266364 0" "266368 5000"
  "3196 0" "3212 1027" "3220 77" "268436 0" "268440 3"
)
for d in "${damages[@]}"; do
  set -- $d
  rm -rf "$scratch/damaged"
  cp -r "$src" "$scratch/damaged"
  put_word "$scratch/damaged/$first" "$1" "$2"
  reads "$before" "$scratch/damaged" >"$scratch/r-before"
  reads "$after" "$scratch/damaged" >"$scratch/r-after"
  compare "reads with word $1 set to $2" "$scratch/r-before" "$scratch/r-after"
  # A writer's choice between the damaged chain and a new file.
  for side in before after; do
    rm -rf "$scratch/w-$side"
    cp -r "$scratch/damaged" "$scratch/w-$side"
    tool=$before; [ $side = after ] && tool=$after
    for node in 2 3; do "$tool" write --time "$t_end" "$scratch/w-$side" $node 0x21203 0x80021203; done
    digest_dir "$scratch/w-$side" >"$scratch/d-$side"
  done
  compare "writes after word $1 set to $2" "$scratch/d-before" "$scratch/d-after"
done
# Cut short at block boundaries and inside blocks.
for len in 1124 3000 264292 266340 266400 270000; do
  rm -rf "$scratch/damaged"
  cp -r "$src" "$scratch/damaged"
  truncate -s "$len" "$scratch/damaged/$first"
  reads "$before" "$scratch/damaged" >"$scratch/r-before"
  reads "$after" "$scratch/damaged" >"$scratch/r-after"
  compare "reads of a file cut to $len bytes" "$scratch/r-before" "$scratch/r-after"
done
exit $failed
