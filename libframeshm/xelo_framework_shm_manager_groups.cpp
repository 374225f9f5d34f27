// Data groups: the directory of groups and data, the parameter checks with
// their diagnostic texts, and the typed and byte-array access to this
// process's local image of a group. Nothing here locks: names, counts and
// datum records are fixed before the server reports ready.

#include <cstring>
#include <stdexcept>

#include "xelo_framework_shm_manager.h"
#include "xelo_string_functions.h"

using XELO_String_Functions::num2str;

namespace {
constexpr int64_t RING_TICK_BYTES = 4;

// A ring slot begins with the writer's tick, the group's first datum
// ("framework_abs_tick", also called "tick_framework"): it is not handed out.
bool is_ring_tick_label(const std::string& label)
{
    return label == "framework_abs_tick" || label == "tick_framework";
}

bool group_name_equals(const char (&group_name)[FRAMEWORK_GROUP_NAME_SIZE], const std::string& name)
{
    const std::size_t length = strnlen(group_name, FRAMEWORK_GROUP_NAME_SIZE);
    return length == name.size() && std::memcmp(group_name, name.data(), length) == 0;
}

void require_buffer_ex(const void* buffer, const char* operation)
{
    if (buffer == nullptr)
        throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][") + operation +
                                 "] the byte buffer is null");
}
}  // namespace

// ---- attach ----------------------------------------------------------------------

// Every datum must lie inside the group image, and every ring slot must hold
// its tick: no access can then leave the local buffers or the segment.
void Framework_Shared_Memory_Manager::check_sem_data_group_layout_ex(int group_id) const
{
    const Shared_Sem_Data_Group_Struct& group = group_record(group_id);
    const std::string prefix = "[Framework_Shared_Memory_Manager][connect_sem_data_group_memory] sem_data group '" +
                               sem_data_group_name(group_id) + "' ";
    if (group.ring_buffer_slot_number < 0)
        throw std::runtime_error(prefix + "has a negative ring size :: " + num2str(group.ring_buffer_slot_number));
    if (group.ring_buffer_slot_number > 0 && group.data_byte < RING_TICK_BYTES)
        throw std::runtime_error(
            prefix + "is a ring whose slots cannot hold their tick ( data_byte :: " + num2str(group.data_byte) + " )");
    for (uint32_t d = 0; d < group.data_num; ++d) {
        const Shared_Sem_Data_Group_Data_Info& datum = datum_record(group_id, static_cast<int>(d));
        if (datum.byte_offs >= 0 && int64_t{datum.byte_offs} + datum.byte_dim <= int64_t{group.data_byte})
            continue;
        throw std::runtime_error(prefix + "data '" + label_of(datum.name_id) +
                                 "' lies outside the group image ( byte_offs :: " + num2str(datum.byte_offs) +
                                 ", byte_dim :: " + num2str(datum.byte_dim) +
                                 ", data_byte :: " + num2str(group.data_byte) + " )");
    }
}

// The local image and ring get their size once, zero-filled; the mutex names
// are built here so that locking never allocates.
void Framework_Shared_Memory_Manager::prepare_sem_data_group(int group_id)
{
    const Shared_Sem_Data_Group_Struct& group = group_record(group_id);
    const std::size_t g = static_cast<std::size_t>(group_id);
    m_sem_data_group_data_vectors[g].assign(group.data_byte, 0);
    m_sem_data_group_ring_buffer_data[g].assign(std::size_t{ring_slots(group_id)} * group.data_byte, 0);
    const std::string index = num2str(group_id);
    m_sem_data_group_mutex_names[g] = "&(m_shm_sem_group_data.share_sem_group_struct[" + index + "].mutex)";
    m_sem_data_group_post_mutex_names[g] =
        "&(m_shm_sem_group_data.m_shm_sem_group_data.share_sem_group_struct[" + index + "].mutex)";
}

// ---- helpers -----------------------------------------------------------------------

