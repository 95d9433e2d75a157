#!/usr/bin/env python3
"""Checks a GitHub Actions workflow that cannot run here: it parses as YAML
with jobs made of steps that each use an action or run commands; every
script its commands name exists (a repository path, or a file the release
zip ships from bundle/, named from the unpacked zip); and the job that
builds runs the set-up and build commands of scripts/test.sh unchanged, so
the zip it hands on is the one the tests here check.

  check_workflow.py --source DIR WORKFLOW.yml
"""

import argparse
import re
import sys
from pathlib import Path

import yaml

SCRIPT = re.compile(r"[\w%.\\/-]*\.(?:sh|py|cmd)\b")


def build_commands(test_sh):
    """The lines of scripts/test.sh that set up and build, before the tests."""
    lines = []
    for line in (l.strip() for l in test_sh.read_text().splitlines()):
        if line.startswith("ctest "):
            break
        if line.startswith(("scripts/", "cmake ")):
            lines.append(line)
    return lines


def problems_of(workflow, source):
    try:
        doc = yaml.safe_load(workflow.read_text())
    except yaml.YAMLError as e:
        return [f"not YAML: {e}"]
    jobs = doc.get("jobs") if isinstance(doc, dict) else None
    if not isinstance(jobs, dict) or not jobs:
        return ["no jobs"]
    problems = []
    runs = {}
    for name, job in jobs.items():
        steps = job.get("steps") if isinstance(job, dict) else None
        if not isinstance(steps, list) or not steps:
            problems.append(f"job {name}: no steps")
            continue
        for i, step in enumerate(steps):
            if not isinstance(step, dict) or ("uses" in step) == ("run" in step):
                problems.append(f"job {name}, step {i + 1}: needs exactly one of uses and run")
            elif "run" in step:
                runs.setdefault(name, []).extend(l.strip() for l in str(step["run"]).splitlines())
        for need in job.get("needs", []) if isinstance(job.get("needs"), list) else [job.get("needs")]:
            if need is not None and need not in jobs:
                problems.append(f"job {name}: needs {need}, which is no job")
    for name, lines in runs.items():
        for script in SCRIPT.findall("\n".join(lines)):
            plain = script.replace("\\", "/")
            if "%" in plain:  # a file of the unpacked zip: %BUNDLE%\smoke.cmd
                where = source / "bundle" / plain.rsplit("/", 1)[-1]
            else:
                where = source / plain
            if not where.is_file():
                problems.append(f"job {name}: names {script}, but there is no {where}")
    wanted = build_commands(source / "scripts" / "test.sh")
    if not any(all(c in lines for c in wanted) for lines in runs.values()):
        problems.append(f"no job runs the set-up and build of scripts/test.sh: {wanted}")
    return problems


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--source", type=Path, required=True)
    p.add_argument("workflow", type=Path)
    a = p.parse_args()
    problems = problems_of(a.workflow, a.source)
    for problem in problems:
        print(f"FAIL: {a.workflow}: {problem}")
    if not problems:
        print(f"{a.workflow}: parses; its scripts exist; it builds as scripts/test.sh does")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
