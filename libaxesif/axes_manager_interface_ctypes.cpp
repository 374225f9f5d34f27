// The script interface: plain exported functions over Axes_Manager_Interface
// with a library-wide ring of error texts.

#include "axes_manager_interface_ctypes.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "error_text_ring.h"

namespace {

constexpr std::size_t STRING_BUFFER_LENGTH = 20;
constexpr std::size_t ERROR_STRING_MAX_LEN = 1000;
constexpr const char* INVALID_INDEX_TEXT = "invalid index given to py_get_error_string";
constexpr const char* UNKNOWN_EXCEPTION_TEXT =
    "[axes_manager_interface_ctypes] exception of a type not derived from std::exception";

// Usable from load on; py_init_mutex gives it its attributes once.
pthread_mutex_t mtx = PTHREAD_MUTEX_INITIALIZER;
bool mtx_initialized = false;
Error_Text_Ring<STRING_BUFFER_LENGTH, ERROR_STRING_MAX_LEN> error_ring(mtx);

// Only inside a catch handler: stores the exception being handled; a thread's
// cancellation goes on unwinding.
uint32_t store_current_exception()
{
    return error_ring.push_current_exception(UNKNOWN_EXCEPTION_TEXT);
}

void set_slot(uint32_t* error_occurred, uint32_t slot) noexcept
{
    if (error_occurred != nullptr)
        *error_occurred = slot;
}

Axes_Manager_Interface& interface_of_ex(Axes_Manager_Interface* am_iface)
{
    if (am_iface == nullptr)
        throw std::invalid_argument("[axes_manager_interface_ctypes] null axes manager interface handle");
    return *am_iface;
}

template <typename Result, typename Operation>
Result guarded(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, Result default_value, Operation&& op)
{
    try {
        const Result result = op(interface_of_ex(am_iface));
        set_slot(error_occurred, 0);
        return result;
    } catch (...) {
        set_slot(error_occurred, store_current_exception());
        return default_value;
    }
}

template <typename Operation>
void guarded_void(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, Operation&& op)
{
    guarded(am_iface, error_occurred, false, [&](Axes_Manager_Interface& i) {
        op(i);
        return true;
    });
}

// A command operation: a send that failed becomes the call's error.
template <typename Operation>
void guarded_command(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, Operation&& op)
{
    guarded_void(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        op(i);
        const std::string error = i.get_last_send_error();
        if (!error.empty())
            throw std::runtime_error(error);
    });
}

// Copies a text into a caller buffer of ERROR_STRING_MAX_LEN bytes: at most
// ERROR_STRING_MAX_LEN - 1 characters and a terminating zero.
void copy_text_ex(char* buffer, const std::string& text)
{
    if (buffer == nullptr)
        throw std::invalid_argument("[axes_manager_interface_ctypes] null text buffer");
    const std::size_t length = std::min(text.size(), ERROR_STRING_MAX_LEN - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

int checked_axes_num_ex(Axes_Manager_Interface& i, int axes_num, bool at_least_axes, const char* function)
{
    const int axes = i.axes_count_ex();
    const bool fits = at_least_axes ? axes_num >= axes : axes_num >= 0 && axes_num <= axes;
    if (!fits)
        throw std::out_of_range(std::string("[axes_manager_interface_ctypes][") + function + "] axes_num " +
                                std::to_string(axes_num) + " does not fit the manager's " + std::to_string(axes) +
                                " axes");
    return axes_num;
}

template <typename Record>
std::vector<Record> records_ex(Axes_Manager_Interface& i, const Record* records, int axes_num, const char* function)
{
    if (records == nullptr)
        throw std::invalid_argument(std::string("[axes_manager_interface_ctypes][") + function + "] null array");
    const int n = checked_axes_num_ex(i, axes_num, true, function);
    return std::vector<Record>(records, records + n);
}

void write_values_ex(const std::vector<double>& values, double** out, int axes_num, const char* function)
{
    if (out == nullptr)
        throw std::invalid_argument(std::string("[axes_manager_interface_ctypes][") + function + "] null array");
    for (int k = 0; k < axes_num; ++k)
        if (out[k] == nullptr)
            throw std::invalid_argument(std::string("[axes_manager_interface_ctypes][") + function +
                                        "] null pointer at entry " + std::to_string(k));
    for (int k = 0; k < axes_num; ++k)
        *out[k] = values[static_cast<std::size_t>(k)];
}

// A process-private mutex with the three switches; 0 or the failing call's error.
int mtx_initialization(pthread_mutex_t* mtx_ptr, bool pshared, bool prio_inherit, bool error_check)
{
    pthread_mutexattr_t attributes;
    bool have_attributes = false;
    int result = pthread_mutexattr_init(&attributes);
    if (result != 0) {
        std::printf("[axes_manager_interface_ctypes][set_pthread_mutex_attr_ex] pthread_mutexattr_init error = %d\n",
                    result);
    } else {
        have_attributes = true;
        do {
            if (pshared && (result = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED)) != 0) {
                std::printf(
                    "[axes_manager_interface_ctypes][set_pthread_mutex_attr_ex] pthread_mutexattr_setpshared "
                    "error = %d\n",
                    result);
                break;
            }
            if (prio_inherit && (result = pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT)) != 0) {
                std::printf(
                    "[axes_manager_interface_ctypes][set_pthread_mutex_attr_ex] pthread_mutexattr_setprotocol "
                    "error = %d\n",
                    result);
                break;
            }
            if (error_check && (result = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK)) != 0)
                std::printf(
                    "[axes_manager_interface_ctypes][set_pthread_mutex_attr_ex] pthread_mutexattr_settype "
                    "error = %d\n",
                    result);
        } while (false);
    }
    pthread_mutexattr_t* used = have_attributes ? &attributes : nullptr;
    int status = pthread_mutex_init(mtx_ptr, used);
    if (status != 0) {
        result = pthread_mutex_destroy(mtx_ptr);
        if (result != 0) {
            std::printf("[xelo_shm_manager_ctypes][set_pthread_mutex_attr_ex] pthread_mutex_destroy error = %d\n",
                        result);
            status = result;
        } else {
            status = pthread_mutex_init(mtx_ptr, used);
            if (status != 0)
                std::printf("[xelo_shm_manager_ctypes][set_pthread_mutex_attr_ex] pthread_mutex_init error = %d\n",
                            status);
        }
    }
    if (have_attributes)
        pthread_mutexattr_destroy(&attributes);
    std::fflush(stdout);
    return status;
}

}  // namespace

