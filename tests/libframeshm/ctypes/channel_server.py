"""A command server in a process of its own, for test_channels.py.

    python3 channel_server.py CHANNEL COMMANDS DELAY_MS

Attaches, opens CHANNEL (a channel with the data of CHANNEL_DATA on both
sides) as its server, prints "ready" and serves COMMANDS commands: each answer
datum is answer_to() of the command datum of the same label, sent DELAY_MS
after the command came. At the end of
its input it gives the channel up and ends (given up earlier, the release
would end a client's wait for the last answer with an error). Its standard
output carries only its own lines; the library's log lines go to standard
error.
"""

import ctypes
import os
import sys
import time
import unittest

from frameshm_script import DATA_VALUE_TYPES, library, new_manager

# label, script suffix, on both sides of the channel
CHANNEL_DATA = [("i8", "int8"), ("u8", "uint8"), ("i16", "int16"), ("u16", "uint16"), ("i32", "int32"),
                ("u32", "uint32"), ("i64", "int64"), ("u64", "uint64"), ("f32", "float"), ("f64", "double")]
BYTES_LABEL, BYTES_SIZE = "bytes", 12


def answer_to(suffix, value):
    """The answer to a command datum: every bit flipped, floating-point values doubled and negated."""
    if suffix in ("float", "double"):
        return -2 * value
    if suffix.startswith("uint"):
        return value ^ ((1 << ctypes.sizeof(DATA_VALUE_TYPES[suffix]) * 8) - 1)
    return ~value


def answer_bytes(command):
    return list(reversed(command))


def main(channel, commands, delay_ms):
    protocol = os.fdopen(os.dup(1), "w")
    os.dup2(2, 1)
    checks = unittest.TestCase()
    library().py_init_mutex()
    manager = new_manager(checks, "py_channel_server")
    cmd = manager.ok("py_get_cmd_channel_id_as_server", channel.encode())
    checks.assertEqual(manager.ok("py_try_acquire_cmd_as_server", cmd), 1)
    labels = [label for label, _ in CHANNEL_DATA] + [BYTES_LABEL]
    received = {label: manager.ok("py_get_cmd_data_id_to_recv", cmd, label.encode()) for label in labels}
    answered = {label: manager.ok("py_get_cmd_data_id_to_send", cmd, label.encode()) for label in labels}
    print("ready", file=protocol, flush=True)
    for _ in range(commands):
        checks.assertEqual(manager.ok("py_wait_cmd", cmd, 0.0), 1)  # without limit
        for label, suffix in CHANNEL_DATA:
            value = manager.ok("py_get_cmd_data_" + suffix, cmd, received[label])
            manager.ok("py_set_answer_data_" + suffix, cmd, answered[label], answer_to(suffix, value))
        command = (ctypes.c_uint8 * BYTES_SIZE)()
        manager.ok("py_get_cmd_data_byte_array", cmd, received[BYTES_LABEL], command, BYTES_SIZE, 0)
        answer = (ctypes.c_uint8 * BYTES_SIZE)(*answer_bytes(list(command)))
        manager.ok("py_set_answ_data_byte_array", cmd, answered[BYTES_LABEL], answer, BYTES_SIZE, 0)
        time.sleep(delay_ms / 1000)
        manager.ok("py_send_answer", cmd)
    sys.stdin.read()
    manager.ok("py_release_cmd_as_server", cmd)


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]))
