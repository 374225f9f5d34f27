#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fab_descriptors.h"
#include "xelo_app_desc_mngr.h"

// Reader of the main application-descriptor file and of the whole load: the
// global settings, one reader per secondary file, the consistency checks, the
// master-offline remapping, the offsets of the virtual area and data groups,
// and the final counts. The framework's lists end up holding pointers to
// records owned by the file readers; they stay valid while the manager lives.
class Application_Descriptor_Manager : public Application_Descriptor_Mngr {
public:
    Application_Descriptor_Manager(std::string xml_path, bool xml_split_local_root, bool master_offline,
                                   bool bridge_enabled, IO_Descriptor_List* outputs, IO_Descriptor_List* inputs,
                                   Async_IO_Descriptor_List* async_outputs, Async_IO_Descriptor_List* async_inputs,
                                   Data_Semaphore_Group_List* sem_data_groups);

    // The whole load; throws std::runtime_error on the first fault. Runs once.
    void load_data_ex();

    // The loaded settings and tables as INF lines on standard output.
    void print_loaded_data();

    void check_data_consistency_ex();
    // Kind of the variable at the end of the alias chain that starts at name.
    IO_Descriptor::IO_Type check_for_alias_loops_and_get_pointed_type_ex(std::string name,
                                                                         std::vector<std::string>* visited);
    void manage_master_offline();
    void compute_offsets_and_build_io_vectors_ex();

    static unsigned int get_type_dimension(Type_Definition type);

    std::string ethercat_file;
    uint32_t master_cycle_time_ns = 0;
    uint32_t watchdog_to_master = 0;
    uint32_t async_data_timeout_ns = 0;
    int32_t rt_appl_num = 0;
    int32_t linux_appl_num = 0;
    uint32_t inputs_num = 0;
    uint32_t outputs_num = 0;
    uint32_t async_inputs_num = 0;
    uint32_t async_outputs_num = 0;
    uint32_t sem_data_groups_num = 0;

    bool m_xml_split_local_root;  // develop mode: root path from "local_path"
    bool m_master_offline;
    bool m_bridge_enabled;
    IO_Descriptor_List m_virtual_ios_vector;
    // Every file reader in load order; entry 0 is this manager.
    std::vector<Application_Descriptor_Mngr*> m_input_output_files_mgrs;
    bool m_has_in_out_files = false;
    xmlpp::Node* m_input_output_files_node = nullptr;
    xmlpp::Node* m_input_output_files_location = nullptr;
    std::string m_xml_root_path;
    int32_t m_virtual_io_offset = 0;
    int32_t m_xml_inputs_num = 0;

private:
    void read_global_settings_ex();
    uint64_t read_global_number_ex(const std::string& element, uint64_t max_value, bool tolerate_reader_error);
    void read_root_path_ex();
    void read_ethercat_file_ex();
    void create_secondary_file_readers_ex();

    std::vector<std::unique_ptr<Application_Descriptor_Mngr>> m_secondary_files_mgrs;
    bool m_load_started = false;
};
