#!/bin/sh
# Mutation sample of the pure code against the unit tier: makes N mutants
# with a fixed seed (flip a comparison or a logical operator, drop a
# statement, change a constant) over src/ (files not named *_win.*) and the
# packer's pure sources, builds each against the unit test binary only and
# runs it. A mutant is killed when the tests fail (or time out), survives
# when they pass; one that does not compile is stillborn and not counted.
#
#   scripts/mutate.sh [-n N] [--seed S]       make and run N mutants (100, seed 14)
#   scripts/mutate.sh --list FILE             run the mutants listed in FILE again
#   scripts/mutate.sh --compare OLD NEW       mutants killed in OLD results but not in NEW
#                                             (of the mutants both results hold)
#   scripts/mutate.sh --dry-run ...           only write the list, run nothing
#   --rev REV     test the tree of commit REV instead of the working tree
#   --work DIR    work there instead of build/mutate (two runs at once)
#
# Works on a copy of the tree (nice'd, one build job), built without the
# sanitizers and run with --gtest_fail_fast to stay cheap. Writes
# DIR/mutants.jsonl (the list: file, line, kind, original and mutated line)
# and DIR/results.jsonl (the list with a status, written as it goes);
# prints the score and the survivors.
set -eu
cd "$(dirname "$0")/.."
case "${1:-}" in
  --help|-h) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac
exec python3 - "$@" <<'EOF'
import json, os, random, re, shutil, subprocess, sys, time

root = os.getcwd()
work = os.path.join(root, "build", "mutate")
args = sys.argv[1:]
n, seed, listfile, dry, rev = 100, 14, None, False, None
while args:
    a = args.pop(0)
    if a == "-n": n = int(args.pop(0))
    elif a == "--rev": rev = args.pop(0)
    elif a == "--work": work = os.path.abspath(args.pop(0))
    elif a == "--seed": seed = int(args.pop(0))
    elif a == "--list": listfile = args.pop(0)
    elif a == "--dry-run": dry = True
    elif a == "--compare":
        old, new = args.pop(0), args.pop(0)
        load = lambda f: {m["id"]: m for m in map(json.loads, open(f))}
        o, nw = load(old), load(new)
        both = [i for i in o if i in nw]  # a run cut short compares what it ran
        lost = [i for i in both if o[i]["status"] == "killed" and nw[i]["status"] != "killed"]
        for i in lost:
            m = o[i]; print(f"LOST {i} {m['file']}:{m['line']} {m['kind']}: {m['mutated'].strip()}")
        for name, run in (("before", o), ("after", nw)):
            k = sum(run[i]["status"] == "killed" for i in both)
            live = sum(run[i]["status"] in ("killed", "survived") for i in both)
            print(f"{name}: killed {k} / {live} compiled mutants of the {len(both)} both runs made")
        print(f"lost {len(lost)}")
        sys.exit(1 if lost else 0)
    else:
        sys.exit(f"mutate.sh: unknown argument {a} (see --help)")
tree = os.path.join(work, "tree")
bdir = os.path.join(work, "build")

PACKER_PURE = ["codepage.cpp", "description.cpp", "image.cpp", "included.cpp",
               "launcher_choice.cpp", "packer_io.cpp"]

def pure_sources():
    out = []
    for d, _, files in os.walk("src"):
        for f in files:
            if f.endswith(".cpp") and not f.endswith("_win.cpp"):
                out.append(os.path.join(d, f))
    out += [os.path.join("tools/kernopack", f) for f in PACKER_PURE]
    return sorted(out)

def code_mask(line):
    """The line with string and character literals blanked and a // comment cut."""
    out, i, q = [], 0, None
    while i < len(line):
        c = line[i]
        if q:
            if c == "\\": out += "  "; i += 2; continue
            if c == q: q = None; out.append(c)
            else: out.append(" ")
        elif c in "\"'":
            q = c; out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out).ljust(len(line))

CMP = {" == ": " != ", " != ": " == ", " < ": " <= ", " <= ": " < ", " > ": " >= ",
       " >= ": " > ", " && ": " || ", " || ": " && "}
EXPR_STMT = re.compile(r"^\s*(\+\+|--)?[A-Za-z_][\w.:\[\]]*(->[\w.]+)*\s*(\(|=[^=]|\+=|-=|\|=|&=|\+\+|--)")

def sites(path):
    lines = open(path, encoding="utf-8").read().split("\n")
    in_block = False
    for no, line in enumerate(lines, 1):
        s = line.strip()
        if in_block:
            if "*/" in s: in_block = False
            continue
        if s.startswith("/*"):
            in_block = "*/" not in s; continue
        if not s or s.startswith("#") or s.startswith("//") or s.startswith("static_assert"):
            continue
        m = code_mask(line)
        for op, rep in CMP.items():
            for k in [x.start() for x in re.finditer(re.escape(op), m)]:
                yield no, "comparison" if op.strip() not in ("&&", "||") else "logic", line, line[:k] + rep + line[k + len(op):]
        for x in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", m):
            v = int(x.group(1)); w = 1 if v == 0 else (0 if v == 1 else v + 1)
            yield no, "constant", line, line[:x.start()] + str(w) + line[x.end():]
        for x in re.finditer(r"\b(true|false)\b", m):
            w = "false" if x.group(1) == "true" else "true"
            yield no, "constant", line, line[:x.start()] + w + line[x.end():]
        ms = m.rstrip()
        if (ms.endswith(";") and EXPR_STMT.match(ms) and ms.count("(") == ms.count(")")
                and not ms.lstrip().startswith(("return", "using", "case"))):
            yield no, "drop", line, re.match(r"\s*", line).group(0) + ";"
        elif ms.strip() in ("break;", "continue;"):
            yield no, "drop", line, re.match(r"\s*", line).group(0) + ";"

