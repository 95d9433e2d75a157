#!/bin/sh
# How much a thread dump and a deadlock check before a stop add to the stop:
# H2's server (Debian's libh2-java) run by the real-JVM tier's launch program
# against the installed HotSpot, stopped with and without them beforehand.
# Prints the median time from the exit request to the VM's exit hook (which
# includes the shutdown hooks) for each, and their ratio. Never part of the
# tests, which assert only the order of these events. (H2's own listener,
# blocked in a native accept, makes the VM's exit wait its ~300 ms for
# threads in native code in both cases: the difference is what the dump and
# the check leave behind.)
#
#   bench/stop_after_dump.sh [BUILD_DIR [RUNS]]     default: build/all 9
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in --help|-h) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
build=$(realpath "${1:-build/all}")
runs=${2:-9}
child="$build/tests/jvm/kerno_jvm_child"
[ -x "$child" ] || { echo "bench: build kerno_jvm_child (the all preset) first" >&2; exit 1; }
libjvm=$(sed -n 's/^KERNO_LIBJVM:FILEPATH=//p' "$build/CMakeCache.txt")
h2=$(sed -n 's/^KERNO_H2_JAR:FILEPATH=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$child" "$libjvm" "$build/kerno-runtime.jar" "$h2" "$build/tests/jvm/kerno-jvm-testapp.jar" "$work" "$runs" <<'PY'
import os, re, socket, statistics, subprocess, sys, time
child, libjvm, runtime, h2, testapp, work, runs = sys.argv[1:8]
ASAN = "detect_leaks=0:handle_segv=0:allow_user_segv_handler=1"

def free_port():
    with socket.socket() as s:
        s.bind(("", 0))
        return s.getsockname()[1]

def stop_time(out):
    m = re.search(r"^TIME: exit request to exit hook: (\d+) us$", out, re.M)
    if not m:
        sys.exit("bench: no stop time in the child's output:\n" + out)
    return int(m.group(1)) / 1000.0

def h2_stop(run, extra):
    port = free_port()
    stop = os.path.join(run, "stop")
    args = [child, "--libjvm", libjvm, "--class-path", f"{runtime}:{h2}", "--main-class", "org.h2.tools.Server",
            "--vm-parameters", "-Xmx64m -XX:-UsePerfData", "--arguments",
            f"-pg -pgPort {port} -baseDir {run}/db -ifNotExists", "--stdout", f"{run}/out.log",
            "--until-end", "1", "--stop-file", stop] + extra + ["--", "Bench"]
    p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                         env=dict(os.environ, ASAN_OPTIONS=ASAN))
    for _ in range(600):
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            break
        except OSError:
            time.sleep(0.1)
    # Stopped idle: a server just up may still be taking the probe's
    # connection, and an idle one has its listener in native code, which
    # the VM's exit waits for in both cases alike.
    time.sleep(2)
    open(stop, "w").close()
    out, _ = p.communicate(timeout=120)
    return stop_time(out)

def testapp_stop(run, extra):
    args = [child, "--libjvm", libjvm, "--class-path", f"{runtime}:{testapp}", "--main-class",
            "com.kerno.testapp.WatchdogApp", "--vm-parameters",
            f"-Xmx64m -XX:-UsePerfData -Dkerno.test.report={run}/report", "--await", "1"] + extra + ["--", "Bench"]
    out = subprocess.run(args, capture_output=True, text=True, timeout=120,
                         env=dict(os.environ, ASAN_OPTIONS=ASAN)).stdout
    return stop_time(out)

n = 0
for title, stop in (("H2's server, idle", h2_stop), ("the test application (no thread in native code)", testapp_stop)):
    plain, after = [], []
    for i in range(int(runs)):
        for times, extra in ((plain, []), (after, ["--health", os.path.join(work, "dump.txt"), "--checks", "deadlock"])):
            n += 1
            run = os.path.join(work, str(n))
            os.makedirs(run)
            times.append(stop(run, extra))
    a, b = statistics.median(plain), statistics.median(after)
    print(f"{title}: exit request to exit hook, median of {runs} runs each")
    print(f"  without a dump or check before it:        {a:8.1f} ms")
    print(f"  after a thread dump and a deadlock check: {b:8.1f} ms")
    print(f"  difference {b - a:+.1f} ms, ratio {b / a:.2f}")
PY
