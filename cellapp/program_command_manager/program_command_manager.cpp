#include "program_command_manager.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <stdexcept>

#include "xelo_thread_mtx_wrapper.h"

namespace {
// Locks the hardware-interface mutex for a scope.
class Hw_Lock {
public:
    Hw_Lock(pthread_mutex_t* mutex, const char* name) : m_mutex(mutex), m_name(name)
    {
        mutex_lock_ex(m_mutex, m_name, "");
    }
    ~Hw_Lock() noexcept(false)
    {
        if (std::uncaught_exceptions() > m_exceptions)
            pthread_mutex_unlock(m_mutex);
        else
            mutex_unlock_ex(m_mutex, m_name, "");
    }
    Hw_Lock(const Hw_Lock&) = delete;
    Hw_Lock& operator=(const Hw_Lock&) = delete;

private:
    pthread_mutex_t* m_mutex;
    const char* m_name;
    int m_exceptions = std::uncaught_exceptions();
};
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
            Hw_Lock lock(&hw.mutex, "XmlRpc-set_params");
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
            Hw_Lock lock(&hw.mutex, "XmlRpc-set_params");
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
        Hw_Lock lock(&hw.mutex, "XmlRpc-set_boolean");
        hw.set_program_state_request(true);
    }
    Hw_Lock lock(&hw.mutex, "XmlRpc-get_state");
    return m_state_machine.get_actual_state();
}

void Program_Command_Manager::machine_refresh()
{
    Hardware_Interface& hw = *m_hardware_interface;
    Hw_Lock lock(&hw.mutex, "RTDE");
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
