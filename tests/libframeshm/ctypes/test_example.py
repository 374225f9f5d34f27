"""examples/python/read_variable.py and the example of doc/python.md against
rtframe -o on the example descriptor, started from the checkout as in
doc/python.md."""

import os
import subprocess
import sys
import unittest

from frameshm_script import Rtframe


class Read_Variable_Example(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = os.environ["CELL_SOURCE_DIR"]
        cls.server = Rtframe.start_ready(["-o", "-s", "-d", "-c", "examples/application_descriptor.xml"],
                                         cwd=cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop_cleanly()

    def run_example(self, *arguments):
        script = os.path.join(self.root, "examples", "python", "read_variable.py")
        return subprocess.run([sys.executable, script, os.environ["FRAMESHM_LIBRARY"], *arguments],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)

    def test_the_documented_example_prints_the_variable(self):
        with open(os.path.join(self.root, "doc", "python.md")) as page:
            text = page.read()
        start = text.index("```python\n", text.index("## A Python script")) + len("```python\n")
        example = text[start:text.index("```", start)]
        self.assertIn('ctypes.CDLL("libframeshm.so")', example)
        example = example.replace('"libframeshm.so"', repr(os.environ["FRAMESHM_LIBRARY"]))
        done = subprocess.run([sys.executable, "-c", example], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.splitlines()[-1], "recipe_id = 7")

    def test_prints_the_variable(self):
        done = self.run_example()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(done.stdout.splitlines()[-1], "recipe_id = 7")  # its default in the descriptor

    def test_reports_the_library_message(self):
        done = self.run_example("no_such_variable")
        self.assertNotEqual(done.returncode, 0)
        self.assertEqual(done.stderr.splitlines()[-1], "[Framework_Shared_Memory_Manager][get_input_id_ex] "
                                                       "input name is not valid :: no_such_variable")


if __name__ == "__main__":
    unittest.main()
