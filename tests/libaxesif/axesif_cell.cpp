#include "axesif_cell.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "global_define.h"

Axes_Cell::Options one_drive(const std::string& descriptor, const std::string& drive, int manager)
{
    Axes_Cell::Options options;
    options.descriptor = example_descriptor(descriptor);
    if (manager != 0)
        options.descriptor = replaced(options.descriptor, "axmngr_0", "axmngr_" + std::to_string(manager));
    options.drives = {"1001:" + drive};
    options.axmand_arguments = {"-n", std::to_string(manager)};
    options.manager = static_cast<uint32_t>(manager);
    return options;
}

Axesif_Cell::Axesif_Cell(Axes_Cell::Options options, int send_timeout_ms)
{
    options.attach_client = false;
    m_cell = std::make_unique<Axes_Cell>(options);
    m_framework.init_with_h_compatibility_check_ex("axesif_test", 4, 1);
    m_iface = std::make_unique<Axes_Manager_Interface>(static_cast<int>(options.manager));
    m_iface->setup_ex(&m_framework);
    m_iface->set_command_timeout_ms(send_timeout_ms);
    m_iface->acquire_control_ex();
    refresh();
}

Axesif_Cell::~Axesif_Cell()
{
    m_iface.reset();
    m_framework.unlink();
}

void Axesif_Cell::refresh()
{
    uint32_t tick = 0;
    (void)m_framework.refresh_data_ex(&tick);  // a time-out only repeats the last image
    m_iface->refresh_ex();
}

bool Axesif_Cell::refresh_until(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        refresh();
        if (done())
            return true;
    }
    return false;
}

bool Axesif_Cell::complete(std::chrono::milliseconds limit)
{
    return refresh_until([&] { return m_iface->is_last_command_completed(); }, limit);
}

void Axesif_Cell::power_up()
{
    m_iface->reset_ex();
    if (!complete())
        throw std::runtime_error("reset did not complete\n" + m_cell->axmand().log());
    if (!refresh_until([&] {
            for (int state : m_iface->get_axes_status_ex())
                if (state != STATE_OPERATION_MODE_IDLE)
                    return false;
            return m_iface->get_axes_manager_status_ex() == OPERATIONAL;
        }))
        throw std::runtime_error("axes not idle after reset\n" + m_cell->axmand().log());
}

std::string Axesif_Cell::object_bytes(int slave, uint16_t index, uint8_t subindex)
{
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04x", index);
    const std::string head =
        "[drivesim] slave " + std::to_string(slave) + " object " + hex + ":" + std::to_string(subindex);
    Child_Process& drivesim = m_cell->drivesim();
    const int before = count_of(drivesim.log(), head);
    m_cell->drive("object " + std::to_string(slave) + " " + std::to_string(index) + " " + std::to_string(subindex));
    if (!drivesim.wait_for_log(head, std::chrono::seconds(5), before + 1))
        throw std::runtime_error("drivesim did not answer " + head);
    const std::string log = drivesim.log();
    const size_t at = log.rfind(head);
    const size_t end = log.find('\n', at);
    return log.substr(at + head.size(), end - at - head.size());
}

uint32_t Axesif_Cell::object_value(int slave, uint16_t index, uint8_t subindex)
{
    std::istringstream bytes(object_bytes(slave, index, subindex));
    uint32_t value = 0;
    int shift = 0;
    for (std::string byte; bytes >> byte && shift < 32; shift += 8)
        value |= static_cast<uint32_t>(std::stoul(byte, nullptr, 16)) << shift;
    return value;
}

int32_t Axesif_Cell::drive_position(int slave)
{
    const std::string state = m_cell->drive_state(slave);
    const size_t at = state.find(" pos ");
    return std::stoi(state.substr(at + 5));
}
