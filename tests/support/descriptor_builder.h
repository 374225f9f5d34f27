#pragma once

#include <cstdint>
#include <string>

// Pieces of an application descriptor for the tests that write their own,
// each a complete XML element (indented as the descriptors are) or the head
// and end of the document.
namespace descriptor_xml {
// The XML declaration, <application_descriptor> and its settings: the cycle
// time, a master watchdog of 10, an asynchronous time-out of 100 ms, the
// number of application slots, /tmp/ for the input and output files.
std::string head(uint32_t cycle_time_ns, int slots);
std::string end();

// <virtual_io>: a byte_dimension of 0 and an empty default are left out.
std::string virtual_io(const std::string& name, const std::string& type, int group, bool read_only,
                       const std::string& default_value, int byte_dimension = 0);
// The six reserved variables every descriptor declares; the two logging
// switches read-only or not.
std::string reserved_virtual_ios(bool switches_read_only);
std::string alias(const std::string& name, const std::string& target);

// <sem_data> and a <sem> data group around its data.
std::string sem_data(const std::string& name, const std::string& type, int byte_dimension = 0);
std::string sem_group(const std::string& name, const std::string& data, int ring_buffer = 0, bool only_not_rt = true);

// Writes the text to path; the path. Throws when the file cannot be written.
std::string write(const std::string& path, const std::string& text);
}  // namespace descriptor_xml
