#!/usr/bin/env python3
"""Attaches to the running framework and prints one cyclic input.

    python3 read_variable.py [path/to/libframeshm.so] [label]
"""
import ctypes
import sys

library = sys.argv[1] if len(sys.argv) > 1 else "libframeshm.so"
label = sys.argv[2] if len(sys.argv) > 2 else "recipe_id"

shm = ctypes.CDLL(library)
handle, slot, text = ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint32), ctypes.c_char_p
shm.py_framework_manager_new.restype = handle
shm.py_framework_manager_new.argtypes = [slot]
shm.py_init.argtypes = [handle, slot, text, ctypes.c_int, ctypes.c_int]
shm.py_get_input_id.argtypes = [handle, slot, text]
shm.py_refresh_data.argtypes = [handle, slot, ctypes.POINTER(ctypes.c_uint32)]
shm.py_get_input_uint32_t.restype = ctypes.c_uint32
shm.py_get_input_uint32_t.argtypes = [handle, slot, ctypes.c_int]
shm.py_get_error_string.argtypes = [ctypes.c_uint, text]

error = ctypes.c_uint32(0)


def check():
    if error.value != 0:
        message = ctypes.create_string_buffer(1000)
        shm.py_get_error_string(error.value, message)
        sys.exit(message.value.decode())


shm.py_init_mutex()
manager = shm.py_framework_manager_new(ctypes.byref(error)); check()
shm.py_init(manager, ctypes.byref(error), b"read_variable", 4, 1); check()
variable = shm.py_get_input_id(manager, ctypes.byref(error), label.encode()); check()
shm.py_refresh_data(manager, ctypes.byref(error), None); check()
value = shm.py_get_input_uint32_t(manager, ctypes.byref(error), variable); check()
print(label, "=", value)