def make_list():
    allsites = [dict(file=f, line=no, kind=k, original=o, mutated=mu)
                for f in pure_sources() for no, k, o, mu in sites(f)]
    pick = random.Random(seed).sample(allsites, min(n, len(allsites)))
    pick.sort(key=lambda m: (m["file"], m["line"], m["mutated"]))
    for i, m in enumerate(pick, 1):
        m["id"] = f"m{i:03d}"
    print(f"mutate: {len(allsites)} possible mutants, {len(pick)} picked (seed {seed})")
    return pick

os.makedirs(work, exist_ok=True)
mutants = [json.loads(l) for l in open(listfile)] if listfile else make_list()
with open(os.path.join(work, "mutants.jsonl"), "w") as f:
    for m in mutants:
        f.write(json.dumps({k: m[k] for k in ("id", "file", "line", "kind", "original", "mutated")}) + "\n")
if dry:
    sys.exit(0)

# A fresh copy of the tree: as it stands now, or as commit REV has it.
PARTS = ("CMakeLists.txt", "CMakePresets.json", "cmake", "src", "tools", "runtime", "tests", "bench")
shutil.rmtree(tree, ignore_errors=True)
os.makedirs(tree)
if rev:
    archive = subprocess.run(["git", "archive", rev, *PARTS], stdout=subprocess.PIPE, check=True)
    subprocess.run(["tar", "-x", "-C", tree], input=archive.stdout, check=True)
else:
    for d in PARTS:
        src = os.path.join(root, d)
        (shutil.copytree if os.path.isdir(src) else shutil.copy2)(src, os.path.join(tree, d))

def run(cmd, **kw):
    return subprocess.run(["nice"] + cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)

if not os.path.exists(os.path.join(bdir, "build.ninja")):
    r = run(["cmake", "-S", tree, "-B", bdir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
             "-DCMAKE_C_COMPILER=gcc", "-DCMAKE_CXX_COMPILER=g++", "-DKERNO_SANITIZE=OFF",
             "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g0",
             "-DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST"])
    if r.returncode: sys.exit(r.stdout.decode(errors="replace"))
binary = os.path.join(bdir, "tests", "unit", "kerno_unit_tests")
build = lambda jobs="1": run(["ninja", "-j" + jobs, "-C", bdir, "kerno_unit_tests"])
r = build("2")
if r.returncode: sys.exit("mutate: the unmutated tree does not build:\n" + r.stdout.decode(errors="replace")[-3000:])
t0 = time.time()
r = run([binary], cwd=bdir)
base = time.time() - t0
if r.returncode: sys.exit("mutate: the unit tests fail on the unmutated tree")
limit = max(60, 10 * base)

def locate(text, m):
    lines = text.split("\n")
    if 0 < m["line"] <= len(lines) and lines[m["line"] - 1] == m["original"]:
        return m["line"] - 1
    hits = [i for i, l in enumerate(lines) if l == m["original"]]
    return hits[0] if len(hits) == 1 else None

results = []
done = open(os.path.join(work, "results.jsonl"), "w")
for m in mutants:
    if m.get("status") == "stillborn":  # the same sources: it does not build this time either
        results.append(m); done.write(json.dumps(m) + "\n"); continue
    path = os.path.join(tree, m["file"])
    orig = open(path, encoding="utf-8").read()
    at = locate(orig, m)
    status = "missing"
    if at is not None:
        lines = orig.split("\n"); lines[at] = m["mutated"]
        open(path, "w", encoding="utf-8").write("\n".join(lines))
        if build().returncode:
            status = "stillborn"
        else:
            try:
                r = run([binary, "--gtest_brief=1", "--gtest_fail_fast"], cwd=bdir, timeout=limit)
                status = "killed" if r.returncode else "survived"
            except subprocess.TimeoutExpired:
                status = "killed"
        open(path, "w", encoding="utf-8").write(orig)
    m = dict(m, status=status)
    results.append(m)
    done.write(json.dumps(m) + "\n"); done.flush()
    print(f"{m['id']} {status:9} {m['file']}:{m['line']} {m['kind']}: {m['mutated'].strip()}", flush=True)

done.close()
count = lambda s: sum(m["status"] == s for m in results)
live = count("killed") + count("survived")
print(f"mutate: killed {count('killed')} / {live} compiled mutants"
      f" ({100.0 * count('killed') / max(live, 1):.0f}%), stillborn {count('stillborn')}, missing {count('missing')}")
for m in results:
    if m["status"] == "survived":
        print(f"  survived {m['id']} {m['file']}:{m['line']} {m['kind']}: {m['mutated'].strip()}")
EOF
