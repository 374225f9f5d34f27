// Asynchronous (SDO) variables: the client posts a read or write request in
// the asynchronous segments and polls for the server's reply, which is new
// when its time stamp is later than the one seen at the request.

#include <time.h>

#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "xelo_framework_shm_manager.h"
#include "xelo_framework_shm_manager_clock.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
bool in_table(int index, uint32_t count)
{
    return index >= 0 && static_cast<uint32_t>(index) < count;
}

timespec monotonic_now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

// One-byte flags as digits, never as raw bytes.
std::string flag_text(uint8_t flag)
{
    return num2str(static_cast<unsigned>(flag));
}

bool reply_is_new(const Shared_Timespec& ts, const timespec& at_request)
{
    return shm_manager_clock::is_later(ts.tv_sec, ts.tv_nsec, at_request.tv_sec, at_request.tv_nsec);
}

// The texts in which asynchronous inputs and outputs differ.
struct Async_Texts {
    const char* id_not_valid;
    const char* id_not_taken;
    const char* not_byte_array;
    const char* size_not_given;
    const char* given_id;
    const char* given_size;
    const char* given_offset;
    const char* label;
    const char* size;
    const char* to_update;
    const char* error_flag;
    const char* error_code;
    const char* is_taken;
    const char* taken_by_app_id;  // only outputs are claimed by an application
    const char* max_id;
    const char* exception_at;
};

const Async_Texts ASYNC_INPUT_TEXTS = {
    "Sorry, async input id not valid!",
    "Sorry, async input id not taken!",
    "Sorry, async input_id type is not BYTE_ARRAY!",
    "Sorry, size is not correct!!\n\t\t\t given async input_size :: -1",
    "\n\t\t\t given async_input_id :: ",
    "\n\t\t\t given async_input_size :: ",
    "\n\t\t\t given async_input_offset :: ",
    "\n\t\t\t async_input_label :: ",
    "\n\t\t\t async_input_size :: ",
    "\n\t\t\t async_input_to_update :: ",
    "\n\t\t\t async_input_error_flag :: ",
    "\n\t\t\t async_input_error_code :: ",
    "\n\t\t\t async_input_is_taken :: ",
    nullptr,
    "\n\t\t\t max available input id :: ",
    "\n\t\t\t ( exception @ ",
};

const Async_Texts ASYNC_OUTPUT_TEXTS = {
    "Sorry, output_id not valid!",
    "Sorry, output_id not taken!",
    "Sorry, output_id type is not BYTE_ARRAY!",
    "Sorry, size is not correct!!\n\t\t\t given output_size :: -1",
    "\n\t\t\t given async_output_id :: ",
    "\n\t\t\t given async_output_size :: ",
    "\n\t\t\t given async_output_offset :: ",
    "\n\t\t\t async_output_label :: ",
    "\n\t\t\t async_output_size :: ",
    "\n\t\t\t async_output_to_update :: ",
    "\n\t\t\t async_output_error_flag :: ",
    "\n\t\t\t async_output_error_code :: ",
    "\n\t\t\t async_output_is_taken :: ",
    "\n\t\t\t async_output_taken_by_app_id :: ",
    "\n\t\t\t max available async_output_id :: ",
    "\n\t ( exception @ ",
};

// One kind's records: what the server publishes and what the client requests.
template <typename From, typename To>
struct Async_Side {
    const Async_Texts& texts;
    uint32_t count;
    const From* from;
    const To* to;
    const std::vector<uint8_t>& is_taken;
};

using Async_Input_Side = Async_Side<Shared_Async_Input_Data_From_Framework, Shared_Async_Input_Data_To_Framework>;
using Async_Output_Side = Async_Side<Shared_Async_Output_Data_From_Framework, Shared_Async_Output_Data_To_Framework>;
}  // namespace

const std::string Framework_Shared_Memory_Manager::ASYNC_MUTEX = "m_shm_async_data.mutex_ptr";

// ---- lookup ---------------------------------------------------------------------------------

