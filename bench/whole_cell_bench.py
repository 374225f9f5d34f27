#!/usr/bin/env python3
"""Start-up of the whole cell (scripts/whole_cell.py, the demo's start): three
launches, the time from launch to each stage, and beside it, from the same
run, the floor: the fixed waits the programs prescribe on that path and a
bare start of six processes, each waited for as the cell waits for its
programs. Prints the ratio of the time to the first completed reset to the
floor (goal: 1.5 or less, and under 30 s). Never fails on time.

Run it as root inside namespaces of its own:

    tests/isolate python3 bench/whole_cell_bench.py --build build/release
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "scripts"))
import whole_cell  # noqa: E402

STAGES = ["segment up", "busmaster listening", "robot playing", "cellapp serving", "descriptor chosen",
          "ready_to_start", "bus in OP", "axmand attached", "status 3", "first reset completed"]

# The waits on the path from launch to a running cell that the programs
# prescribe (fixed sleeps, not time-outs), in seconds.
PRESCRIBED = [
    (2.0, "cellapp: the bus scan sleeps 2 s after choosing the descriptor before it releases the framework thread"),
    (1.0, "rtframe: waits 1 s after starting its logger thread before opening its queue writer"),
    (5.0, "rtframe: waits 5 s after starting the master-manager thread before starting the real-time thread, "
          "which sets ready_to_start"),
]


def bare_start(processes=6):
    """Six processes started one after the other, each waited for by its
    ready line, then stopped: the cost of starting programs in sequence."""
    started = time.monotonic()
    children = []
    try:
        for _ in range(processes):
            child = subprocess.Popen(["sh", "-c", "echo ready; exec sleep 60"], stdout=subprocess.PIPE)
            children.append(child)
            child.stdout.readline()
        return time.monotonic() - started
    finally:
        for child in children:
            child.kill()
            child.wait()
            child.stdout.close()


def one_launch(build):
    cell = whole_cell.Whole_Cell(build)
    try:
        cell.start()
        rpc = whole_cell.proxy()
        if rpc.reset_axes() != 0:
            raise RuntimeError("reset_axes did not answer 0")
        cell.stage_times["first reset completed"] = time.monotonic() - cell.launch
        return dict(cell.stage_times)
    finally:
        statuses = cell.stop()
        for name, pid, status, expected in statuses:
            if status != expected:
                print("  note: %s (pid %d) ended with %s, expected %s" % (name, pid, status, expected))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--launches", type=int, default=3)
    args = parser.parse_args(argv)
    build = os.path.abspath(args.build)

    runs = []
    for k in range(args.launches):
        runs.append(one_launch(build))
        print("launch %d: first reset completed after %.2f s" % (k + 1, runs[-1]["first reset completed"]),
              flush=True)
    bare = [bare_start() for _ in range(args.launches)]

    print("\nTime from launch to each stage, s (%d launches)" % len(runs))
    print("%-24s %8s %8s %8s" % ("stage", "min", "median", "max"))
    for stage in STAGES:
        values = [run[stage] for run in runs]
        print("%-24s %8.2f %8.2f %8.2f" % (stage, min(values), statistics.median(values), max(values)))

    print("\nFloor: the prescribed waits on the path")
    for seconds, source in PRESCRIBED:
        print("  %5.2f s  %s" % (seconds, source))
    waits = sum(seconds for seconds, _ in PRESCRIBED)
    bare_median = statistics.median(bare)
    floor = waits + bare_median
    print("  %5.3f s  a bare start of six processes, each waited for by a ready line (median of %d)"
          % (bare_median, len(bare)))
    ready = statistics.median(run["first reset completed"] for run in runs)
    print("\nready (first reset completed), median: %.2f s; floor: %.2f s; ratio %.2f (goal 1.5 or less, "
          "under 30 s)" % (ready, floor, ready / floor))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