bool Framework_Shared_Memory_Manager::sem_data_group_valid(int group_id) const
{
    return m_shm_sem_group_data.share_sem_group_struct != nullptr && group_id >= 0 &&
           static_cast<uint32_t>(group_id) < m_sem_data_group_number &&
           static_cast<std::size_t>(group_id) < m_sem_data_group_data_vectors.size();
}

uint32_t Framework_Shared_Memory_Manager::ring_slots(int group_id) const
{
    const int32_t slots = group_record(group_id).ring_buffer_slot_number;
    return slots > 0 ? static_cast<uint32_t>(slots) : 0;
}

int Framework_Shared_Memory_Manager::find_sem_data_group(const std::string& name) const
{
    if (m_shm_sem_group_data.share_sem_group_struct == nullptr)
        return -1;
    for (uint32_t g = 0; g < m_sem_data_group_number; ++g)
        if (group_name_equals(group_record(static_cast<int>(g)).group_name, name))
            return static_cast<int>(g);
    return -1;
}

Shared_Sem_Data_Group_Sem_Struct& Framework_Shared_Memory_Manager::own_group_row_ex(int group_id,
                                                                                    const char* caller) const
{
    const int32_t n = m_my_application_number;
    Shared_Sem_Data_Group_Sem_Struct* rows = m_shm_sem_group_data.semaphores[static_cast<std::size_t>(group_id)];
    if (n < 0 || n >= m_rt_app_number || rows == nullptr)
        throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][") + caller +
                                 "] no application slot, attach first");
    return rows[n];
}

// ---- checks and their texts --------------------------------------------------------

bool Framework_Shared_Memory_Manager::attached_run_stopped() const
{
    return m_attached_run_was_ready && m_shm_info.ptr != nullptr &&
           __atomic_load_n(&m_shm_info.ptr->ready_to_start, __ATOMIC_ACQUIRE) == 0;
}

void Framework_Shared_Memory_Manager::check_attached_run_ex(const char* caller) const
{
    if (attached_run_stopped())
        throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][") + caller +
                                 "] the framework this application attached to has stopped!!");
}

void Framework_Shared_Memory_Manager::check_sem_data_input_param_ex(const char* caller, const char* file, int line,
                                                                    int sem_group_id, bool check_is_mine,
                                                                    bool check_free, int data_id, int size,
                                                                    int offset) const
{
    auto refuse = [&](const std::string& message, int shown_data, int shown_size, int shown_offset) {
        return std::runtime_error(get_sem_data_additional_info(caller, file, line, message, sem_group_id, shown_data,
                                                               shown_size, shown_offset));
    };
    if (!sem_data_group_valid(sem_group_id))
        throw refuse("Sorry, sem group_id not valid!", -1, -1, -1);
    check_attached_run_ex(caller);
    const Shared_Sem_Data_Group_Struct& group = group_record(sem_group_id);
    const int32_t writer = __atomic_load_n(&group.rw_app_id, __ATOMIC_ACQUIRE);
    if (check_is_mine) {
        if (writer != my_application_id())
            throw refuse("Sem data group not taken by this application", -1, -1, -1);
    } else if (check_free && writer != -1) {
        throw refuse("Sem data group already taken in rw mode", -1, -1, -1);
    }
    if (data_id == -1)
        return;
    if (data_id < 0 || static_cast<uint32_t>(data_id) >= group.data_num)
        throw refuse("Sem group data_id not valid", data_id, -1, -1);
    const Shared_Sem_Data_Group_Data_Info& datum = datum_record(sem_group_id, data_id);
    const int64_t dim = datum.byte_dim;
    if (offset == -1) {
        if (size == -1 || size == dim)
            return;
        throw refuse("Sorry, size is not correct!!", data_id, size, -1);
    }
    if (datum.type != BYTE_ARRAY_FSM)
        throw refuse("Sorry, sem_data_id type is not BYTE_ARRAY!", data_id, -1, -1);
    if (size == -1)
        throw refuse("Sorry, size is not correct!!\n\t\t\t given output_size :: -1", data_id, -1, -1);
    if (size <= 0 || size > dim)
        throw refuse("Sorry, size is not correct!!", data_id, size, -1);
    if (offset < 0 || offset >= dim)
        throw refuse("Sorry, offset is not correct!!", data_id, size, offset);
    if (int64_t{size} + offset > dim)
        throw refuse("Sorry, combination size + offset is not correct!!", data_id, size, offset);
}

