#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fab_descriptors.h"

class Application_Descriptor_Manager;
class Application_Descriptor_Mngr;

// One run of the consistency rules over every loaded file, in load order.
// Each violation is logged as ERR lines and thrown as "bad application
// descriptor"; the first one ends the run. Names are compared through hashed
// sets, so the run is linear in the size of the descriptor.
class Descriptor_Consistency_Check {
public:
    explicit Descriptor_Consistency_Check(Application_Descriptor_Manager& manager);

    void run_ex();

    // Follows the alias chain from name (the names met are appended to
    // visited) and returns the kind of the variable it ends at.
    IO_Descriptor::IO_Type pointed_type_ex(const std::string& name, std::vector<std::string>& visited) const;

private:
    void log_file_counts(std::size_t index, const Application_Descriptor_Mngr& file) const;
    void check_file_ex(std::size_t index, const Application_Descriptor_Mngr& file);
    void check_slave_variable_ex(const IO_Descriptor& io, IO_Descriptor::IO_Type kind);
    void check_async_variable_ex(const Async_IO_Descriptor& io, IO_Descriptor::IO_Type kind) const;
    void check_virtual_ex(IO_Descriptor& io);
    void check_alias_ex(IO_Descriptor& io) const;
    void check_reserved_ex(const IO_Descriptor& io);
    void check_reserved_found_ex() const;
    void check_group_ex(const Data_Semaphore_Group& group);
    void check_shared_field_sizes_ex(const IO_Descriptor& io) const;
    void check_group_name_sizes_ex(const Data_Semaphore_Group& group) const;

    Application_Descriptor_Manager& m_manager;
    std::unordered_set<std::string> m_cyclic_names;  // inputs, outputs and virtual I/Os share one name space
    std::unordered_set<std::string> m_group_names;
    std::vector<bool> m_reserved_found;
    // The whole descriptor, for alias walks.
    std::unordered_set<std::string> m_input_names;
    std::unordered_set<std::string> m_output_names;
    std::unordered_map<std::string, const IO_Descriptor*> m_virtuals_by_name;
};
