"""The library exports exactly the py_ functions listed in py_exports.txt,
and the script tests declare a signature for each of them."""

import os
import subprocess
import unittest

from frameshm_script import SIGNATURES


def listed_names():
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "py_exports.txt")) as listing:
        names = [line.strip() for line in listing if line.strip()]
    return names


class Exports(unittest.TestCase):
    def test_library_exports_exactly_the_listed_py_functions(self):
        symbols = subprocess.run(["nm", "-D", "--defined-only", os.environ["FRAMESHM_LIBRARY"]], check=True,
                                 stdout=subprocess.PIPE, text=True).stdout
        exported = {}
        for line in symbols.splitlines():
            fields = line.split()
            if len(fields) == 3 and fields[2].startswith("py_"):
                exported[fields[2]] = fields[1]
        listed = listed_names()
        self.assertEqual(len(listed), len(set(listed)), "py_exports.txt names a function twice")
        self.assertEqual(sorted(set(exported) - set(listed)), [], "exported but not listed")
        self.assertEqual(sorted(set(listed) - set(exported)), [], "listed but not exported")
        self.assertEqual({name for name, kind in exported.items() if kind != "T"}, set(), "not plain functions")

    def test_every_listed_function_has_a_signature_in_the_tests(self):
        self.assertEqual(set(SIGNATURES), set(listed_names()))


if __name__ == "__main__":
    unittest.main()
