"""libaxesif.so through ctypes: its exports, its error ring, both script
libraries in one process, and the script interface against rtframe -o,
drivesim and axmand."""

import ctypes
import os
import subprocess
import sys
import unittest
from ctypes import POINTER, byref, c_double, c_uint32

import axesif_script as ax
import frameshm_script

CLASSES = ["Axes_Manager_Interface", "Axis", "Schneider_Axis", "Festo_Axis", "Yaskawa_Axis", "Infranor_Axis",
           "Ingenia_Axis"]


def listed_names():
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "py_exports.txt")) as listing:
        return [line.strip() for line in listing if line.strip()]


class Exports(unittest.TestCase):
    def test_exactly_the_py_functions_and_the_classes(self):
        symbols = subprocess.run(["nm", "-D", "--defined-only", "-C", os.environ["AXESIF_LIBRARY"]], check=True,
                                 stdout=subprocess.PIPE, text=True).stdout
        py_functions, others = set(), []
        for line in symbols.splitlines():
            name = line.split(" ", 2)[2]
            if name.startswith("py_"):
                self.assertEqual(line.split()[1], "T", line)
                py_functions.add(name)
            else:
                others.append(name)
        listed = listed_names()
        self.assertEqual(len(listed), 29)
        self.assertEqual(py_functions, set(listed))
        self.assertEqual(set(ax.SIGNATURES), set(listed))
        heads = tuple(c + "::" for c in CLASSES) + tuple(
            kind + c for c in CLASSES for kind in ("vtable for ", "typeinfo for ", "typeinfo name for "))
        self.assertEqual([name for name in others if not name.startswith(heads)], [])
        self.assertTrue(any(name.startswith("Ingenia_Axis::get_error_string") for name in others))


class Error_Ring(unittest.TestCase):
    """In a process of its own: the ring is fresh."""

    def test_slots_wrap_after_twenty(self):
        lib = ax.library()
        self.assertEqual(lib.py_get_error_string_max_length(), 1000)
        unbound = ax.new_interface(self)
        slots = []
        for failure in range(20):
            if failure == 10:  # the ring works before its mutex gets its attributes, and after
                self.assertEqual(lib.py_init_mutex(), 0)
                self.assertEqual(lib.py_init_mutex(), 0)  # once only
            _, slot = unbound.call("py_refresh_ex")
            slots.append(slot)
        self.assertEqual(slots, list(range(1, 21)))
        self.assertIn("not initalized", ax.error_text(1))
        _, slot = unbound.call("py_get_axis_actual_position_ex", 5)
        self.assertEqual(slot, 1)
        self.assertIn("[Axes_Manager_Interface][get_axis_actual_position_ex] axis 5 out of range", ax.error_text(1))
        self.assertIn("not initalized", ax.error_text(2))

        for index in (0, 21):
            buffer = ctypes.create_string_buffer(b"\xaa" * 1000, 1000)
            lib.py_get_error_string(index, buffer)
            text = b"invalid index given to py_get_error_string"
            self.assertEqual(buffer.raw, text + b"\0" * (1000 - len(text)))

        # A null handle is a failure like any other.
        slot = c_uint32(ax.UNTOUCHED_SLOT)
        self.assertEqual(lib.py_get_axes_num_ex(None, byref(slot)), 0)
        self.assertIn("null axes manager interface handle", ax.error_text(slot.value))


def _fail_in_both(test, frameshm, axesif):
    """One failure in each library: each ring gives back its own text."""
    slot = c_uint32(0)
    manager = frameshm.py_framework_manager_new(byref(slot))
    test.assertEqual(slot.value, 0)
    frameshm.py_get_input_id(manager, byref(slot), b"no_such_input")
    frameshm_slot = slot.value
    test.assertNotEqual(frameshm_slot, 0)
    handle = axesif.py_axes_manager_interface_new(byref(slot), 0)
    axesif.py_get_axis_actual_position_ex(handle, byref(slot), 7)
    axesif_slot = slot.value
    test.assertNotEqual(axesif_slot, 0)

    frameshm_text = ctypes.create_string_buffer(1000)
    frameshm.py_get_error_string(frameshm_slot, frameshm_text)
    axesif_text = ctypes.create_string_buffer(1000)
    axesif.py_get_error_string(axesif_slot, axesif_text)
    test.assertNotIn(b"axis 7 out of range", frameshm_text.value)
    test.assertIn(b"[Axes_Manager_Interface][get_axis_actual_position_ex] axis 7 out of range", axesif_text.value)
    test.assertEqual(frameshm.py_get_error_string_max_length(None), 1000)
    test.assertEqual(axesif.py_get_error_string_max_length(), 1000)