// The check for operations that need a datum: -1, which the shared check takes
// as "no datum given", is refused like any other invalid data id.
void Framework_Shared_Memory_Manager::check_sem_datum_param_ex(const char* caller, const char* file, int line,
                                                               int sem_group_id, bool check_is_mine, bool check_free,
                                                               int data_id, int size, int offset) const
{
    check_sem_data_input_param_ex(caller, file, line, sem_group_id, check_is_mine, check_free, -1, -1, -1);
    if (data_id == -1)
        throw std::runtime_error(
            get_sem_data_additional_info(caller, file, line,
                                         "Sem group data_id not valid\n\t\t\t given sem_group data_id:: -1",
                                         sem_group_id, -1, -1, -1));
    check_sem_data_input_param_ex(caller, file, line, sem_group_id, check_is_mine, check_free, data_id, size, offset);
}

// Flags are written as digits. A group counts as buffered by its slot count:
// the server does not fill is_buffered.
std::string Framework_Shared_Memory_Manager::get_sem_data_additional_info(std::string caller, std::string file,
                                                                          int line, std::string message,
                                                                          int sem_group_id, int data_id, int size,
                                                                          int offset) const
{
    std::string text = "[Framework_Shared_Memory_Manager][" + caller + "] " + message;
    if (sem_group_id != -1)
        text += "\n\t\t\t given sem_group id:: " + num2str(sem_group_id);
    if (data_id != -1)
        text += "\n\t\t\t given sem_group data_id:: " + num2str(data_id);
    if (size != -1)
        text += "\n\t\t\t given data_size :: " + num2str(size);
    if (offset != -1)
        text += "\n\t\t\t given sem_group data_offset:: " + num2str(offset);
    const bool known = sem_data_group_valid(sem_group_id);
    bool buffered = false;
    if (sem_group_id >= 0) {
        text += "\n\t\t\t Additional SemGroup info..";
        if (known) {
            const Shared_Sem_Data_Group_Struct& group = group_record(sem_group_id);
            buffered = group.is_buffered != 0 || group.ring_buffer_slot_number > 0;
            text += "\n\t\t\t sem_group label :: " + sem_data_group_name(sem_group_id);
            text += "\n\t\t\t sem_group data_dimension :: " + num2str(group.data_byte);
            text += "\n\t\t\t sem_group num of data :: " + num2str(group.data_num);
            text += "\n\t\t\t sem_group taken by app :: " + num2str(group.rw_app_id);
            text += "\n\t\t\t sem_group only NOT real-time :: " + num2str(group.flag_only_not_rt != 0 ? 1 : 0);
            text += "\n\t\t\t sem_group is buffered :: " + num2str(buffered ? 1 : 0);
            if (buffered)
                text += "\n\t\t\t sem_group slots num :: " + num2str(group.ring_buffer_slot_number);
        } else {
            const int64_t groups = m_shm_sem_group_data.share_sem_group_struct != nullptr ? m_sem_data_group_number : 0;
            text += "\n\t\t\t max available sem_data group_id :: " + num2str(groups - 1);
        }
    }
    if (data_id >= 0 && known) {
        const Shared_Sem_Data_Group_Struct& group = group_record(sem_group_id);
        text += "\n\t\t\t Additional SemData info..";
        if (static_cast<uint32_t>(data_id) < group.data_num) {
            const Shared_Sem_Data_Group_Data_Info& datum = datum_record(sem_group_id, data_id);
            text += "\n\t\t\t sem_group data_label:: " + label_of(datum.name_id);
            text += "\n\t\t\t sem_group data_dimension :: " + num2str(datum.byte_dim);
            if (buffered)
                text += "\n\t\t\t sem_group data_slots num :: " + num2str(group.ring_buffer_slot_number);
        } else {
            text += "\n\t\t\t max available sem_group data_id :: " + num2str(int64_t{group.data_num} - 1);
        }
    }
    text += "\n\t ( exception @ " + file + ":" + num2str(line) + " )";
    return text;
}

