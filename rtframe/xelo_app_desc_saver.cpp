#include "xelo_app_desc_saver.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "robust_mutex.h"
#include "terminal_colour.h"
#include "xelo_log.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
using terminal_colour::MAGENTA;
using terminal_colour::RESET;

template <typename T>
T load(const std::vector<uint8_t>& bytes)
{
    T value{};
    std::memcpy(&value, bytes.data(), std::min(sizeof(T), bytes.size()));
    return value;
}

template <typename T>
std::string shortest_text(T value)
{
    char buffer[64];
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, result.ptr);
}

std::string hex_text(const std::vector<uint8_t>& bytes, std::size_t count)
{
    static const char DIGITS[] = "0123456789abcdef";
    if (count == 0)
        return "0x00";
    std::string text = "0x";
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t byte = i < bytes.size() ? bytes[i] : 0;
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 0x0F];
    }
    return text;
}

// A byte array read from plain text reads back the same only when it is
// printable text followed by nothing but zero bytes, and does not look like
// hexadecimal bytes.
bool holds_plain_text(const std::vector<uint8_t>& bytes, std::size_t count, std::size_t& text_length)
{
    const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(count, bytes.size()));
    const auto zero = std::find(bytes.begin(), end, 0);
    text_length = static_cast<std::size_t>(zero - bytes.begin());
    const bool printable = std::all_of(bytes.begin(), zero, [](uint8_t c) { return c >= 0x20 && c < 0x7f; });
    const bool zeros_after = std::all_of(zero, end, [](uint8_t c) { return c == 0; });
    const bool looks_hex = text_length >= 2 && bytes[0] == '0' && bytes[1] == 'x';
    return printable && zeros_after && !looks_hex;
}

std::string byte_array_text(const IO_Descriptor& record)
{
    const std::vector<uint8_t>& bytes = record.m_default_value;
    std::size_t text_length = 0;
    if (record.m_is_default_value_string && holds_plain_text(bytes, record.m_byte_dim, text_length))
        return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(text_length));
    return hex_text(bytes, record.m_byte_dim);
}

void sleep_one_millisecond()
{
    const timespec pause{0, 1000000};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
}

// Writes the document to a file beside the descriptor and renames it over
// the descriptor, so that a crash never leaves half a file; the descriptor
// keeps its permission bits.
void replace_file_ex(XELO_XML::XML_IO& xml, const std::string& path)
{
    char resolved[PATH_MAX];
    const std::string target = realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
    const std::string temporary = target + ".saving";
    xml.write_to_file(temporary, "");
    struct stat st {};
    if (stat(target.c_str(), &st) == 0)
        chmod(temporary.c_str(), st.st_mode & 07777);
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        const int err = errno;
        std::remove(temporary.c_str());
        throw std::runtime_error("[Application_Descriptor_Mngr][save] cannot replace " + path + " --> " +
                                 std::strerror(err));
    }
}
}  // namespace

uint32_t first_saved_output_index(const Application_Descriptor_Manager& manager)
{
    if (!manager.m_master_offline)
        return 0;
    uint32_t slave_inputs = 0;
    for (const Application_Descriptor_Mngr* file : manager.m_input_output_files_mgrs)
        slave_inputs += static_cast<uint32_t>(file->xml_inputs_manager.n_elements);
    return slave_inputs;
}

void save_data_ex(Application_Descriptor_Manager& manager, Shared_Application_Data_Ptrs* outputs)
{
    {
        Robust_Mutex guard_mutex(outputs->mutex_ptr, "m_shm_xeno_application_output_data.mutex_ptr", "fm_savetask");
        std::lock_guard<Robust_Mutex> guard(guard_mutex);
        const IO_Descriptor_List& entries = *manager.outputs_vector_ptr;
        const uint32_t count = std::min<uint32_t>(manager.outputs_num, static_cast<uint32_t>(entries.size()));
        for (uint32_t k = first_saved_output_index(manager); k < count; ++k) {
            Shared_Application_Data_Struct& record = outputs->app_data_ptr[k];
            if (record.has_to_save == 0)
                continue;
            IO_Descriptor& entry = *entries[k];
            const std::size_t n =
                std::min<std::size_t>({record.byte_dim, sizeof(record.default_value), entry.m_default_value.size()});
            std::memcpy(entry.m_default_value.data(), record.default_value, n);
            entry.is_default_value_changed = true;
            record.has_to_save = 0;
        }
    }
    for (Application_Descriptor_Mngr* file : manager.m_input_output_files_mgrs)
        save_descriptor_file_ex(*file);
}

bool save_descriptor_file_ex(Application_Descriptor_Mngr& file)
{
    const bool virtuals_written = save_section_ex(file.xml_virtuals_manager);
    const bool outputs_written = save_section_ex(file.xml_outputs_manager);
    if (!virtuals_written && !outputs_written)
        return false;
    replace_file_ex(file.xml_reader, file.xml_path);
    log_inf(std::string(MAGENTA) + "file :: " + file.xml_path + " SAVED" + RESET);
    return true;
}

bool save_section_ex(Xml_IO_Manager& section)
{
    bool written = false;
    for (std::size_t i = 0; i < section.this_type_vector.size(); ++i) {
        auto* element = dynamic_cast<xmlpp::Element*>(section.m_used_nodes_ptr.at(i));
        if (element != nullptr && save_information_ex(*section.this_type_vector[i], *section.m_xml_reader_ptr, element))
            written = true;
        sleep_one_millisecond();
    }
    return written;
}

bool save_information_ex(IO_Descriptor& record, const XELO_XML::XML_IO& xml_parser, xmlpp::Element* element)
{
    if (!record.m_has_default_value || !record.is_default_value_changed)
        return false;
    log_inf("[IO_Descriptor][save_information_ex] going to save default value of :: " + record.m_name_virtual_id + " " +
            record.m_name_physic_id);
    const std::string text = default_value_attribute_text_ex(record);
    if (record.m_type == BYTE_ARRAY_FSM)
        log_inf("[IO_Descriptor][save_information_ex] IO_name :: " + record.m_name_virtual_id +
                " [BYTE_ARRAY_FSM] --> setting default value :: " + text);
    xml_parser.set_attribute_value_ex<std::string>("default_value", text, element);
    record.is_default_value_changed = false;
    return true;
}

std::string default_value_attribute_text_ex(const IO_Descriptor& record)
{
    const std::vector<uint8_t>& bytes = record.m_default_value;
    switch (record.m_type) {
    case BIT_FSM: return std::to_string(static_cast<int>(load<uint8_t>(bytes)));
    case INT8_FSM: return std::to_string(static_cast<int>(load<int8_t>(bytes)));
    case UINT8_FSM: return std::to_string(static_cast<unsigned>(load<uint8_t>(bytes)));
    case INT16_FSM: return std::to_string(load<int16_t>(bytes));
    case UINT16_FSM: return std::to_string(load<uint16_t>(bytes));
    case INT32_FSM: return std::to_string(load<int32_t>(bytes));
    case UINT32_FSM: return std::to_string(load<uint32_t>(bytes));
    case INT64_FSM: return std::to_string(static_cast<long long>(load<int64_t>(bytes)));
    case UINT64_FSM: return std::to_string(static_cast<unsigned long long>(load<uint64_t>(bytes)));
    case FLOAT_FSM: return shortest_text(load<float>(bytes));
    case DOUBLE_FSM: return shortest_text(load<double>(bytes));
    case BYTE_ARRAY_FSM: return byte_array_text(record);
    default: throw std::runtime_error("Type not valid for default value");
    }
}
