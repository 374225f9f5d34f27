#include "program_command_manager.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "robust_mutex.h"

namespace {
// The hardware-interface mutex as user (named in its lines) takes it.
Robust_Mutex hw_mutex(Hardware_Interface& hw, const char* user)
{
    return Robust_Mutex(&hw.mutex, user, "");
}
}  // namespace

Program_Command_Manager::Program_Command_Manager(Axes_Manager_Interface* am_iface, RtdeInterface* rtde_iface)
    : Program_Command_Manager(std::make_unique<Hardware_Interface>(am_iface, rtde_iface))
{
}

Program_Command_Manager::Program_Command_Manager(std::unique_ptr<Hardware_Interface> hw_iface)
    : m_hardware_interface(std::move(hw_iface)), m_state_machine(m_hardware_interface.get())
{
}

void Program_Command_Manager::init_hw_iface_mutex()
{
    m_hardware_interface->init_mutex();
}

void Program_Command_Manager::init_hw_iface_semaphore()
{
    m_hardware_interface->init_semaphore();
}

int Program_Command_Manager::new_command(Program_Commands_Params params)
{
    Hardware_Interface& hw = *m_hardware_interface;
    if (params.cmd_id != NULL_PROGRAM_CMD) {
        Program_Commands_Params replaced;
        {
            Robust_Mutex held = hw_mutex(hw, "XmlRpc-set_params");
            std::lock_guard<Robust_Mutex> lock(held);
            replaced = hw.get_parameters();
            hw.set_parameters(params);
            hw.sem_post_required = true;
        }
        // On the monotonic clock: a step of the wall clock neither withdraws
        // the command early nor holds the caller longer.
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += HAND_OVER_TIMEOUT_MS / 1000;
        int rc;
        while ((rc = sem_clockwait(&hw.sem, CLOCK_MONOTONIC, &deadline)) == -1 && errno == EINTR) {
        }
        if (rc == -1) {
            const int err = errno;
            Robust_Mutex held = hw_mutex(hw, "XmlRpc-set_params");
            std::lock_guard<Robust_Mutex> lock(held);
            if (hw.sem_post_required) {
                // No package took it: withdraw it, the earlier command stands.
                hw.sem_post_required = false;
                hw.set_parameters(replaced);
                throw std::runtime_error(
                    err == ETIMEDOUT
                        ? "[Program_Command_Manager][new_command] no RTDE package took the command within " +
                              std::to_string(HAND_OVER_TIMEOUT_MS) + " ms; withdrawn"
                        : std::string("[Program_Command_Manager][new_command] sem_clockwait: ") + std::strerror(err));
            }
            // Taken just at the deadline: consume the post.
            while (sem_trywait(&hw.sem) == -1 && errno == EINTR) {
            }
        }
    } else {
        Robust_Mutex held = hw_mutex(hw, "XmlRpc-set_boolean");
        std::lock_guard<Robust_Mutex> lock(held);
        hw.set_program_state_request(true);
    }
    Robust_Mutex held = hw_mutex(hw, "XmlRpc-get_state");
    std::lock_guard<Robust_Mutex> lock(held);
    return m_state_machine.get_actual_state();
}

void Program_Command_Manager::machine_refresh()
{
    Hardware_Interface& hw = *m_hardware_interface;
    Robust_Mutex held = hw_mutex(hw, "RTDE");
    std::lock_guard<Robust_Mutex> lock(held);
    m_state_machine.refresh();
    int value = 0;
    if (sem_getvalue(&hw.sem, &value) != 0)
        throw std::runtime_error("Failed sem_getvalue()");
    if (hw.sem_post_required && value < 1) {
        if (sem_post(&hw.sem) != 0)
            throw std::runtime_error("Failed sem_post()");
        hw.sem_post_required = false;
    }
}