// ---- directory -----------------------------------------------------------------------

int Framework_Shared_Memory_Manager::get_sem_data_group_data_id_ex(int sem_group_id, std::string data_label) const
{
    check_sem_data_input_param_ex("get_sem_data_group_data_id_ex", SOURCE_FILE, __LINE__, sem_group_id, false, false,
                                  -1, -1, -1);
    if (ring_slots(sem_group_id) > 0 && is_ring_tick_label(data_label))
        throw std::runtime_error("Error : it is not possible acquire tick master id");
    const Shared_Sem_Data_Group_Struct& group = group_record(sem_group_id);
    for (uint32_t d = 0; d < group.data_num; ++d)
        if (label_equals(datum_record(sem_group_id, static_cast<int>(d)).name_id, data_label))
            return static_cast<int>(d);
    throw std::runtime_error(
        "[Framework_Shared_Memory_Manager][get_sem_data_group_data_id] Error : semaphore data "
        "label '" +
        data_label + "' does not belong to sem_data group '" + sem_data_group_name(sem_group_id));
}

std::string Framework_Shared_Memory_Manager::get_sem_data_group_name_from_id_ex(int sem_group_id) const
{
    check_sem_data_input_param_ex("get_sem_data_group_name_from_id_ex", SOURCE_FILE, __LINE__, sem_group_id, false,
                                  false, -1, -1, -1);
    return sem_data_group_name(sem_group_id);
}

std::string Framework_Shared_Memory_Manager::get_label_sem_data_group_data_from_id_ex(std::string sem_data_group_name,
                                                                                      int data_id) const
{
    const std::string method = "[Framework_Shared_Memory_Manager][get_label_sem_data_group_data_from_id_ex] ";
    const int g = find_sem_data_group(sem_data_group_name);
    if (g == -1)
        throw std::runtime_error(method + "Error semaphorize group data label is incorrect ... " + sem_data_group_name);
    if (data_id < 0 || static_cast<uint32_t>(data_id) >= group_record(g).data_num)
        throw std::runtime_error(method + "Error semaphorize data_found is incorrect ... " + num2str(data_id));
    return label_of(datum_record(g, data_id).name_id);
}

std::vector<std::string> Framework_Shared_Memory_Manager::get_list_sem_data_group_name() const
{
    std::vector<std::string> names;
    if (m_shm_sem_group_data.share_sem_group_struct == nullptr)
        return names;
    for (uint32_t g = 0; g < m_sem_data_group_number; ++g)
        names.push_back(sem_data_group_name(static_cast<int>(g)));
    return names;
}

std::vector<std::string> Framework_Shared_Memory_Manager::get_list_sem_data_group_data_name_ex(
    std::string sem_data_group_name) const
{
    const int g = find_sem_data_group(sem_data_group_name);
    if (g == -1)
        throw std::runtime_error(
            "[Framework_Shared_Memory_Manager][get_list_sem_data_group_data_name] Error "
            "semaphorize group data label is incorrect ... " +
            sem_data_group_name);
    return get_list_sem_data_group_data_name_from_id_ex(g);
}

std::vector<std::string> Framework_Shared_Memory_Manager::get_list_sem_data_group_data_name_from_id_ex(
    int sem_group_id) const
{
    check_sem_data_input_param_ex("get_list_sem_data_group_data_name_from_id_ex", SOURCE_FILE, __LINE__, sem_group_id,
                                  false, false, -1, -1, -1);
    std::vector<std::string> labels;
    for (uint32_t d = 0; d < group_record(sem_group_id).data_num; ++d)
        labels.push_back(label_of(datum_record(sem_group_id, static_cast<int>(d)).name_id));
    return labels;
}

