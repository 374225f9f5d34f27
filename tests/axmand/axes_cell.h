#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "axes_client.h"
#include "child_process.h"
#include "rtframe_child.h"

// Text of an example axes descriptor (examples/axmand/<name>.xml).
std::string example_descriptor(const std::string& name);
// text with every occurrence of from replaced by to (at least one, else throws).
std::string replaced(std::string text, const std::string& from, const std::string& to);

// A cell of real processes: rtframe -o on a descriptor, drivesim with one
// drive per entry, axmand, and this test process as the manager's client.
class Axes_Cell {
public:
    struct Options {
        std::string descriptor;           // the descriptor's text
        std::vector<std::string> drives;  // drivesim --drive arguments, e.g. "1001:schneider"
        std::vector<std::string> axmand_arguments{"-n", "0"};
        bool start_axmand = true;
        bool wait_axmand_threads = true;  // wait for "init cyclic thread --> done"
        bool attach_client = true;
        uint32_t manager = 0;
    };

    explicit Axes_Cell(const Options& options);
    ~Axes_Cell();
    Axes_Cell(const Axes_Cell&) = delete;
    Axes_Cell& operator=(const Axes_Cell&) = delete;

    // Starts another axmand (its log in /tmp/axmand_<n>.log).
    std::unique_ptr<Child_Process> start_axmand(const std::vector<std::string>& arguments, int n) const;
    Child_Process& axmand() { return *m_axmand; }
    Child_Process& drivesim() { return *m_drivesim; }
    Rtframe_Child& rtframe() { return *m_rtframe; }
    Axes_Client& client() { return *m_client; }
    void drop_axmand() { m_axmand.reset(); }

    // A command line to drivesim ("fault 1001 0x7121"); waits for its answer line.
    void drive(const std::string& command);
    // drivesim's "state <slave>" line, e.g. "operation enabled sw 0x0237 cw 0x000f mode 1 pos 5000 vel 0 ...".
    std::string drive_state(int slave);
    // Distinct control words the drive received, from drivesim's "history".
    std::string drive_history(int slave);
    // The axis states axmand logged, in order, from the first occurrence of after on.
    std::vector<std::string> axis_states(int axis, const std::string& after = "");
    // Refreshes until the manager state is state (true) or the limit passes.
    bool wait_manager_state(int8_t state, std::chrono::milliseconds limit = std::chrono::seconds(10));
    bool wait_axis_state(int axis, int8_t state, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Manager states seen at every refresh until done, without repeats.
    std::vector<int> record_manager_states(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // Stops the children (axmand, drivesim, rtframe) and checks each exit status 0.
    void stop_all();

    std::string descriptor_path;

private:
    std::unique_ptr<Rtframe_Child> m_rtframe;
    std::unique_ptr<Child_Process> m_drivesim;
    std::unique_ptr<Child_Process> m_axmand;
    std::unique_ptr<Axes_Client> m_client;
};

// Reset and wait for OPERATIONAL with the axes enabled (answer 1).
void power_up(Axes_Cell& cell);
