#!/usr/bin/env python3
"""Per-step start-up costs from the stamps of steps.patch.

    git apply bench/service_start.d/steps.patch     # stamps in the launcher,
    cmake --build --preset all                      # the poller and the stand-in
    KERNO_BENCH_RUNS=15 sh bench/service_start.d/run.sh BUILD WORK PREFIX
    python3 bench/service_start.d/steps.py PREFIX/drive_c/kerno-steps.txt \
        WORK/service-start/prefix86/drive_c/kerno-steps.txt
    git apply -R bench/service_start.d/steps.patch

Prints, per file, the median time between consecutive steps of the
launcher's starts (the warm-up dropped), from the poller's counter just
before StartServiceW ("start") to JNI_CreateJavaVM in the stand-in.
"""
import sys, statistics
freq = 1e7  # Wine's QPC frequency: 10 MHz
for path in sys.argv[1:]:
    rows = [l.split() for l in open(path) if l.strip()]
    runs, cur = [], None
    for i, (name, v) in enumerate(rows):
        v = int(v)
        if name == "start":
            nxt = rows[i + 1][0] if i + 1 < len(rows) else None
            cur = [("start", v)] if nxt == "entry" else None
            if cur is not None: runs.append(cur)
        elif cur is not None:
            cur.append((name, v))
    runs = [r for r in runs if r[-1][0] == "createJavaVM"][1:]  # drop the warm-up
    names = [n for n, _ in runs[0]]
    print(path, len(runs), "runs")
    for k in range(1, len(names)):
        d = [(r[k][1] - r[k - 1][1]) / freq * 1000 for r in runs if len(r) == len(names)]
        print(f"  {names[k-1]:>14} -> {names[k]:<14} {statistics.median(d):7.2f} ms")
    tot = [(r[-1][1] - r[0][1]) / freq * 1000 for r in runs]
    print(f"  {'total':>32} {statistics.median(tot):7.2f} ms")