unsigned Framework_Shared_Memory_Manager::get_sem_data_group_data_dim_ex(int sem_group_id, int data_id) const
{
    check_sem_datum_param_ex("get_sem_data_group_data_dim_ex", SOURCE_FILE, __LINE__, sem_group_id, false, false,
                             data_id, -1, -1);
    return datum_record(sem_group_id, data_id).byte_dim;
}

unsigned Framework_Shared_Memory_Manager::get_sem_data_group_data_byte_array_dim_ex(int sem_group_id, int data_id) const
{
    check_sem_datum_param_ex("get_sem_data_group_data_byte_array_dim_ex", SOURCE_FILE, __LINE__, sem_group_id, false,
                             false, data_id, -1, -1);
    return datum_record(sem_group_id, data_id).byte_dim;
}

Type_Definition Framework_Shared_Memory_Manager::get_sem_data_group_data_type_ex(int sem_group_id, int data_id) const
{
    check_sem_datum_param_ex("get_sem_data_group_data_type_ex", SOURCE_FILE, __LINE__, sem_group_id, false, false,
                             data_id, -1, -1);
    return datum_record(sem_group_id, data_id).type;
}

int Framework_Shared_Memory_Manager::get_sem_data_group_ring_buffer_slot_number_ex(int sem_group_id) const
{
    check_sem_data_input_param_ex("get_sem_data_group_ring_buffer_slot_number_ex", SOURCE_FILE, __LINE__, sem_group_id,
                                  false, false, -1, -1, -1);
    return group_record(sem_group_id).ring_buffer_slot_number;
}

// ---- typed data ------------------------------------------------------------------------

template <typename T>
void Framework_Shared_Memory_Manager::set_sem_data_group_data_ex(int sem_group_id, int data_id, T value)
{
    check_sem_datum_param_ex("set_sem_data_group_data_ex", SOURCE_FILE, __LINE__, sem_group_id, true, false, data_id,
                             static_cast<int>(Container_Traits<T>::dim), -1);
    uint8_t* image = m_sem_data_group_data_vectors[static_cast<std::size_t>(sem_group_id)].data();
    std::memcpy(image + datum_record(sem_group_id, data_id).byte_offs, &value, sizeof(T));
}

template <typename T>
T Framework_Shared_Memory_Manager::get_sem_data_group_data_ex(int sem_group_id, int data_id) const
{
    check_sem_datum_param_ex("get_sem_data_group_data_ex", SOURCE_FILE, __LINE__, sem_group_id, false, false, data_id,
                             static_cast<int>(Container_Traits<T>::dim), -1);
    const uint8_t* image = m_sem_data_group_data_vectors[static_cast<std::size_t>(sem_group_id)].data();
    return Container_Traits<T>::build(image + datum_record(sem_group_id, data_id).byte_offs);
}

#define FRAMEWORK_SHM_GROUP_TYPED_ACCESS(T)                                                    \
    template void Framework_Shared_Memory_Manager::set_sem_data_group_data_ex<T>(int, int, T); \
    template T Framework_Shared_Memory_Manager::get_sem_data_group_data_ex<T>(int, int) const;

#define FRAMEWORK_SHM_GROUP_TYPED_ACCESS_ROW(manager_type, ...) FRAMEWORK_SHM_GROUP_TYPED_ACCESS(manager_type)
FRAMEWORK_DATA_VALUE_TYPES(FRAMEWORK_SHM_GROUP_TYPED_ACCESS_ROW)
#undef FRAMEWORK_SHM_GROUP_TYPED_ACCESS_ROW
#undef FRAMEWORK_SHM_GROUP_TYPED_ACCESS

// ---- byte arrays -----------------------------------------------------------------------

// An array access needs an offset of 0 or more: the -1 that passes the
// parameter check would address the byte before the datum.
namespace {
void refuse_negative_offset_ex(const Framework_Shared_Memory_Manager& manager, const char* caller, const char* file,
                               int line, int group_id, int data_id, int byte_dim, int byte_offset)
{
    if (byte_offset >= 0)
        return;
    throw std::runtime_error(manager.get_sem_data_additional_info(caller, file, line, "Sorry, offset is not correct!!",
                                                                  group_id, data_id, byte_dim, byte_offset));
}
}  // namespace

