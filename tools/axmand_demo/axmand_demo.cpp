// The demo's client of axmand, through libaxesif: resets the axes of manager
// 0, homes axis 0, moves it to a position, starts a longer move and
// quick-stops it, then resets again, printing the states and the position on
// the way.
//   axmand_demo [--manager <m>]

#include <getopt.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "axes_manager_interface.h"
#include "axesif_client.h"
#include "global_define.h"
#include "quiet_stdout.h"
#include "xelo_framework_shm_manager.h"

namespace {

// The interface logs every step of its command state machine on standard
// output, which stays quiet; the demo prints on a copy taken before.
FILE* out = stdout;

std::string axis_state_name(int state)
{
    switch (state) {
    case STATE_FAULT: return "STATE_FAULT";
    case STATE_INIT: return "STATE_INIT";
    case STATE_OPERATION_MODE_IDLE: return "STATE_OPERATION_MODE_IDLE";
    case STATE_QUICK_STOP_ACTIVE: return "STATE_QUICK_STOP_ACTIVE";
    case STATE_WORKING: return "STATE_WORKING";
    case STATE_IS_RUNNING: return "STATE_IS_RUNNING";
    default: return std::to_string(state);
    }
}

class Demo {
public:
    explicit Demo(int manager) : m_client("axmand_demo", manager), m_iface(m_client.iface()) {}

    bool refresh_until(const std::function<bool()>& done, std::chrono::milliseconds limit)
    {
        return m_client.refresh_until(done, limit, [this](int refreshes) {
            if (refreshes % 100 == 0)
                show(m_step.c_str());
        });
    }

    void show(const char* step)
    {
        std::fprintf(out, "  %-28s manager %d  axis %-26s position %9.3f  error %-6s  in error %d  warning %d\n", step,
                     m_iface.get_axes_manager_status_ex(), axis_state_name(m_iface.get_axis_status_ex(0)).c_str(),
                     m_iface.get_axis_actual_position_ex(0), m_iface.get_axis_error_code_as_hex_string_ex(0).c_str(),
                     m_iface.get_is_in_error_ex() ? 1 : 0, m_iface.get_is_in_warning_ex() ? 1 : 0);
        std::fflush(out);
    }

    // Sends with send(), then follows the command to its end.
    bool run(const std::string& step, const std::function<void()>& send)
    {
        m_step = step;
        send();
        const std::string error = m_iface.get_last_send_error();
        if (!error.empty()) {
            std::fprintf(out, "%s not sent: %s\n", step.c_str(), error.c_str());
            return false;
        }
        const bool done = refresh_until([&] { return m_iface.is_last_command_completed(); }, std::chrono::seconds(20));
        std::fprintf(out, "%s %s\n", step.c_str(), done && !m_iface.get_is_in_error_ex() ? "completed" : "FAILED");
        show(step.c_str());
        return done && !m_iface.get_is_in_error_ex();
    }

    // The published state follows the answer within a few ticks.
    void settle()
    {
        refresh_until([&] { return m_iface.get_axes_manager_status_ex() == OPERATIONAL; }, std::chrono::seconds(1));
    }

    void step(const std::string& name) { m_step = name; }
    Axes_Manager_Interface& iface() { return m_iface; }

private:
    Axesif_Client m_client;
    Axes_Manager_Interface& m_iface;
    std::string m_step;
};

}  // namespace

int main(int argc, char* argv[])
{
    int manager = 0;
    const option options[] = {{"manager", required_argument, nullptr, 'm'}, {nullptr, 0, nullptr, 0}};
    for (int o; (o = getopt_long(argc, argv, "m:", options, nullptr)) != -1;) {
        if (o != 'm') {
            std::fprintf(stderr, "usage: axmand_demo [--manager <m>]\n");
            return 2;
        }
        manager = static_cast<int>(std::strtol(optarg, nullptr, 10));
    }
    std::fflush(stdout);
    const int copy = dup(STDOUT_FILENO);
    if (copy != -1 && (out = fdopen(copy, "w")) == nullptr)
        out = stderr;
    Quiet_Stdout quiet;
    try {
        Demo demo(manager);
        Axes_Manager_Interface& iface = demo.iface();
        demo.show("attached");

        if (!demo.run("reset", [&] { iface.reset_ex(); }))
            return 1;
        demo.settle();
        demo.show("powered up");

        if (!demo.run("homing (method 37)", [&] { iface.do_axis_homing_ex(0, {37, 5.0, 20.0, 500.0}); }))
            return 1;
        if (!demo.run("move to 50", [&] { iface.move_axis_to_absolute_target_position_ex(0, {50.0, 100.0, 400.0}); }))
            return 1;

        iface.move_axis_to_absolute_target_position_ex(0, {1000.0, 100.0, 400.0});
        demo.step("moving to 1000");
        demo.refresh_until([] { return false; }, std::chrono::milliseconds(300));
        demo.show("moving to 1000");
        if (!demo.run("quick stop", [&] { iface.perform_quickstop_for_all_axes_ex(); }))
            return 1;
        demo.step("quick stopped");
        demo.refresh_until([] { return false; }, std::chrono::milliseconds(300));
        demo.show("quick stopped");
        if (!demo.run("reset", [&] { iface.reset_ex(); }))
            return 1;
        demo.settle();
        demo.show("recovered");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "axmand_demo: %s\n", e.what());
        return 1;
    }
    return 0;
}
