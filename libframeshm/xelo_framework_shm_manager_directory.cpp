// The cyclic variable directory: labels to ids, aliases, metadata and the
// checks (with their diagnostic texts) of every id, size and offset.

#include <climits>
#include <cstring>
#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
bool in_table(int index, uint32_t count)
{
    return index >= 0 && static_cast<uint32_t>(index) < count;
}

// The texts in which the input and the output directory differ.
struct Directory_Texts {
    const char* pointed_method;
    const char* pointed_not_valid;
    const char* alias_not_defined;
    const char* id_not_valid;
    const char* id_not_taken;
    const char* not_byte_array;
    const char* size_not_given;
    const char* given_id;
    const char* given_alias;
    const char* actual_id;
    const char* given_size;
    const char* given_offset;
    const char* additional;
    const char* label;
    const char* size;
    const char* byte_offset;
    const char* bit_offset;
    const char* group_id;  // nullptr: the group is not shown
    const char* is_taken;
    const char* is_already_rw;  // nullptr: neither the read-write flag nor its owner is shown
    const char* taken_by_app_id;
    const char* max_id;
};

const Directory_Texts INPUT_TEXTS = {
    "[Framework_Shared_Memory_Manager][get_pointed_input_id_ex] ",
    "input id not valid :: ",
    "' which is not defined in inputs vector!",
    "Sorry, input id not valid!",
    "Sorry, input id not taken!",
    "Sorry, input_id type is not BYTE_ARRAY!",
    "Sorry, size is not correct!!\n\t\t\t given input_size :: -1",
    "\n\t\t\t given input_id :: ",
    "\n\t\t\t given input is an alias :: ",
    "\n\t\t\t actual input_id :: ",
    "\n\t\t\t given input_size :: ",
    "\n\t\t\t given input_offset :: ",
    "\n\t\t\t Additional input info..",
    "\n\t\t\t input_label :: ",
    "\n\t\t\t input_size :: ",
    "\n\t\t\t input_byte_offset :: ",
    "\n\t\t\t input_bit_offset :: ",
    nullptr,
    "\n\t\t\t input_is_taken :: ",
    nullptr,
    nullptr,
    "\n\t\t\t max available input id :: ",
};

const Directory_Texts OUTPUT_TEXTS = {
    "[Framework_Shared_Memory_Manager][get_pointed_output_id_ex] ",
    "output id not valid :: ",
    "' which is not defined in outputs vector!",
    "Sorry, output_id not valid!",
    "Sorry, output_id not taken!",
    "Sorry, output_id type is not BYTE_ARRAY!",
    "Sorry, size is not correct!!\n\t\t\t given output_size :: -1",
    "\n\t\t\t given output_id :: ",
    "\n\t\t\t given output is an alias :: ",
    "\n\t\t\t actual output_id :: ",
    "\n\t\t\t given output_size :: ",
    "\n\t\t\t given output_offset :: ",
    "\n\t\t\t Additional info..",
    "\n\t\t\t output_label :: ",
    "\n\t\t\t output_size :: ",
    "\n\t\t\t output_byte_offset :: ",
    "\n\t\t\t output_bit_offset :: ",
    "\n\t\t\t output_group_id :: ",
    "\n\t\t\t output_is_taken :: ",
    "\n\t\t\t output_is_already_rw :: ",
    "\n\t\t\t output_taken_by_app_id :: ",
    "\n\t\t\t max available output id :: ",
};
}  // namespace

struct Framework_Shared_Memory_Manager::Directory_Side {
    const Directory_Texts& texts;
    uint32_t count;
    const Shared_Application_Data_Struct* records;
    const std::vector<int32_t>& actual_ids;
    const std::vector<uint8_t>& is_taken;
};

Framework_Shared_Memory_Manager::Directory_Side Framework_Shared_Memory_Manager::input_side() const
{
    return {INPUT_TEXTS, m_input_app_size, m_shm_application_input_data.app_data_ptr, m_actual_input_id,
            m_input_is_taken};
}

Framework_Shared_Memory_Manager::Directory_Side Framework_Shared_Memory_Manager::output_side() const
{
    return {OUTPUT_TEXTS, m_output_app_size, m_shm_application_output_data.app_data_ptr, m_actual_output_id,
            m_output_is_taken};
}

std::string Framework_Shared_Memory_Manager::label_of(const char (&name_id)[FRAMEWORK_NAME_ID_SIZE])
{
    return std::string(name_id, strnlen(name_id, FRAMEWORK_NAME_ID_SIZE));
}

