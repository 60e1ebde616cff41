#!/usr/bin/python3
"""Runs a command RUNS times and prints its best wall and CPU (user + system)
seconds and the peak resident memory in kB of one more run.

Usage: measure.py RUNS WORK COMMAND...

The command is started with posix_spawn and reaped with wait4, so the wall
time holds the command's own process and no helper's: a shell timing through
/usr/bin/time and date adds two process starts (about 1.5 ms here) to every
figure, which weighs on the ratios of conversions that take 20 ms. A last
argument naming a file under WORK is taken for the output and removed before
each run, so that every run writes a new file. The memory run goes through
/usr/bin/time: a spawned child's peak counts the spawning process's memory
from before its exec, a forked /usr/bin/time's is small.
"""
import os
import subprocess
import sys
import tempfile
import time


def main():
    runs, work, command = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    out = command[-1]
    fresh = os.path.abspath(out).startswith(os.path.abspath(work) + os.sep)
    null = os.open(os.devnull, os.O_WRONLY)
    actions = [(os.POSIX_SPAWN_DUP2, null, 1), (os.POSIX_SPAWN_DUP2, null, 2)]
    best_wall = best_cpu = None

    def clear():
        if fresh and os.path.lexists(out):
            os.remove(out)

    for _ in range(runs):
        clear()
        start = time.perf_counter_ns()
        pid = os.posix_spawnp(command[0], command, os.environ, file_actions=actions)
        _, _, usage = os.wait4(pid, 0)
        wall = (time.perf_counter_ns() - start) / 1e9
        cpu = usage.ru_utime + usage.ru_stime
        best_wall = wall if best_wall is None else min(best_wall, wall)
        best_cpu = cpu if best_cpu is None else min(best_cpu, cpu)
    clear()
    with tempfile.NamedTemporaryFile("r", dir=work, suffix=".time") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        memory = int(report.read().split()[-1])
    print(f"{best_wall:.4f} {best_cpu:.3f} {memory}")


if __name__ == "__main__":
    main()
