"""scripts/ctest_twice on a small CTest project of passing, failing and
once-failing cases: which cases it lists as needing their second run, the
failure report it repeats for them, and its exit status."""
import os
import subprocess
import tempfile
import unittest

SOURCE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(SOURCE, "..", "..", "scripts", "ctest_twice")
CASES = os.path.join(SOURCE, "ctest_twice_cases")

# (selection, exit status, cases listed, text that must show, text that must not)
TABLE = [
    ("^Passes$", 0, [], "no case needed its second run", "passed only"),
    ("^Fails$", 8, [], "no case needed its second run", "passed only"),
    ("^FailsOnce$", 1, ["FailsOnce"], "without a FLAKY_<reason> label: the run fails", "known:"),
    # The first run's failure report is repeated after the run, from the report on.
    ("^FailsOnce$", 1, ["FailsOnce"], "its first run:\n    once.cpp:7: Failure\n    the first run failed\n",
     "    setting up"),
    ("^FailsOnceKnown$", 0, ["FailsOnceKnown"], "known: FLAKY_EXAMPLE", "the run fails"),
    ("^(Passes|FailsOnce|FailsOnceKnown)$", 1, ["FailsOnce", "FailsOnceKnown"], "1 of them without", None),
    ("^(Fails|FailsOnce)$", 8, ["FailsOnce"], "passed only on their second run", "the run fails"),
]


def listed(output):
    """Names of the cases listed as passed on their second run."""
    names = []
    for line in output.splitlines():
        if line.startswith("  #") and "(first run: " in line:
            names.append(line.split()[1])
    return names


class Ctest_Twice(unittest.TestCase):
    def run_selection(self, selection):
        with tempfile.TemporaryDirectory() as build:
            subprocess.run(["cmake", "-S", CASES, "-B", build], check=True, capture_output=True)
            return subprocess.run([SCRIPT, "--output-on-failure", "-R", selection], cwd=build, capture_output=True, text=True)

    def test_lists_second_runs_and_fails_unless_labelled(self):
        for selection, status, cases, shown, not_shown in TABLE:
            with self.subTest(selection=selection):
                result = self.run_selection(selection)
                self.assertEqual(result.returncode, status, result.stdout + result.stderr)
                self.assertEqual(listed(result.stdout), cases, result.stdout)
                self.assertIn(shown, result.stdout)
                if not_shown:
                    self.assertNotIn(not_shown, result.stdout)


if __name__ == "__main__":
    unittest.main()
