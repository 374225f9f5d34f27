#pragma once

// A framework client with one axes manager's interface in its control, as the
// demo and the benchmarks drive axmand: attached under the client's name,
// commands answered within 2 s, refreshed by the caller.

#include <chrono>
#include <cstdint>
#include <functional>

#include "axes_manager_interface.h"
#include "xelo_framework_shm_manager.h"

class Axesif_Client {
public:
    Axesif_Client(const char* name, int manager) : m_iface(manager)
    {
        m_framework.init_with_h_compatibility_check_ex(name, 4, 1);
        m_iface.setup_ex(&m_framework);
        m_iface.set_command_timeout_ms(2000);
        m_iface.acquire_control_ex();
        refresh();
    }

    void refresh()
    {
        uint32_t tick = 0;
        (void)m_framework.refresh_data_ex(&tick);
        m_iface.refresh_ex();
    }

    // Refreshes until done() holds after a refresh, at most for limit:
    // whether it held. every(n) is called after the n-th refresh that did not.
    bool refresh_until(const std::function<bool()>& done, std::chrono::milliseconds limit,
                       const std::function<void(int)>& every = {})
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        int refreshes = 0;
        while (std::chrono::steady_clock::now() < end) {
            refresh();
            if (done())
                return true;
            if (every)
                every(++refreshes);
        }
        return false;
    }

    Axes_Manager_Interface& iface() { return m_iface; }
    Framework_Shared_Memory_Manager& framework() { return m_framework; }

private:
    Framework_Shared_Memory_Manager m_framework;
    Axes_Manager_Interface m_iface;
};
