"""Attach, the cycle, the refresh period, the watchdog, the save request and
the semaphore trace through the script interface, against rtframe -o."""

import ctypes
import os
import tempfile
import time
import unittest
from ctypes import byref, c_uint8, c_uint32

from frameshm_script import ERROR_STRING_MAX_LENGTH, Rtframe_Case, check_slot, default_in_file, library

CYCLE_NS = 1000000  # of the test descriptor


def captured_stdout(action):
    """What action() writes on file descriptor 1."""
    with tempfile.TemporaryFile() as capture:
        saved = os.dup(1)
        os.dup2(capture.fileno(), 1)
        try:
            action()
        finally:
            os.dup2(saved, 1)
            os.close(saved)
        capture.seek(0)
        return capture.read().decode(errors="replace")


class Attach_And_Cycle(Rtframe_Case):
    def test_attach_and_refresh_cycles(self):
        manager = self.attach("py_cycle")
        self.assertEqual(manager.ok("py_get_master_cycle_time_ns"), CYCLE_NS)
        ticks = []
        for _ in range(5):
            tick = c_uint32(0)
            self.assertGreaterEqual(manager.ok("py_refresh_data", byref(tick)), 0)
            ticks.append(tick.value)
        self.assertEqual(ticks, sorted(set(ticks)), "every refresh brings a later tick")

    def test_master_state_and_tick_come_back_in_their_own_places(self):
        manager = self.attach("py_state")
        previous = c_uint32(0)
        manager.ok("py_refresh_data", byref(previous))
        self.assertGreater(previous.value, 1)
        tick, online = c_uint32(0), c_uint8(7)
        self.assertGreaterEqual(manager.ok("py_refresh_data_and_get_ec_master_state", byref(tick), byref(online)), 0)
        self.assertEqual(online.value, 1)  # the simulated master counts as online
        self.assertGreater(tick.value, previous.value)

    def test_header_version_is_checked(self):
        for version, accepted in (((4, 0), True), ((4, 2), False), ((3, 1), False)):
            with self.subTest(version=version):
                manager = self.attach(None)
                _, slot = manager.call("py_init", b"py_version", *version)
                if accepted:
                    self.assertEqual(slot, 0)
                else:
                    self.assertEqual(check_slot(self, slot, "py_init"),
                                     "[Framework_Shared_Memory_Manager][check_h_compatibility_version_ex] "
                                     "xelo_framework_shm_manager not compatible with this library version!")

    def test_a_long_message_is_cut_to_the_buffer(self):
        manager = self.attach("py_long")
        label = b"x" * 1500
        _, slot = manager.call("py_get_input_id", label)
        size = ERROR_STRING_MAX_LENGTH + 100
        buffer = ctypes.create_string_buffer(b"\xaa" * size, size)
        library().py_get_error_string(slot, buffer)
        prefix = b"[Framework_Shared_Memory_Manager][get_input_id_ex] input name is not valid :: "
        expected = (prefix + label)[:ERROR_STRING_MAX_LENGTH - 1] + b"\0"
        self.assertEqual(buffer.raw[:ERROR_STRING_MAX_LENGTH], expected)
        self.assertEqual(buffer.raw[ERROR_STRING_MAX_LENGTH:], b"\xaa" * 100)


class Refresh_Period_And_Watchdog(Rtframe_Case):
    def test_refresh_period_in_whole_cycles(self):
        manager = self.attach("py_period")
        self.assertEqual(manager.failure("py_set_refresh_time_ns", CYCLE_NS - 1)[1],
                         "[Framework_Shared_Memory_Manager][set_refresh_time_ns_ex] Failed to set refresh value -> "
                         "refresh_time < master_cycle_time")
        manager.ok("py_set_refresh_time_ns", 2 * CYCLE_NS + CYCLE_NS // 2)  # 2 cycles
        ticks = []
        for _ in range(12):
            tick = c_uint32(0)
            manager.ok("py_refresh_data", byref(tick))
            ticks.append(tick.value)
        steps = [later - earlier for earlier, later in zip(ticks[3:], ticks[4:])]
        self.assertTrue(all(step % 2 == 0 for step in steps), steps)
        self.assertEqual(min(steps), 2, steps)

    def test_watchdog_switches_the_refresh_time_out(self):
        manager = self.attach("py_timeout")
        manager.ok("py_set_refresh_time_ns", 1000 * CYCLE_NS)  # one wake-up a second
        self.assertGreaterEqual(manager.refresh(), 0)
        self.assertGreaterEqual(manager.refresh(), 0)  # just woken: the next wake-up is a second away
        manager.ok("py_set_watchdog_value", 0)  # time-out 0
        for switch, times_out in (("py_turn_on_watchdog", True), ("py_turn_off_watchdog", False),
                                  ("py_turn_on_watchdog", True)):
            with self.subTest(switch):
                manager.ok(switch)
                started = time.monotonic()
                result = manager.refresh()
                if times_out:
                    self.assertEqual(result, -2)
                    self.assertLess(time.monotonic() - started, 0.5)
                else:
                    self.assertGreaterEqual(result, 0)  # waited up to 2 s for the next wake-up

    def test_silent_application_is_released_only_with_the_watchdog_on(self):
        for switches, released in ((["py_turn_on_watchdog"], True),
                                   (["py_turn_on_watchdog", "py_turn_off_watchdog"], False)):
            with self.subTest(switches=switches):
                manager = self.attach("py_watchdog")
                manager.ok("py_set_watchdog_value", 5)
                for switch in switches:
                    manager.ok(switch)
                self.assertGreaterEqual(manager.refresh(), 0)
                time.sleep(0.2)  # 200 periods without a refresh
                if released:
                    self.assertEqual(manager.refresh(), -1)
                    self.assertEqual(manager.refresh(), -2)
                else:
                    self.assertGreaterEqual(manager.refresh(), 100)  # the periods missed
                    self.assertGreaterEqual(manager.refresh(), 0)


class Save_And_Trace(Rtframe_Case):
    def test_current_value_becomes_the_saved_default(self):
        manager = self.attach("py_saver")
        output = manager.ok("py_get_output_rw_id", b"save_u16", 0)
        manager.ok("py_set_output_uint16_t", output, 1000)
        manager.refresh()
        manager.ok("py_set_current_value_as_default_ex", output)
        self.assertEqual(default_in_file(self.descriptor, "save_u16"), "7")
        manager.ok("py_save_cfg_file")
        self.assertEqual(default_in_file(self.descriptor, "save_u16"), "1000")
        self.assertEqual(default_in_file(self.descriptor, "save_u8"), "3")

        other = self.attach("py_not_owner")
        self.assertIn("Sorry, output_id not taken!", other.failure("py_set_current_value_as_default_ex", output)[1])

    def test_semaphore_trace_switches(self):
        manager = self.attach("py_trace")
        printed = captured_stdout(lambda: (manager.ok("py_enable_trace_semaphore"),
                                           manager.ok("py_disable_trace_sempahore")))
        self.assertEqual([line for line in printed.splitlines() if "enable_semaphore_trace" in line],
                         ["[framework shared memory manager] [enable_semaphore_trace] --> ACTIVATED",
                          "[framework shared memory manager] [enable_semaphore_trace] --> DEACTIVATED"])


if __name__ == "__main__":
    unittest.main()