bool Framework_Shared_Memory_Manager::label_equals(const char (&name_id)[FRAMEWORK_NAME_ID_SIZE],
                                                   const std::string& label)
{
    const std::size_t length = strnlen(name_id, FRAMEWORK_NAME_ID_SIZE);
    return length == label.size() && std::memcmp(name_id, label.data(), length) == 0;
}

int Framework_Shared_Memory_Manager::output_index_of(int output_id)
{
    return output_id < INT_MIN + OUTPUT_ID_OFFSET ? INT_MIN : output_id - OUTPUT_ID_OFFSET;
}

int Framework_Shared_Memory_Manager::find_index(const Directory_Side& side, const std::string& label)
{
    for (uint32_t i = 0; i < side.count; ++i)
        if (label_equals(side.records[i].name_id, label))
            return static_cast<int>(i);
    return -1;
}

int Framework_Shared_Memory_Manager::find_input_index(const std::string& label) const
{
    return find_index(input_side(), label);
}

int Framework_Shared_Memory_Manager::find_output_index(const std::string& label) const
{
    return find_index(output_side(), label);
}

// ---- lookup by label ------------------------------------------------------------

int Framework_Shared_Memory_Manager::get_input_id_ex(std::string label)
{
    int index;
    with_lock(Robust_Mutex(m_shm_application_input_data.mutex_ptr, INPUT_MUTEX), [&] {
        index = find_input_index(label);
        if (index != -1)
            m_input_is_taken[m_actual_input_id[index]] = 1;
    });
    if (index == -1)
        throw std::runtime_error("[Framework_Shared_Memory_Manager][get_input_id_ex] input name is not valid :: " +
                                 label);
    return index;
}

int Framework_Shared_Memory_Manager::get_output_ro_id_ex(std::string label)
{
    int index;
    with_lock(Robust_Mutex(m_shm_application_output_data.mutex_ptr, OUTPUT_MUTEX), [&] {
        index = find_output_index(label);
        if (index != -1)
            m_output_is_taken[m_actual_output_id[index]] = 1;
    });
    if (index == -1)
        throw std::runtime_error("[Framework_Shared_Memory_Manager][get_output_ro_id_ex] output name is not valid: " +
                                 label);
    return index + OUTPUT_ID_OFFSET;
}

bool Framework_Shared_Memory_Manager::has_input_ex(std::string label) const
{
    return with_lock(Robust_Mutex(m_shm_application_input_data.mutex_ptr, INPUT_MUTEX),
                     [&] { return find_input_index(label) != -1; });
}

bool Framework_Shared_Memory_Manager::has_output_ex(std::string label) const
{
    return with_lock(Robust_Mutex(m_shm_application_output_data.mutex_ptr, OUTPUT_MUTEX),
                     [&] { return find_output_index(label) != -1; });
}

// ---- aliases ---------------------------------------------------------------------

int Framework_Shared_Memory_Manager::pointed_id_ex(const Directory_Side& side, int current_id, int iteration_number)
{
    const std::string method = side.texts.pointed_method;
    for (;;) {
        if (int64_t{iteration_number} >= int64_t{side.count})
            throw std::runtime_error(method + "too many iterations!!" + " ( current_id :: " + num2str(current_id) +
                                     " , iteration_number :: " + num2str(iteration_number) + " )");
        if (!in_table(current_id, side.count) || side.records == nullptr)
            throw std::runtime_error(method + side.texts.pointed_not_valid + num2str(current_id));
        const Shared_Application_Data_Struct& record = side.records[current_id];
        if (record.is_alias == 0)
            return current_id;
        const int target = find_index(side, label_of(record.alias_of));
        if (target == -1)
            throw std::runtime_error(method + "no alias found!! " + "'" + label_of(record.name_id) + " points to " +
                                     "'" + label_of(record.alias_of) + side.texts.alias_not_defined);
        current_id = target;
        ++iteration_number;
    }
}

int Framework_Shared_Memory_Manager::get_pointed_input_id_ex(int current_id, int iteration_number) const
{
    return pointed_id_ex(input_side(), current_id, iteration_number);
}

int Framework_Shared_Memory_Manager::get_pointed_output_id_ex(int current_id, int iteration_number) const
{
    return pointed_id_ex(output_side(), current_id, iteration_number);
}

// ---- parameter checks ------------------------------------------------------------

