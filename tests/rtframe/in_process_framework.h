#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "framework_stopped.h"
#include "stop_flag.h"
#include "xelo_framework.h"

// One pass of rtframe's restart loop run on a thread of the test process:
// the framework object is built there and lives until its real-time thread
// ends. The destructor raises the process-wide stop request, joins the pass
// and lowers the request again.
class In_Process_Framework {
public:
    explicit In_Process_Framework(const std::string& descriptor)
        : m_pass([this, descriptor] {
              try {
                  XELO_Framework_ex framework(descriptor, true, true, false, false, false, "");
              } catch (const Framework_Stopped&) {
                  // stopped before its real-time thread ran
              } catch (const std::exception& error) {
                  ADD_FAILURE() << error.what();
              }
              m_ended = true;
          })
    {
    }
    ~In_Process_Framework()
    {
        process_stop_flag().request();
        m_pass.join();
        process_stop_flag().clear();
    }
    In_Process_Framework(const In_Process_Framework&) = delete;
    In_Process_Framework& operator=(const In_Process_Framework&) = delete;

    // Waits for the pass to end by itself; false on time-out.
    bool wait_ended(std::chrono::milliseconds timeout) const
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!m_ended) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    std::atomic<bool> m_ended{false};
    std::thread m_pass;
};