// ---- set-up and the error ring -------------------------------------------------------------

int py_init_mutex()
{
    if (mtx_initialized)
        return 0;
    const int result = mtx_initialization(&mtx, false, true, true);
    if (result == 0)
        mtx_initialized = true;
    return result;
}

int py_get_error_string_max_length()
{
    return static_cast<int>(ERROR_STRING_MAX_LEN);
}

void py_get_error_string(unsigned int index, char* error_string)
{
    if (error_string == nullptr)
        return;
    error_ring.copy_out(index, error_string, INVALID_INDEX_TEXT);
}

Axes_Manager_Interface* py_axes_manager_interface_new(uint32_t* error_occurred, int axes_manager_idx)
{
    try {
        Axes_Manager_Interface* handle = new Axes_Manager_Interface(axes_manager_idx);
        set_slot(error_occurred, 0);
        return handle;
    } catch (...) {
        set_slot(error_occurred, store_current_exception());
        return nullptr;
    }
}

void py_setup_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, Framework_Shared_Memory_Manager* fw_ptr)
{
    guarded_void(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        if (fw_ptr == nullptr)
            throw std::invalid_argument("[axes_manager_interface_ctypes][py_setup_ex] null framework manager handle");
        i.setup_ex(fw_ptr);
    });
}

void py_refresh_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred)
{
    guarded_void(am_iface, error_occurred, [](Axes_Manager_Interface& i) { i.refresh_ex(); });
}

void py_acquire_control_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred)
{
    guarded_void(am_iface, error_occurred, [](Axes_Manager_Interface& i) { i.acquire_control_ex(); });
}

void py_release_control_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred)
{
    guarded_void(am_iface, error_occurred, [](Axes_Manager_Interface& i) { i.release_control_ex(); });
}

// ---- status -------------------------------------------------------------------------------

int py_get_axes_num_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred)
{
    return guarded(am_iface, error_occurred, 0, [](Axes_Manager_Interface& i) { return i.get_axes_num_ex(); });
}

void py_get_axes_actual_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                    double** actual_positions, int axes_num)
{
    guarded_void(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        const int n = checked_axes_num_ex(i, axes_num, false, "py_get_axes_actual_position_ex");
        write_values_ex(i.get_axes_actual_position_ex(), actual_positions, n, "py_get_axes_actual_position_ex");
    });
}

double py_get_axis_actual_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, int axis_id)
{
    return guarded(am_iface, error_occurred, 0.0,
                   [&](Axes_Manager_Interface& i) { return i.get_axis_actual_position_ex(axis_id); });
}

