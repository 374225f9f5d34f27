"""A handle of a script interface (libframeshm.so, libaxesif.so) loaded through
ctypes, for the script tests: every call passes a fresh error slot, and a slot
names a message in the library's error ring."""

import ctypes
from ctypes import byref, c_uint32

ERROR_STRING_MAX_LENGTH = 1000
RING_SIZE = 20
UNTOUCHED_SLOT = 0xDEAD


def error_text(library, slot):
    """The message of a ring slot, read through py_get_error_string."""
    buffer = ctypes.create_string_buffer(ERROR_STRING_MAX_LENGTH)
    library.py_get_error_string(slot, buffer)
    return buffer.value.decode()


def check_slot(test, library, slot, name):
    """Asserts that slot names a ring entry and returns its message."""
    test.assertTrue(1 <= slot <= RING_SIZE, "%s: slot %d, expected a failure" % (name, slot))
    return error_text(library, slot)


class Slot_Handle:
    """One handle; library() gives the loaded library with its signatures."""

    def __init__(self, test, handle, library):
        self.test = test
        self.handle = handle
        self._library = library

    def call(self, name, *arguments):
        """(result, slot) of the function called with the handle and a slot."""
        slot = c_uint32(UNTOUCHED_SLOT)
        result = getattr(self._library(), name)(self.handle, byref(slot), *arguments)
        return result, slot.value

    def ok(self, name, *arguments):
        result, slot = self.call(name, *arguments)
        if slot != 0:
            self.test.fail("%s failed (slot %d): %s" %
                           (name, slot, error_text(self._library(), slot) if slot <= RING_SIZE else ""))
        return result

    def failed_call(self, name, *arguments):
        """(result, message) of a call that must fail."""
        result, slot = self.call(name, *arguments)
        return result, check_slot(self.test, self._library(), slot, name)
