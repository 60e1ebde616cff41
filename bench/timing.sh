# Timing helpers sourced by the benchmark scripts (POSIX sh). The sourcing
# script sets $work (a scratch folder) and $runs (runs per measurement).

# Best wall and CPU (user + system) seconds of $runs runs of a command, and
# its peak resident memory in kB (measure.py beside this file times the
# command's own process only and takes the memory from one more run). CPU is the steadier number on
# a shared machine. A last argument naming a file in $work is taken for the
# output and removed before each run, so that every run writes a new file.
measure() {
    /usr/bin/python3 "$here/measure.py" "$runs" "$work" "$@"
}

# A over B to three places, or n/a when B is 0.
ratio() { awk "BEGIN{ if ($2 > 0) printf \"%.3f\", $1 / $2; else print \"n/a\" }"; }
