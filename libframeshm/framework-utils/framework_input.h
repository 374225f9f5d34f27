#pragma once

#include <string>

#include "framework_variable.h"

class Framework_Input_Group;

// A cyclic input of the framework, read only.
class Framework_Input : public Framework_Cyclic_Variable {
public:
    explicit Framework_Input(std::string label);
    ~Framework_Input() override;
    Framework_Input(const Framework_Input&) = delete;
    Framework_Input& operator=(const Framework_Input&) = delete;

    // Looks the input up by its label, takes its first value and logs it.
    void setup_ex(Framework_Shared_Memory_Manager* frmk_ptr);
    // Previous value <- actual value <- the manager's input image.
    void refresh_ex() override;

private:
    friend class Framework_Input_Group;

    int32_t get_id_ex() override;
    Type_Definition get_type_ex() override;
    uint32_t get_dimension_ex() override;
    void read_value_from_shm_ex();

    bool m_from_group = false;  // indents the set-up log under the group's
};