int Framework_Shared_Memory_Manager::check_param_and_get_actual_id_ex(const Directory_Side& side, const char* caller,
                                                                      const char* file, int line, int index,
                                                                      bool check_taken, int size, int offset)
{
    auto refuse = [&](const char* message, int actual, int shown_size, int shown_offset) {
        return std::runtime_error(
            additional_info(side, caller, file, line, message, index, actual, shown_size, shown_offset));
    };
    if (!in_table(index, side.count) || side.records == nullptr ||
        static_cast<std::size_t>(index) >= side.actual_ids.size())
        throw refuse(side.texts.id_not_valid, -1, -1, -1);
    const int actual = side.actual_ids[index];
    if (check_taken && side.is_taken[actual] == 0)
        throw refuse(side.texts.id_not_taken, actual, -1, -1);
    const Shared_Application_Data_Struct& record = side.records[actual];
    const int64_t dim = record.byte_dim;
    if (offset == -1) {
        if (size == -1 || size == dim)
            return actual;
        throw refuse("Sorry, size is not correct!!", actual, size, -1);
    }
    if (record.type != BYTE_ARRAY_FSM)
        throw refuse(side.texts.not_byte_array, actual, -1, -1);
    if (size == -1)
        throw refuse(side.texts.size_not_given, actual, -1, offset);
    if (size > dim || size <= 0)
        throw refuse("Sorry, size is not correct!!", actual, size, offset);
    if (offset >= dim || offset < 0)
        throw refuse("Sorry, offset is not correct!!", actual, size, offset);
    if (int64_t{size} + offset > dim)
        throw refuse("Sorry, combination size + offset is not correct!!", actual, size, offset);
    return actual;
}

int Framework_Shared_Memory_Manager::check_input_input_param_and_get_actual_id_ex(const char* caller, const char* file,
                                                                                  int line, int input_id,
                                                                                  bool check_taken, int size,
                                                                                  int offset) const
{
    return check_param_and_get_actual_id_ex(input_side(), caller, file, line, input_id, check_taken, size, offset);
}

int Framework_Shared_Memory_Manager::check_output_input_param_and_get_actual_id_ex(const char* caller, const char* file,
                                                                                   int line, int output_index,
                                                                                   bool check_taken, int size,
                                                                                   int offset) const
{
    return check_param_and_get_actual_id_ex(output_side(), caller, file, line, output_index, check_taken, size, offset);
}

// ---- diagnostic texts -------------------------------------------------------------

std::string Framework_Shared_Memory_Manager::additional_info(const Directory_Side& side, const std::string& method,
                                                             const std::string& file, int line,
                                                             const std::string& message, int given_id, int actual_id,
                                                             int size, int offset, bool offset_given)
{
    const Directory_Texts& texts = side.texts;
    const bool mapped = side.records != nullptr;
    std::string text = "[Framework_Shared_Memory_Manager][" + method + "] " + message;
    text += texts.given_id + num2str(given_id);
    if (actual_id != given_id && actual_id != -1 && mapped && in_table(given_id, side.count) &&
        in_table(actual_id, side.count)) {
        text += texts.given_alias + label_of(side.records[given_id].name_id) + " --> " +
                label_of(side.records[actual_id].name_id);
        text += texts.actual_id + num2str(actual_id);
    }
    if (size != -1)
        text += texts.given_size + num2str(size);
    if (offset != -1 || offset_given)
        text += texts.given_offset + num2str(offset);
    if (actual_id >= 0) {
        text += texts.additional;
        if (mapped && in_table(actual_id, side.count)) {
            const Shared_Application_Data_Struct& record = side.records[actual_id];
            text += texts.label + label_of(record.name_id);
            text += texts.size + num2str(record.byte_dim);
            text += texts.byte_offset + num2str(record.byte_offs);
            text += texts.bit_offset + num2str(record.bit_offs);
            if (texts.group_id != nullptr)
                text += texts.group_id + num2str(record.group_id);
            text += texts.is_taken + num2str(static_cast<int>(side.is_taken[actual_id]));
            if (texts.is_already_rw != nullptr) {
                text += texts.is_already_rw + num2str(static_cast<int>(record.is_already_rw));
                if (record.is_already_rw != 0)
                    text += texts.taken_by_app_id + num2str(record.application_number_take_rw);
            }
        } else {
            text += texts.max_id + num2str(static_cast<int64_t>(side.count) - 1);
        }
    }
    text += "\n\t ( exception @ " + file + ":" + num2str(line) + " )";
    return text;
}

