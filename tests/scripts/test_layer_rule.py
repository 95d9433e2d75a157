"""The include checker (scripts/check-include-cycles.py) against planted
faults in a small tree of its own, and against the real tree."""
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
CHECKER = os.path.join(ROOT, "scripts", "check-include-cycles.py")


def check(*args):
    return subprocess.run([sys.executable, CHECKER, *args], capture_output=True, text=True)


class LayerRule(unittest.TestCase):
    def test_real_tree_passes(self):
        result = check()
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_planted_faults_are_named(self):
        # (files of the tree, the text the failure must show; None: it passes)
        cases = [
            ({"src/config/a.h": '#include "common/b.h"', "src/common/b.h": ""}, None),
            ({"src/config/a.h": "", "src/config/a.cpp": '\n#include "jvm/b.h"', "src/jvm/b.h": ""},
             "src/config/a.cpp:2: includes src/jvm/b.h: layer src/config (rank 2) may not "
             "include the higher layer src/jvm (rank 4)"),
            ({"src/common/a.h": '#include "tools/kernopack/b.h"', "tools/kernopack/b.h": ""},
             "src/common/a.h:1: includes tools/kernopack/b.h: nothing in src/ may include"),
            ({"tools/kernopack/io/a.cpp": '#include "msi/b.h"', "tools/kernopack/msi/b.h": ""},
             "tools/kernopack/io/a.cpp:1: includes tools/kernopack/msi/b.h: layer "
             "tools/kernopack/io (rank 9) may not include the higher layer tools/kernopack/msi "
             "(rank 12); the order is kernopack > msi > import > description > image > io"),
            ({"tools/kernopack/import/a.cpp": '#include "msi/b.h"', "tools/kernopack/msi/b.h": ""},
             "tools/kernopack/import/a.cpp:1: includes tools/kernopack/msi/b.h: layers "
             "tools/kernopack/import and tools/kernopack/msi share rank 12: neither may include the other"),
            ({"tools/kernopack/a.cpp": '#include "config/b_win.h"', "src/config/b_win.h": ""},
             "the packer's pure code may include only the pure code of src/"),
            ({"tools/kernopack/a_win.cpp": '#include "config/b_win.h"', "src/config/b_win.h": ""},
             None),
            ({"src/extra/a.h": ""} | {"src/extra/a.cpp": '#include "extra/a.h"'},
             "src/extra is not in the layer table"),
            ({"src/files/a.h": '#include "files/b.h"', "src/files/b.h": '#include "files/a.h"'},
             "include circle of 2 units: src/files/a src/files/b"),
        ]
        for files, expected in cases:
            with self.subTest(files=sorted(files)), tempfile.TemporaryDirectory() as tree:
                for path, text in files.items():
                    os.makedirs(os.path.dirname(os.path.join(tree, path)), exist_ok=True)
                    with open(os.path.join(tree, path), "w") as f:
                        f.write(text + "\n")
                result = check("--root", tree)
                if expected is None:
                    self.assertEqual(result.returncode, 0, result.stderr)
                else:
                    self.assertEqual(result.returncode, 1)
                    self.assertIn(expected, result.stderr)


if __name__ == "__main__":
    unittest.main()