int Framework_Shared_Memory_Manager::get_async_input_id_ex(std::string async_input_name)
{
    int found = -1;
    if (async_inputs_mapped()) {
        Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
        std::unique_lock<Robust_Mutex> lock(held);
        for (uint32_t i = 0; i < m_async_input_size && found == -1; ++i) {
            if (label_equals(m_shm_async_data.input_data_from_framework_ptr[i].name_id, async_input_name)) {
                m_async_input_is_taken[i] = 1;
                found = static_cast<int>(i);
            }
        }
        lock.unlock();
    }
    if (found == -1)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][get_async_input_id_ex] async input name is not "
            "valid: " +
            async_input_name);
    return found;
}

// An output already claimed, also by this application, is not found.
int Framework_Shared_Memory_Manager::get_async_output_id_ex(std::string async_output_name)
{
    int found = -1;
    if (async_outputs_mapped()) {
        Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
        std::unique_lock<Robust_Mutex> lock(held);
        for (uint32_t i = 0; i < m_async_output_size; ++i) {
            if (!label_equals(m_shm_async_data.output_data_from_framework_ptr[i].name_id, async_output_name))
                continue;
            Shared_Async_Output_Data_To_Framework& request = m_shm_async_data.output_data_to_framework_ptr[i];
            if (request.application_number_take_rw == -1) {
                request.application_number_take_rw = my_application_id();
                m_async_output_is_taken[i] = 1;
                found = static_cast<int>(i);
            }
            break;
        }
        lock.unlock();
    }
    if (found == -1)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][get_async_output_id_ex] async output name is not "
            "valid: " +
            async_output_name);
    return found;
}

// ---- checks and their texts -------------------------------------------------------------------

template <typename Side>
void Framework_Shared_Memory_Manager::check_async_param_ex(const Side& side, const char* caller, const char* file,
                                                           int line, int id, bool check_taken, int size, int offset)
{
    auto refuse = [&](const std::string& message, int shown_size, int shown_offset) {
        return std::runtime_error(
            async_additional_info(side, caller, file, line, message, id, shown_size, shown_offset));
    };
    if (!in_table(id, side.count) || side.from == nullptr)
        throw refuse(side.texts.id_not_valid, -1, -1);
    if (check_taken && side.is_taken[static_cast<std::size_t>(id)] == 0)
        throw refuse(side.texts.id_not_taken, -1, -1);
    const auto& record = side.from[id];
    const int64_t dim = record.byte_dimension;
    if (offset == -1) {
        if (size == -1 || size == dim)
            return;
        throw refuse("Sorry, size is not correct!!", size, -1);
    }
    if (record.type != BYTE_ARRAY_FSM)
        throw refuse(side.texts.not_byte_array, -1, -1);
    if (size == -1)
        throw refuse(side.texts.size_not_given, -1, offset);
    if (size < 1 || size > dim)
        throw refuse("Sorry, size is not correct!!", size, offset);
    if (offset < 0 || offset >= dim)
        throw refuse("Sorry, offset is not correct!!", size, offset);
    if (int64_t{size} + offset > dim)
        throw refuse("Sorry, combination size + offset is not correct!!", size, offset);
}

void Framework_Shared_Memory_Manager::check_async_input_input_param_ex(const char* caller, const char* file, int line,
                                                                       int given_async_input_id, bool check_taken,
                                                                       int given_async_input_size,
                                                                       int given_async_input_offset) const
{
    const Async_Input_Side side{ASYNC_INPUT_TEXTS, m_async_input_size, m_shm_async_data.input_data_from_framework_ptr,
                                m_shm_async_data.input_data_to_framework_ptr, m_async_input_is_taken};
    check_async_param_ex(side, caller, file, line, given_async_input_id, check_taken, given_async_input_size,
                         given_async_input_offset);
}