class Frameshm_Global(unittest.TestCase):
    def test_each_library_keeps_its_ring(self):
        frameshm = ctypes.CDLL(os.environ["FRAMESHM_LIBRARY"], mode=ctypes.RTLD_GLOBAL)
        for name, (restype, argtypes) in frameshm_script.SIGNATURES.items():
            getattr(frameshm, name).restype = restype
            getattr(frameshm, name).argtypes = argtypes
        axesif = ax.library()
        self.assertEqual(frameshm.py_init_mutex(), 0)
        self.assertEqual(axesif.py_init_mutex(), 0)
        _fail_in_both(self, frameshm, axesif)


class Axesif_Global(unittest.TestCase):
    def test_each_library_keeps_its_ring(self):
        axesif = ax.library(mode=ctypes.RTLD_GLOBAL)
        frameshm = frameshm_script.library()
        self.assertEqual(axesif.py_init_mutex(), 0)
        self.assertEqual(frameshm.py_init_mutex(), 0)
        _fail_in_both(self, frameshm, axesif)


class Call_Order(unittest.TestCase):
    """The calling order of the script interface: reset, home, move, quick stop."""

    def setUp(self):
        self.cell = ax.Cell(ax.example_descriptor("schneider"), ["1001:schneider"])

    def tearDown(self):
        self.assertEqual(self.cell.stop(), [0, 0, 0])

    def test_reset_home_move_and_quick_stop(self):
        client = ax.Client(self)
        axes = client.axes
        self.assertEqual(axes.ok("py_get_axes_num_ex"), 1)
        client.run("py_reset_ex")
        self.assertFalse(axes.ok("py_is_last_command_completed"))  # true was given once
        client.run("py_do_axis_homing_ex", ax.Homing(35, 10.0, 20.0, 1000.0), 0)
        self.assertAlmostEqual(axes.ok("py_get_axis_actual_position_ex", 0), 0.0, delta=0.01)
        client.run("py_move_axis_to_absolute_target_position_ex", ax.Target_Position(20.0, 100.0, 1000.0), 0)
        self.assertAlmostEqual(axes.ok("py_get_axis_actual_position_ex", 0), 20.0, delta=0.01)
        client.run("py_move_axes_to_relative_target_position_ex", (ax.Target_Position * 1)((-5.0, 100.0, 1000.0)), 1)
        value = c_double(-1.0)
        pointers = (POINTER(c_double) * 1)(ctypes.pointer(value))
        axes.ok("py_get_axes_actual_position_ex", pointers, 1)
        self.assertAlmostEqual(value.value, 15.0, delta=0.01)

        axes.ok("py_move_axis_to_target_velocity_ex", ax.Target_Velocity(50.0, 500.0), 0)
        self.assertTrue(client.cycle_until(lambda: abs(axes.ok("py_get_axis_actual_velocity_ex", 0)) > 10.0))
        client.run("py_perform_quickstop_for_all_axes_ex")
        self.assertTrue(client.cycle_until(lambda: axes.ok("py_get_axis_actual_velocity_ex", 0) == 0.0))
        self.assertFalse(axes.ok("py_get_is_in_error_ex"))


