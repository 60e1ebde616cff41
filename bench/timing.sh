# Timing helpers sourced by the benchmark scripts (POSIX sh). The sourcing
# script sets $work (a scratch folder) and $runs (runs per measurement).

# Best wall and CPU (user + system) seconds of $runs runs of a command, and
# the peak resident memory in kB of the last run. CPU is the steadier number
# on a shared machine. Wall time is read to the millisecond. A last argument
# naming a file in $work is taken for the output and removed before each
# run, so that every run writes a new file.
measure() {
    best=""
    cpu=""
    eval "out=\${$#}"
    for _ in $(seq "$runs"); do
        case $out in "$work"/*) rm -f -- "$out" ;; esac
        start=$(date +%s%N)
        /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        read -r t u s mem < "$work/time"
        t=$(awk "BEGIN{printf \"%.3f\", ($end - $start) / 1e9}")
        c=$(awk "BEGIN{printf \"%.2f\", $u + $s}")
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
        if [ -z "$cpu" ] || awk "BEGIN{exit !($c < $cpu)}"; then cpu=$c; fi
    done
    echo "$best $cpu $mem"
}

# A over B to three places, or n/a when B is 0.
ratio() { awk "BEGIN{ if ($2 > 0) printf \"%.3f\", $1 / $2; else print \"n/a\" }"; }