void Framework_Shared_Memory_Manager::check_async_output_input_param_ex(const char* caller, const char* file, int line,
                                                                        int given_async_output_id, bool check_taken,
                                                                        int given_async_output_size,
                                                                        int given_async_output_offset) const
{
    const Async_Output_Side side{ASYNC_OUTPUT_TEXTS, m_async_output_size,
                                 m_shm_async_data.output_data_from_framework_ptr,
                                 m_shm_async_data.output_data_to_framework_ptr, m_async_output_is_taken};
    check_async_param_ex(side, caller, file, line, given_async_output_id, check_taken, given_async_output_size,
                         given_async_output_offset);
}

// The records are read for the text without the lock.
template <typename Side>
std::string Framework_Shared_Memory_Manager::async_additional_info(const Side& side, const std::string& caller,
                                                                   const std::string& file, int line,
                                                                   const std::string& msg, int id, int size, int offset)
{
    const Async_Texts& texts = side.texts;
    std::string text = "[Framework_Shared_Memory_Manager][" + caller + "] " + msg;
    text += texts.given_id + num2str(id);
    if (size != -1)
        text += texts.given_size + num2str(size);
    if (offset != -1)
        text += texts.given_offset + num2str(offset);
    if (id >= 0) {
        text += "\n\t\t\t Additional info..";
        if (in_table(id, side.count) && side.from != nullptr) {
            const auto& from = side.from[id];
            const auto& to = side.to[id];
            const uint32_t dim = from.byte_dimension;
            const uint32_t code = from.error_code;
            text += texts.label + label_of(from.name_id);
            text += texts.size + num2str(dim);
            text += texts.to_update + flag_text(to.to_update);
            text += texts.error_flag + flag_text(from.error_flag);
            text += texts.error_code + num2str(code);
            text += texts.is_taken + flag_text(side.is_taken[static_cast<std::size_t>(id)]);
            if constexpr (std::is_same_v<Side, Async_Output_Side>) {
                const int32_t owner = to.application_number_take_rw;
                text += texts.taken_by_app_id + num2str(owner);
            }
        } else {
            text += texts.max_id + num2str(int64_t{side.count} - 1);
        }
    }
    text += texts.exception_at + file + ":" + num2str(line) + " )";
    return text;
}

std::string Framework_Shared_Memory_Manager::get_async_input_additional_info(std::string caller, std::string file,
                                                                             int line, std::string msg,
                                                                             int async_input_id, int async_input_size,
                                                                             int async_input_offset) const
{
    const Async_Input_Side side{ASYNC_INPUT_TEXTS, m_async_input_size, m_shm_async_data.input_data_from_framework_ptr,
                                m_shm_async_data.input_data_to_framework_ptr, m_async_input_is_taken};
    return async_additional_info(side, caller, file, line, msg, async_input_id, async_input_size, async_input_offset);
}

std::string Framework_Shared_Memory_Manager::get_async_output_additional_info(std::string caller, std::string file,
                                                                              int line, std::string msg,
                                                                              int async_output_id,
                                                                              int async_output_size,
                                                                              int async_output_offset) const
{
    const Async_Output_Side side{ASYNC_OUTPUT_TEXTS, m_async_output_size,
                                 m_shm_async_data.output_data_from_framework_ptr,
                                 m_shm_async_data.output_data_to_framework_ptr, m_async_output_is_taken};
    return async_additional_info(side, caller, file, line, msg, async_output_id, async_output_size,
                                 async_output_offset);
}

// ---- metadata ------------------------------------------------------------------------------------

std::string Framework_Shared_Memory_Manager::get_async_input_label_ex(int async_input_id, bool taken_check) const
{
    check_async_input_input_param_ex("get_async_input_label_ex", SOURCE_FILE, __LINE__, async_input_id, taken_check, -1,
                                     -1);
    return label_of(m_shm_async_data.input_data_from_framework_ptr[async_input_id].name_id);
}

std::string Framework_Shared_Memory_Manager::get_async_output_label_ex(int async_output_id, bool taken_check) const
{
    check_async_output_input_param_ex("get_async_output_label_ex", SOURCE_FILE, __LINE__, async_output_id, taken_check,
                                      -1, -1);
    return label_of(m_shm_async_data.output_data_from_framework_ptr[async_output_id].name_id);
}