void py_get_axes_actual_velocity_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                    double** actual_velocities, int axes_num)
{
    guarded_void(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        const int n = checked_axes_num_ex(i, axes_num, false, "py_get_axes_actual_velocity_ex");
        write_values_ex(i.get_axes_actual_velocity_ex(), actual_velocities, n, "py_get_axes_actual_velocity_ex");
    });
}

double py_get_axis_actual_velocity_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, int axis_id)
{
    return guarded(am_iface, error_occurred, 0.0,
                   [&](Axes_Manager_Interface& i) { return i.get_axis_actual_velocity_ex(axis_id); });
}

bool py_get_is_in_error_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred)
{
    return guarded(am_iface, error_occurred, false, [](Axes_Manager_Interface& i) { return i.get_is_in_error_ex(); });
}

int py_get_axis_error_code_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, int axis_id)
{
    return guarded(am_iface, error_occurred, 0,
                   [&](Axes_Manager_Interface& i) { return i.get_axis_error_code_ex(axis_id); });
}

void py_get_axis_error_code_as_hex_string_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, int axis_id,
                                             char* error_hex_string)
{
    guarded_void(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        copy_text_ex(error_hex_string, i.get_axis_error_code_as_hex_string_ex(axis_id));
    });
}

void py_get_axis_error_string_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred, int axis_id,
                                 char* error_string)
{
    guarded_void(am_iface, error_occurred,
                 [&](Axes_Manager_Interface& i) { copy_text_ex(error_string, i.get_axis_error_string_ex(axis_id)); });
}

// ---- commands -----------------------------------------------------------------------------

void py_move_axes_to_absolute_target_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                 Axes_Manager_Target_Position* target_positions, int axes_num)
{
    guarded_command(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        i.move_axes_to_absolute_target_position_ex(
            records_ex(i, target_positions, axes_num, "py_move_axes_to_absolute_target_position_ex"));
    });
}

void py_move_axis_to_absolute_target_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                 Axes_Manager_Target_Position target_positions, int axis_id)
{
    guarded_command(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        i.move_axis_to_absolute_target_position_ex(axis_id, target_positions);
    });
}

void py_move_axes_to_relative_target_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                 Axes_Manager_Target_Position* target_positions, int axes_num)
{
    guarded_command(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        i.move_axes_to_relative_target_position_ex(
            records_ex(i, target_positions, axes_num, "py_move_axes_to_relative_target_position_ex"));
    });
}

void py_move_axis_to_relative_target_position_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                                 Axes_Manager_Target_Position target_position, int axis_id)
{
    guarded_command(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        i.move_axis_to_relative_target_position_ex(axis_id, target_position);
    });
}

void py_move_axes_to_target_velocity_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                        Axes_Manager_Target_Velocity* target_velocities, int axes_num)
{
    guarded_command(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        i.move_axes_to_target_velocity_ex(
            records_ex(i, target_velocities, axes_num, "py_move_axes_to_target_velocity_ex"));
    });
}

void py_move_axis_to_target_velocity_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                                        Axes_Manager_Target_Velocity target_velocity, int axis_id)
{
    guarded_command(am_iface, error_occurred,
                    [&](Axes_Manager_Interface& i) { i.move_axis_to_target_velocity_ex(axis_id, target_velocity); });
}

void py_do_axes_homing_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                          Axes_Manager_Homing* homing_parameters, int axes_num)
{
    guarded_command(am_iface, error_occurred, [&](Axes_Manager_Interface& i) {
        i.do_axes_homing_ex(records_ex(i, homing_parameters, axes_num, "py_do_axes_homing_ex"));
    });
}

void py_do_axis_homing_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred,
                          Axes_Manager_Homing homing_parameters, int axis_id)
{
    guarded_command(am_iface, error_occurred,
                    [&](Axes_Manager_Interface& i) { i.do_axis_homing_ex(axis_id, homing_parameters); });
}

void py_reset_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred)
{
    guarded_command(am_iface, error_occurred, [](Axes_Manager_Interface& i) { i.reset_ex(); });
}

void py_perform_quickstop_for_all_axes_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred)
{
    guarded_command(am_iface, error_occurred, [](Axes_Manager_Interface& i) { i.perform_quickstop_for_all_axes_ex(); });
}

void py_perform_detorque_for_all_axes_ex(Axes_Manager_Interface* am_iface, uint32_t* error_occurred)
{
    guarded_command(am_iface, error_occurred, [](Axes_Manager_Interface& i) { i.perform_detorque_for_all_axes_ex(); });
}

bool py_is_last_command_completed(Axes_Manager_Interface* am_iface, uint32_t* error_occurred)
{
    return guarded(am_iface, error_occurred, false,
                   [](Axes_Manager_Interface& i) { return i.is_last_command_completed(); });
}
