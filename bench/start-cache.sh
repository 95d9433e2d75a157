#!/bin/sh
# The start cache against a real server: H2 (Debian's libh2-java) launched
# through the real-VM tier's launch program (kerno_jvm_child) on the JDK the
# build uses, without and with the start cache, alternating, RUNS times each
# (default 7). A launch is timed from the program's start until H2's main has
# returned with its TCP server listening (the "requesting VM exit" line); the
# stop that follows, which writes the archive, is not counted. Prints both
# medians and their ratio (target at most 0.85). A benchmark, not a test.
#
#   bench/start-cache.sh [BUILD_DIR] [RUNS]     default: build/all 7
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in --help|-h) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
build=$(realpath "${1:-build/all}")
runs=${2:-7}
child="$build/tests/jvm/kerno_jvm_child"
jar="$build/kerno-runtime.jar"
h2=/usr/share/java/h2.jar
libjvm=$(grep '^KERNO_LIBJVM:' "$build/CMakeCache.txt" | cut -d= -f2-)
[ -x "$child" ] && [ -f "$jar" ] && [ -f "$h2" ] && [ -f "$libjvm" ] || {
  echo "start-cache: build the all (or native) preset and install libh2-java first" >&2; exit 1; }
exec python3 - "$child" "$jar" "$h2" "$libjvm" "$runs" <<'PY'
import os, shutil, statistics, subprocess, sys, tempfile, time
child, jar, h2, libjvm, runs = sys.argv[1:5] + [int(sys.argv[5])]
home = os.path.dirname(os.path.dirname(os.path.dirname(libjvm)))
version = next(l.split('"')[1] for l in open(os.path.join(home, "release")) if l.startswith("JAVA_VERSION="))
work = tempfile.mkdtemp(prefix="start-cache-")
cache = os.path.join(work, "cache")
os.mkdir(cache, 0o700)
env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0:handle_segv=0:allow_user_segv_handler=1")

def launch(cached):
    args = [child, "--libjvm", libjvm, "--class-path", jar + ":" + h2,
            "--main-class", "org.h2.tools.Server", "--arguments", "-tcp -tcpPort 0",
            "--vm-parameters", "-Xmx256m -XX:-UsePerfData"]
    if cached:
        args += ["--start-cache", cache, "--java-version", version]
    start = time.monotonic()
    proc = subprocess.Popen(args + ["--", "H2Bench"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            text=True, env=env)
    elapsed = None
    for line in proc.stdout:
        if elapsed is None and line.startswith("INFO: requesting VM exit"):
            elapsed = time.monotonic() - start
    proc.wait()
    if elapsed is None:
        sys.exit("start-cache: the launch did not reach the application (exit code %d)" % proc.returncode)
    return elapsed * 1000

try:
    launch(True)   # writes the archive
    launch(True)   # seals it
    plain, cached = [], []
    for i in range(runs):
        plain.append(launch(False))
        cached.append(launch(True))
        print(f"run {i + 1}/{runs}: without {plain[-1]:.0f} ms, with {cached[-1]:.0f} ms", file=sys.stderr)
    archive = [f for f in os.listdir(cache) if f.endswith(".jsa")]
    size = os.path.getsize(os.path.join(cache, archive[0])) if archive else 0
    a, b = statistics.median(plain), statistics.median(cached)
    print(f"H2 {os.path.basename(os.path.realpath(h2))} on Java {version}, archive {size / 1048576:.1f} MiB")
    print(f"launch until served, median of {runs}: without cache {a:.0f} ms, with cache {b:.0f} ms, "
          f"ratio {b / a:.2f} (target <= 0.85)")
finally:
    shutil.rmtree(work, ignore_errors=True)
PY
