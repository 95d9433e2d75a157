#!/bin/sh
# How much a thread dump and a deadlock check before a stop add to the stop:
# H2's server (Debian's libh2-java) run by the real-JVM tier's launch program
# against the installed HotSpot, stopped with and without them beforehand.
# Prints the median time from the exit request to the VM's exit hook (which
# includes the shutdown hooks) for each, and their ratio. Never part of the
# tests, which assert only the order of these events.
#
#   bench/stop_after_dump.sh [BUILD_DIR [RUNS]]     default: build/all 9
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in --help|-h) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
build=$(realpath "${1:-build/all}")
runs=${2:-9}
child="$build/tests/jvm/kerno_jvm_child"
[ -x "$child" ] || { echo "bench: build kerno_jvm_child (the all preset) first" >&2; exit 1; }
libjvm=$(sed -n 's/^KERNO_LIBJVM:FILEPATH=//p' "$build/CMakeCache.txt")
h2=$(sed -n 's/^KERNO_H2_JAR:FILEPATH=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$child" "$libjvm" "$build/kerno-runtime.jar:$h2" "$work" "$runs" <<'PY'
import os, re, socket, statistics, subprocess, sys, time
child, libjvm, classpath, work, runs = sys.argv[1:6]

def free_port():
    with socket.socket() as s:
        s.bind(("", 0))
        return s.getsockname()[1]

def one_stop(n, extra):
    run = os.path.join(work, str(n))
    os.makedirs(run)
    port = free_port()
    stop = os.path.join(run, "stop")
    args = [child, "--libjvm", libjvm, "--class-path", classpath, "--main-class", "org.h2.tools.Server",
            "--vm-parameters", "-Xmx64m -XX:-UsePerfData", "--arguments",
            f"-pg -pgPort {port} -baseDir {run}/db -ifNotExists", "--stdout", f"{run}/out.log",
            "--until-end", "1", "--stop-file", stop] + extra + ["--", "Bench"]
    p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                         env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0:handle_segv=0:allow_user_segv_handler=1"))
    for _ in range(600):
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            break
        except OSError:
            time.sleep(0.1)
    open(stop, "w").close()
    out, _ = p.communicate(timeout=120)
    m = re.search(r"^TIME: exit request to exit hook: (\d+) us$", out, re.M)
    if not m:
        sys.exit("bench: no stop time in the child's output:\n" + out)
    return int(m.group(1)) / 1000.0

plain, after = [], []
for i in range(int(runs)):
    plain.append(one_stop(2 * i, []))
    after.append(one_stop(2 * i + 1, ["--health", os.path.join(work, f"dump{i}.txt"), "--checks", "deadlock"]))
a, b = statistics.median(plain), statistics.median(after)
print(f"stop of H2 (exit request to exit hook), median of {runs} runs each:")
print(f"  without a dump or check before it: {a:8.1f} ms")
print(f"  after a thread dump and a deadlock check: {b:8.1f} ms")
print(f"  difference {b - a:+.1f} ms, ratio {b / a:.2f}")
PY