class Bad_Requests(unittest.TestCase):
    """Requests that do not fit the manager's axes fail and write nothing."""

    def setUp(self):
        self.cell = ax.Cell(ax.example_descriptor("infranor"), ["1001:infranor"])

    def tearDown(self):
        self.assertEqual(self.cell.stop(), [0, 0, 0])

    def test_refused_without_writing(self):
        client = ax.Client(self)
        axes = client.axes
        self.cell.drive("fault 1001 0x2310")
        self.assertTrue(client.cycle_until(lambda: axes.ok("py_get_axis_error_code_ex", 0) == 0x2310))

        hex_text = ctypes.create_string_buffer(16)
        axes.ok("py_get_axis_error_code_as_hex_string_ex", 0, hex_text)
        self.assertEqual(hex_text.raw, b"0x2310" + b"\0" * 10)
        text = ctypes.create_string_buffer(b"\xaa" * 1000, 1000)
        axes.ok("py_get_axis_error_string_ex", 0, text)
        self.assertEqual(text.value, b"Overcurrent")

        for axis in (-1, 1):
            for name in ("py_get_axis_actual_position_ex", "py_get_axis_actual_velocity_ex",
                         "py_get_axis_error_code_ex"):
                self.assertIn("axis %d out of range" % axis, axes.failure(name, axis))
            for name in ("py_get_axis_error_code_as_hex_string_ex", "py_get_axis_error_string_ex"):
                untouched = ctypes.create_string_buffer(b"\xaa" * 16, 16)
                self.assertIn("axis %d out of range" % axis, axes.failure(name, axis, untouched))
                self.assertEqual(untouched.raw, b"\xaa" * 16)
            self.assertIn("axis %d out of range" % axis,
                          axes.failure("py_move_axis_to_absolute_target_position_ex",
                                       ax.Target_Position(1.0, 1.0, 1.0), axis))

        for axes_num in (2, -1, 1000):
            values = [c_double(123.0), c_double(123.0)]
            pointers = (POINTER(c_double) * 2)(*(ctypes.pointer(v) for v in values))
            for name in ("py_get_axes_actual_position_ex", "py_get_axes_actual_velocity_ex"):
                self.assertIn("axes_num %d does not fit the manager's 1 axes" % axes_num,
                              axes.failure(name, pointers, axes_num))
                self.assertEqual([v.value for v in values], [123.0, 123.0])
        targets = (ax.Target_Position * 1)((1.0, 1.0, 1.0))
        for name in ("py_move_axes_to_absolute_target_position_ex", "py_move_axes_to_relative_target_position_ex"):
            self.assertIn("axes_num 0 does not fit", axes.failure(name, targets, 0))
        self.assertIn("null array", axes.failure("py_do_axes_homing_ex", None, 1))


class Unsent_Command(unittest.TestCase):
    """Without axmand a command cannot be sent: the slot says so, and the
    command ends at once."""

    def setUp(self):
        self.cell = ax.Cell(ax.example_descriptor("schneider"), ["1001:schneider"], axmand=False)

    def tearDown(self):
        self.assertEqual(self.cell.stop(), [0, 0])

    def test_send_error_in_the_slot(self):
        client = ax.Client(self)
        axes = client.axes
        for name, arguments in (("py_reset_ex", ()), ("py_perform_detorque_for_all_axes_ex", ()),
                                ("py_do_axis_homing_ex", (ax.Homing(35, 1.0, 1.0, 1.0), 0))):
            self.assertIn("No server is waiting for a command", axes.failure(name, *arguments))
            self.assertTrue(axes.ok("py_is_last_command_completed"))
            self.assertFalse(axes.ok("py_is_last_command_completed"))


class Example(unittest.TestCase):
    """examples/python/move_axis.py against a cell."""

    def setUp(self):
        self.cell = ax.Cell(ax.example_descriptor("schneider"), ["1001:schneider"])

    def tearDown(self):
        self.assertEqual(self.cell.stop(), [0, 0, 0])

    def test_move_axis(self):
        script = os.path.join(os.environ["CELL_SOURCE_DIR"], "examples", "python", "move_axis.py")
        result = subprocess.run([sys.executable, script, "--frameshm", os.environ["FRAMESHM_LIBRARY"], "--axesif",
                                 os.environ["AXESIF_LIBRARY"], "--target", "12.5"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = [line for line in result.stdout.splitlines() if not line.startswith("[")]
        self.assertEqual(lines, ["reset done", "homing done", "move to 12.5 done", "position = 12.500"])


if __name__ == "__main__":
    unittest.main()