Type_Definition Framework_Shared_Memory_Manager::get_async_input_type_ex(int async_input_id) const
{
    check_async_input_input_param_ex("get_async_input_type_ex", SOURCE_FILE, __LINE__, async_input_id, false, -1, -1);
    Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    const Type_Definition type = m_shm_async_data.input_data_from_framework_ptr[async_input_id].type;
    lock.unlock();
    return type;
}

Type_Definition Framework_Shared_Memory_Manager::get_async_output_type_ex(int async_output_id) const
{
    check_async_output_input_param_ex("get_async_output_type_ex", SOURCE_FILE, __LINE__, async_output_id, false, -1,
                                      -1);
    Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    const Type_Definition type = m_shm_async_data.output_data_from_framework_ptr[async_output_id].type;
    lock.unlock();
    return type;
}

uint32_t Framework_Shared_Memory_Manager::get_async_input_refresh_error_ex(int async_input_id) const
{
    check_async_input_input_param_ex("get_async_input_refresh_error_ex", SOURCE_FILE, __LINE__, async_input_id, true,
                                     -1, -1);
    Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    const uint32_t code = m_shm_async_data.input_data_from_framework_ptr[async_input_id].error_code;
    lock.unlock();
    return code;
}

uint32_t Framework_Shared_Memory_Manager::get_async_output_set_error_ex(int async_output_id) const
{
    check_async_output_input_param_ex("get_async_output_set_error_ex", SOURCE_FILE, __LINE__, async_output_id, true, -1,
                                      -1);
    Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    const uint32_t code = m_shm_async_data.output_data_from_framework_ptr[async_output_id].error_code;
    lock.unlock();
    return code;
}

// ---- requests -----------------------------------------------------------------------------------

void Framework_Shared_Memory_Manager::refresh_async_input_ex(int async_input_id)
{
    check_async_input_input_param_ex("refresh_async_input_ex", SOURCE_FILE, __LINE__, async_input_id, true, -1, -1);
    const std::size_t i = static_cast<std::size_t>(async_input_id);
    Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    m_async_input_clock_value[i] = from_shared_timespec(m_shm_async_data.input_data_from_framework_ptr[i].ts);
    m_shm_async_data.input_data_to_framework_ptr[i].to_update = 1;
    m_async_input_max_clock_value[i] = shm_manager_clock::deadline_after(monotonic_now(), m_async_data_timeout_ns);
    lock.unlock();
}

// The value and the flag are published together under the lock.
template <typename T>
void Framework_Shared_Memory_Manager::set_async_output_ex(int async_output_id, T new_value)
{
    check_async_output_input_param_ex("set_async_output_ex", SOURCE_FILE, __LINE__, async_output_id, true,
                                      static_cast<int>(sizeof(T)), -1);
    const std::size_t i = static_cast<std::size_t>(async_output_id);
    Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    m_async_output_clock_value[i] = from_shared_timespec(m_shm_async_data.output_data_from_framework_ptr[i].ts);
    Shared_Async_Output_Data_To_Framework& request = m_shm_async_data.output_data_to_framework_ptr[i];
    request.to_update = 1;
    std::memcpy(request.new_value, &new_value, sizeof(T));
    m_async_output_max_clock_value[i] = shm_manager_clock::deadline_after(monotonic_now(), m_async_data_timeout_ns);
    lock.unlock();
}

template <typename T>
T Framework_Shared_Memory_Manager::get_async_input_ex(int async_input_id) const
{
    check_async_input_input_param_ex("get_async_input_ex", SOURCE_FILE, __LINE__, async_input_id, true,
                                     static_cast<int>(sizeof(T)), -1);
    T value;
    Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    std::memcpy(&value, m_shm_async_data.input_data_from_framework_ptr[async_input_id].value, sizeof(T));
    lock.unlock();
    return value;
}

#define FRAMEWORK_SHM_ASYNC_TYPED_ACCESS(T)                                       \
    template T Framework_Shared_Memory_Manager::get_async_input_ex<T>(int) const; \
    template void Framework_Shared_Memory_Manager::set_async_output_ex<T>(int, T);