std::string Framework_Shared_Memory_Manager::get_input_additional_info(std::string method, std::string file, int line,
                                                                       std::string message, int given_id, int actual_id,
                                                                       int size, int offset) const
{
    return additional_info(input_side(), method, file, line, message, given_id, actual_id, size, offset);
}

std::string Framework_Shared_Memory_Manager::get_output_additional_info(std::string method, std::string file, int line,
                                                                        std::string message, int given_id,
                                                                        int actual_id, int size, int offset) const
{
    return additional_info(output_side(), method, file, line, message, given_id, actual_id, size, offset);
}

std::string Framework_Shared_Memory_Manager::output_offset_refusal(const std::string& method, const std::string& file,
                                                                   int line, int given_id, int actual_id, int size,
                                                                   int offset) const
{
    return additional_info(output_side(), method, file, line, "Sorry, offset is not correct!!", given_id, actual_id,
                           size, offset, true);
}

// ---- metadata ------------------------------------------------------------------------

std::string Framework_Shared_Memory_Manager::get_input_label_ex(int input_id, bool taken_check) const
{
    check_input_input_param_and_get_actual_id_ex("get_input_label_ex", SOURCE_FILE, __LINE__, input_id, taken_check, -1,
                                                 -1);
    return label_of(input_record(input_id).name_id);
}

unsigned Framework_Shared_Memory_Manager::get_input_dim_ex(int input_id) const
{
    const int actual = check_input_input_param_and_get_actual_id_ex("get_input_dim_ex", SOURCE_FILE, __LINE__, input_id,
                                                                    false, -1, -1);
    return with_lock(Robust_Mutex(m_shm_application_input_data.mutex_ptr, INPUT_MUTEX),
                     [&] { return input_record(actual).byte_dim; });
}

int Framework_Shared_Memory_Manager::get_input_type_ex(int input_id) const
{
    const int actual = check_input_input_param_and_get_actual_id_ex("get_input_type_ex", SOURCE_FILE, __LINE__,
                                                                    input_id, false, -1, -1);
    return with_lock(Robust_Mutex(m_shm_application_input_data.mutex_ptr, INPUT_MUTEX),
                     [&] { return input_record(actual).type; });
}

int Framework_Shared_Memory_Manager::get_input_group_ex(int input_id) const
{
    const int actual = check_input_input_param_and_get_actual_id_ex("get_input_group_ex", SOURCE_FILE, __LINE__,
                                                                    input_id, false, -1, -1);
    return with_lock(Robust_Mutex(m_shm_application_input_data.mutex_ptr, INPUT_MUTEX),
                     [&] { return input_record(actual).group_id; });
}

std::string Framework_Shared_Memory_Manager::get_output_label_ex(int output_id, bool taken_check) const
{
    const int index = output_index_of(output_id);
    check_output_input_param_and_get_actual_id_ex("get_output_label_ex", SOURCE_FILE, __LINE__, index, taken_check, -1,
                                                  -1);
    return label_of(output_record(index).name_id);
}

unsigned Framework_Shared_Memory_Manager::get_output_dim_ex(int output_id, bool taken_check) const
{
    const int actual = check_output_input_param_and_get_actual_id_ex("get_output_dim_ex", SOURCE_FILE, __LINE__,
                                                                     output_index_of(output_id), taken_check, -1, -1);
    return with_lock(Robust_Mutex(m_shm_application_output_data.mutex_ptr, OUTPUT_MUTEX),
                     [&] { return output_record(actual).byte_dim; });
}

int Framework_Shared_Memory_Manager::get_output_type_ex(int output_id, bool taken_check) const
{
    const int actual = check_output_input_param_and_get_actual_id_ex("get_output_type_ex", SOURCE_FILE, __LINE__,
                                                                     output_index_of(output_id), taken_check, -1, -1);
    return with_lock(Robust_Mutex(m_shm_application_output_data.mutex_ptr, OUTPUT_MUTEX),
                     [&] { return output_record(actual).type; });
}

int Framework_Shared_Memory_Manager::get_output_group_ex(int output_id, bool taken_check) const
{
    const int actual = check_output_input_param_and_get_actual_id_ex("get_output_group_ex", SOURCE_FILE, __LINE__,
                                                                     output_index_of(output_id), taken_check, -1, -1);
    return with_lock(Robust_Mutex(m_shm_application_output_data.mutex_ptr, OUTPUT_MUTEX),
                     [&] { return output_record(actual).group_id; });
}
