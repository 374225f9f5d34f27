#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "axes_cell.h"
#include "axes_manager_interface.h"
#include "xelo_framework_shm_manager.h"

// rtframe -o, drivesim and axmand as real processes (Axes_Cell), and this
// test process attached to the framework as the manager's client through
// Axes_Manager_Interface.
class Axesif_Cell {
public:
    // The cell's own client is not attached; the interface takes its place.
    // A send time-out of 2 s rides out the moment the manager's command
    // thread is between two commands.
    explicit Axesif_Cell(Axes_Cell::Options options, int send_timeout_ms = 2000);
    ~Axesif_Cell();
    Axesif_Cell(const Axesif_Cell&) = delete;
    Axesif_Cell& operator=(const Axesif_Cell&) = delete;

    Axes_Cell& cell() { return *m_cell; }
    Axes_Manager_Interface& iface() { return *m_iface; }
    Framework_Shared_Memory_Manager& framework() { return m_framework; }

    // One framework cycle, then the interface's refresh.
    void refresh();
    // Refreshes until done() holds (true) or the limit passes (false).
    bool refresh_until(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Refreshes and polls is_last_command_completed until it gives true;
    // false when the limit passes first.
    bool complete(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // reset_ex, completed, then the axes operation enabled and idle.
    void power_up();

    // Bytes of an object of the drive's dictionary, little endian.
    std::string object_bytes(int slave, uint16_t index, uint8_t subindex);
    uint32_t object_value(int slave, uint16_t index, uint8_t subindex);
    int32_t drive_position(int slave);

private:
    std::unique_ptr<Axes_Cell> m_cell;
    Framework_Shared_Memory_Manager m_framework;
    std::unique_ptr<Axes_Manager_Interface> m_iface;
};

// Options of a cell with one drive of a family on slave 1001, described by
// examples/axmand/<descriptor>.xml.
Axes_Cell::Options one_drive(const std::string& descriptor, const std::string& drive, int manager = 0);
