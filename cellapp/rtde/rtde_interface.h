#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "framework_thread.h"
#include "rtde.h"
#include "stop_flag.h"

// The robot program's runtime state as the controller reports it.
enum Robot_Program_Status : int32_t {
    ROBOT_STATE_NULL = -1,
    ROBOT_STOPPING = 0,
    ROBOT_STOPPED = 1,
    ROBOT_PLAYING = 2,
    ROBOT_PAUSING = 3,
    ROBOT_PAUSED = 4,
    ROBOT_RESUMING = 5,
};

// The per-package callback.
typedef void (*ptrf)();

// Follows the robot controller over RTDE: subscribes to runtime_state,
// safety_status_bits and robot_status_bits and, on "RTDE_THREAD", updates
// the three values of every data package and then calls the callback.
//
// A connection loss, a refused output recipe (a variable not found, or a
// type other than UINT32 in the reply) or an exception of the client or the
// callback ends the reading with one ERR line; no callback follows. A data
// package shorter or longer than the recipe, or of a recipe id other than
// the one the controller gave the output setup, is skipped with an ERR line.
// The destructor wakes "RTDE_THREAD" and joins it.
class RtdeInterface {
public:
    RtdeInterface(const std::string& address, int port, int frequency, bool verbose);
    ~RtdeInterface();
    RtdeInterface(const RtdeInterface&) = delete;
    RtdeInterface& operator=(const RtdeInterface&) = delete;

    void set_function_pointer(ptrf function);
    // Connects, sets up the recipes, starts the stream (retrying a refused
    // start every second, for at most the start limit) and starts
    // "RTDE_THREAD". Throws on failure, a start still refused at the limit
    // included.
    void init();
    static constexpr std::chrono::milliseconds DEFAULT_START_LIMIT{30000};
    void set_start_limit(std::chrono::milliseconds limit) { m_start_limit = limit; }

    Robot_Program_Status get_robot_program_status() const { return m_robot_program_status.load(); }
    bool is_safeguard_active() const { return m_is_safeguard_active.load(); }
    bool is_program_running() const { return m_is_program_running.load(); }

    // Output setup of the robot's variables at the frequency; false when the
    // controller does not know one of them.
    bool create_recipe_in(const std::vector<std::string>& variables);
    // Input setup of the client's variables.
    void create_recipe_out(const std::vector<std::string>& variables);
    // Reads and handles one data package.
    void cyclic_rtde_thread_fun();
    static void* rtde_thread(void* self);

private:
    void run();

    std::chrono::milliseconds m_start_limit = DEFAULT_START_LIMIT;
    int _frequency;
    rtde_client::RTDE m_con;
    std::atomic<ptrf> m_ptrf{nullptr};
    std::atomic<Robot_Program_Status> m_robot_program_status{ROBOT_STATE_NULL};
    Robot_Program_Status m_robot_program_status_pre = ROBOT_STATE_NULL;
    std::atomic<bool> m_is_safeguard_active{false};
    std::atomic<bool> m_is_program_running{false};
    Stop_Flag m_stopping;
    Framework_Thread m_thread{m_stopping};
};
