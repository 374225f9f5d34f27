#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework_cmd_channel.h"
#include "global_define.h"
#include "xelo_framework_shm_manager.h"

// A plain client of an axes manager: attaches to the framework, takes the
// manager's command channel "axmngr_<m>" as its client, writes motion
// parameters as command data, sends commands and reads the manager's and the
// axes' published state after each refresh. Used by the demo, the tests and
// the benchmark.
class Axes_Client {
public:
    struct Snapshot {
        int8_t manager_state = 0;
        bool completed = false;
        bool in_error = false;
        int8_t first_axis_in_error = 0;
    };

    // Attaches (application name "axes_client") and binds the channel and the
    // manager's variables; throws std::runtime_error on failure.
    explicit Axes_Client(uint32_t manager = 0);
    ~Axes_Client();
    Axes_Client(const Axes_Client&) = delete;
    Axes_Client& operator=(const Axes_Client&) = delete;

    // Sends a command (polling up to send_timeout_ms for the server to wait)
    // and waits for the answer: 1 or -1, 0 when none came in answer_timeout_ms.
    [[nodiscard]] int command(int8_t code, int32_t send_timeout_ms = 2000, double answer_timeout_ms = 10000);
    // Sends without waiting for the answer.
    void send(int8_t code, int32_t send_timeout_ms = 2000);
    // Waits for the answer to a command sent with send: 1, -1 or 0 on time-out.
    [[nodiscard]] int answer(double timeout_ms = 10000);

    void set_op_mode(int axis, int8_t mode);
    void set_profile_position(int axis, int32_t target, uint32_t velocity, uint32_t acceleration, bool relative,
                              bool change_immediately = true);
    void set_profile_velocity(int axis, int32_t velocity, uint32_t acceleration);
    void set_homing(int axis, int8_t method, uint32_t switch_velocity, uint32_t zero_velocity, uint32_t acceleration);
    template <typename T>
    void set_cmd_data(const std::string& label, T value)
    {
        m_client->set_cmd_data_ex<T>(label, value);
    }
    template <typename T>
    T answer_data(const std::string& label)
    {
        return m_client->get_answ_data_ex<T>(label);
    }

    // One framework refresh, then the published values.
    void refresh();
    // The framework tick of the last refresh.
    uint32_t tick() const { return m_tick; }
    Snapshot snapshot() const;
    int8_t axis_state(int axis);
    uint16_t status_word(int axis);
    uint16_t control_word(int axis);
    int32_t position(int axis);
    // Refreshes until done() holds (true) or the time passes (false).
    [[nodiscard]] bool refresh_until(const std::function<bool()>& done, std::chrono::milliseconds limit);

    Framework_Shared_Memory_Manager& framework() { return m_framework; }

private:
    int input_id(const std::string& label);
    template <typename T>
    T axis_input(int axis, const std::string& suffix);

    std::string m_prefix;
    Framework_Shared_Memory_Manager m_framework;
    std::unique_ptr<Framework_Cmd_Client> m_client;
    uint32_t m_tick = 0;
    int m_status_id = -1, m_completed_id = -1, m_in_error_id = -1, m_first_in_error_id = -1;
};