#define FRAMEWORK_SHM_ASYNC_TYPED_ACCESS_ROW(manager_type, ...) FRAMEWORK_SHM_ASYNC_TYPED_ACCESS(manager_type)
FRAMEWORK_SMALL_INTEGER_VALUE_TYPES(FRAMEWORK_SHM_ASYNC_TYPED_ACCESS_ROW)
FRAMEWORK_SHM_ASYNC_TYPED_ACCESS(float)
#undef FRAMEWORK_SHM_ASYNC_TYPED_ACCESS_ROW
#undef FRAMEWORK_SHM_ASYNC_TYPED_ACCESS

// ---- polls ------------------------------------------------------------------------------------

uint8_t Framework_Shared_Memory_Manager::ethercat_master_state() const
{
    return get_input_ex<unsigned char>(static_cast<int>(m_is_ethercat_master_online_id), false);
}

uint8_t Framework_Shared_Memory_Manager::is_async_input_refresh_ex(int async_input_id,
                                                                   uint8_t* is_ethercat_master_online)
{
    const char* caller = "is_async_input_refresh_ex";
    check_async_input_input_param_ex(caller, SOURCE_FILE, __LINE__, async_input_id, true, -1, -1);
    const uint8_t online = ethercat_master_state();
    if (is_ethercat_master_online != nullptr)
        *is_ethercat_master_online = online;
    if (online == 0)
        return 1;
    const std::size_t i = static_cast<std::size_t>(async_input_id);
    Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    const Shared_Timespec ts = m_shm_async_data.input_data_from_framework_ptr[i].ts;
    const uint8_t error_flag = m_shm_async_data.input_data_from_framework_ptr[i].error_flag;
    lock.unlock();
    if (reply_is_new(ts, m_async_input_clock_value[i])) {
        if (error_flag != 0)
            throw std::runtime_error(get_async_input_additional_info(caller, SOURCE_FILE, __LINE__,
                                                                     "Error, on async_input_id request", async_input_id,
                                                                     -1, -1));
        return 1;
    }
    if (shm_manager_clock::is_later(monotonic_now(), m_async_input_max_clock_value[i]))
        throw std::runtime_error(get_async_input_additional_info(caller, SOURCE_FILE, __LINE__,
                                                                 "Error, async_input_id request expired",
                                                                 async_input_id, -1, -1));
    return 0;
}

uint8_t Framework_Shared_Memory_Manager::is_async_output_set_ex(int async_output_id, uint8_t* is_ethercat_master_online)
{
    const char* caller = "is_async_output_set_ex";
    check_async_output_input_param_ex(caller, SOURCE_FILE, __LINE__, async_output_id, true, -1, -1);
    const uint8_t online = ethercat_master_state();
    if (is_ethercat_master_online != nullptr)
        *is_ethercat_master_online = online;
    if (online == 0)
        return 1;
    const std::size_t i = static_cast<std::size_t>(async_output_id);
    Robust_Mutex held(m_shm_async_data.mutex_ptr, ASYNC_MUTEX);
    std::unique_lock<Robust_Mutex> lock(held);
    const Shared_Timespec ts = m_shm_async_data.output_data_from_framework_ptr[i].ts;
    const uint8_t error_flag = m_shm_async_data.output_data_from_framework_ptr[i].error_flag;
    lock.unlock();
    if (reply_is_new(ts, m_async_output_clock_value[i])) {
        if (error_flag != 0)
            throw std::runtime_error(get_async_output_additional_info(caller, SOURCE_FILE, __LINE__,
                                                                      "Error on async_output_id request",
                                                                      async_output_id, -1, -1));
        return 1;
    }
    if (shm_manager_clock::is_later(monotonic_now(), m_async_output_max_clock_value[i]))
        throw std::runtime_error(get_async_output_additional_info(caller, SOURCE_FILE, __LINE__,
                                                                  "Error, async_output_id request expired",
                                                                  async_output_id, -1, -1));
    return 0;
}
