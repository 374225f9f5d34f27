#pragma once

// Process-wide state of the cell application that several threads read:
// the application status, the device identifier, and the lock under which
// every call into the axes interface runs.

#include <cstdint>
#include <mutex>
#include <string>

enum Ondara_Program_Status : int8_t {
    UNINITIALIZED = 0,
    WAIT_NETWORK_CONFIRMATION = 1,
    STARTING = 2,
    OP_MODE = 3,
};

// The application status 0 to 3.
int get_ondara_program_status();
// Raises the status; a lower value is ignored (the status only rises).
void raise_ondara_program_status(Ondara_Program_Status status);
std::string get_ondara_id();
void set_ondara_id(const std::string& id);

// The axes interface guards only its command state: its refresh and every
// other call are made under this lock, taken after any other lock.
std::mutex& axes_interface_mutex();

// Ends the process with the code at once: standard output is flushed and no
// other thread runs on (no static destructor runs while they use the globals).
[[noreturn]] void end_process(int code);
