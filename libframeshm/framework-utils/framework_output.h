#pragma once

#include <string>
#include <vector>

#include "framework_variable.h"

class Framework_Output_Group;

// A cyclic output that this application writes. The value to set is kept
// apart from the value read back, and is written at each refresh while the
// output is held: from set-up on for a stand-alone output (taken read-write by
// its lookup), while its group holds the group for a group member.
class Framework_Output : public Framework_Cyclic_Variable {
public:
    explicit Framework_Output(std::string label);
    ~Framework_Output() override;
    Framework_Output(const Framework_Output&) = delete;
    Framework_Output& operator=(const Framework_Output&) = delete;

    // Looks the output up (a stand-alone output takes it read-write), starts
    // the value to set at the output's present value and logs it.
    void setup_ex(Framework_Shared_Memory_Manager* frmk_ptr);
    // Previous value <- actual value <- the manager's output image; then a
    // held output writes its value to set into the manager.
    void refresh_ex() override;
    // Writes the value to set now and makes the output's current value its
    // default, to be saved at the next save request.
    void set_current_value_as_default_ex();

    // Scalars; for a byte vector or a string the whole variable becomes the
    // value. Nothing reaches the manager before the next refresh_ex.
    template <typename T>
    void set_value_ex(T value);
    // Byte vector or string: its bytes at byte_offset (a string without its
    // zero byte); with write_whole every other byte becomes 0.
    template <typename T>
    void set_value_ex(const T& value, bool write_whole, uint32_t byte_offset);

    template <typename T>
    T get_value_to_set_ex() const;
    template <typename T>
    T get_value_to_set_ex(uint32_t dim_given, uint32_t offset) const;

private:
    friend class Framework_Output_Group;

    Framework_Output(std::string label, bool is_sharable);
    void set_acquired(bool acquired);

    int32_t get_id_ex() override;
    Type_Definition get_type_ex() override;
    uint32_t get_dimension_ex() override;
    void read_value_from_shm_ex();
    void write_value_to_shm_ex();
    void check_acquired_ex(const char* method) const;

    std::vector<uint8_t> m_value_to_set;
    bool m_acquired = false;
    bool m_is_sharable = false;
};

// A cyclic output that this application only watches; another application
// or the server writes it.
class Framework_Output_Read_Only : public Framework_Cyclic_Variable {
public:
    explicit Framework_Output_Read_Only(std::string label);
    ~Framework_Output_Read_Only() override;
    Framework_Output_Read_Only(const Framework_Output_Read_Only&) = delete;
    Framework_Output_Read_Only& operator=(const Framework_Output_Read_Only&) = delete;

    void setup_ex(Framework_Shared_Memory_Manager* frmk_ptr);
    void refresh_ex() override;

private:
    int32_t get_id_ex() override;
    Type_Definition get_type_ex() override;
    uint32_t get_dimension_ex() override;
    void read_value_from_shm_ex();
};
