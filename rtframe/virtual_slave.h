#pragma once

#include <cstdint>
#include <vector>

#include "fab_descriptors.h"
#include "framework_shm_holders.h"

// One slave's block in one cyclic image.
class Slave_Ethercat {
public:
    enum Slave_Type : int32_t {
        INPUT = 0,
        OUTPUT = 1,
    };

    Slave_Ethercat(Slave_Type type, uint32_t _addr, uint32_t _byte_dim, uint32_t _data_offset)
        : m_type(type), m_addr(_addr), m_byte_dim(_byte_dim), m_data_offset(_data_offset)
    {
    }

    Slave_Type m_type;
    uint32_t m_addr;  // 0: the virtual slave
    uint32_t m_byte_dim;
    uint32_t m_data_offset;  // position of the block in its image
};

// The variables of slave address 0: one block in each image, placed once the
// segments exist, filled with the defaults, and every cycle the output block
// copied onto the input block, so that what an application writes into a
// virtual variable is read back by every application one cycle later.
class Virtual_Slave {
public:
    Virtual_Slave() = default;

    void add_input(IO_Descriptor* input_ptr);
    void add_output(IO_Descriptor* output_ptr);
    uint32_t get_input_dim() const { return m_input_byte_dim; }
    uint32_t get_output_dim() const { return m_output_byte_dim; }

    // Checks the pairing of writable inputs and outputs, finds the blocks in
    // the variable tables (both at 0 in master-offline mode) and writes the
    // defaults. Throws "[Virtual_Slave][map_and_initialize_cyclic_data] ..."
    // when the pairs do not match or a block does not fit its image.
    void map_and_initialize_cyclic_data(Shared_Info_Ptr* data_info, Shared_Cyclic_Data_Ptrs* cyclic_data_ptr,
                                        Shared_Application_Data_Ptrs* application_input_data,
                                        Shared_Application_Data_Ptrs* application_output_data, bool master_offline);

    // Output block onto input block; the caller holds the cyclic mutex.
    void update_io();

    int32_t get_input_virtual_start_offset() const { return m_input_virtual_start_offset; }
    int32_t get_output_virtual_start_offset() const { return m_output_virtual_start_offset; }

private:
    void check_coupling_ex() const;
    void find_output_start_offset();
    void write_input_defaults_and_find_start_offset();
    void write_output_defaults();
    void check_blocks_fit_images_ex() const;

    uint32_t m_addr = 0;
    uint32_t m_input_byte_dim = 0;
    int32_t m_input_virtual_start_offset = -1;
    int32_t m_output_virtual_start_offset = -1;
    std::vector<IO_Descriptor> m_input_vector;
    std::vector<IO_Descriptor> m_output_vector;
    uint32_t m_output_byte_dim = 0;
    Shared_Info_Ptr* m_data_info = nullptr;
    Shared_Cyclic_Data_Ptrs* m_cyclic_data_ptr = nullptr;
    Shared_Application_Data_Ptrs* m_application_input_data = nullptr;
    Shared_Application_Data_Ptrs* m_application_output_data = nullptr;
};