void Framework_Shared_Memory_Manager::set_sem_data_group_data_byte_array_ex(int sem_group_id, int data_id,
                                                                            const uint8_t* source, int byte_dim,
                                                                            int byte_offset)
{
    const char* caller = "set_sem_data_group_data_byte_array_ex";
    check_sem_datum_param_ex(caller, SOURCE_FILE, __LINE__, sem_group_id, false, false, data_id, byte_dim, byte_offset);
    refuse_negative_offset_ex(*this, caller, SOURCE_FILE, __LINE__, sem_group_id, data_id, byte_dim, byte_offset);
    require_buffer_ex(source, caller);
    uint8_t* image = m_sem_data_group_data_vectors[static_cast<std::size_t>(sem_group_id)].data();
    std::memcpy(image + datum_record(sem_group_id, data_id).byte_offs + byte_offset, source,
                static_cast<std::size_t>(byte_dim));
}

void Framework_Shared_Memory_Manager::get_sem_data_group_data_byte_array_ex(int sem_group_id, int data_id,
                                                                            uint8_t* destination, int byte_dim,
                                                                            int byte_offset) const
{
    read_sem_data_group_byte_array_ex("get_sem_data_group_data_byte_array_ex", sem_group_id, data_id, destination,
                                      byte_dim, byte_offset, true);
}

void Framework_Shared_Memory_Manager::read_sem_data_group_byte_array_ex(const char* caller, int sem_group_id,
                                                                        int data_id, uint8_t* destination, int byte_dim,
                                                                        int byte_offset, bool check_reader) const
{
    check_sem_datum_param_ex(caller, SOURCE_FILE, __LINE__, sem_group_id, false, false, data_id, byte_dim, byte_offset);
    refuse_negative_offset_ex(*this, caller, SOURCE_FILE, __LINE__, sem_group_id, data_id, byte_dim, byte_offset);
    if (check_reader)
        check_group_reader_ex(caller, sem_group_id, data_id);
    require_buffer_ex(destination, caller);
    const uint8_t* image = m_sem_data_group_data_vectors[static_cast<std::size_t>(sem_group_id)].data();
    std::memcpy(destination, image + datum_record(sem_group_id, data_id).byte_offs + byte_offset,
                static_cast<std::size_t>(byte_dim));
}

void Framework_Shared_Memory_Manager::check_group_reader_ex(const char* caller, int sem_group_id, int data_id) const
{
    const Shared_Sem_Data_Group_Sem_Struct& row = own_group_row_ex(sem_group_id, caller);
    if (__atomic_load_n(&row.application_id, __ATOMIC_ACQUIRE) == my_application_id())
        return;
    if (__atomic_load_n(&row.application_has_been_released, __ATOMIC_ACQUIRE) == 1)
        throw std::runtime_error(std::string("[Framework_Shared_Memory_Manager][") + caller +
                                 "] this application has been released from framework!!");
    throw std::runtime_error(get_sem_data_additional_info(caller, SOURCE_FILE, __LINE__,
                                                          "Sorry, sem_id is not my sem_group_id", sem_group_id, data_id,
                                                          -1, -1));
}

void Framework_Shared_Memory_Manager::set_sem_data_group_data_byte_whole_slot_ex(int sem_group_id,
                                                                                 const uint8_t* source, int byte_dim)
{
    const char* caller = "set_sem_data_group_data_byte_whole_slot_ex";
    check_sem_data_input_param_ex(caller, SOURCE_FILE, __LINE__, sem_group_id, true, false, -1, -1, -1);
    if (int64_t{byte_dim} != int64_t{group_record(sem_group_id).data_byte} - RING_TICK_BYTES)
        throw std::runtime_error("Sorry, size is incorrect");
    require_buffer_ex(source, caller);
    if (byte_dim > 0)
        std::memcpy(m_sem_data_group_data_vectors[static_cast<std::size_t>(sem_group_id)].data() + RING_TICK_BYTES,
                    source, static_cast<std::size_t>(byte_dim));
}
