#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "group_view.h"
#include "peer_process.h"
#include "rtframe_test.h"
#include "test_helpers.h"

// true once the predicate holds, false when it does not within the limit.
template <typename Predicate>
bool holds_within(Predicate predicate, std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// An exception text without its closing "( exception @ file:line )" part.
inline std::string without_source_line(const std::string& text)
{
    const std::size_t at = text.rfind("( exception @ ");
    return at == std::string::npos ? text : text.substr(0, at);
}

// A manager attached under the given name, for the body of a peer.
inline std::unique_ptr<Framework_Shared_Memory_Manager> attach_application(const std::string& name)
{
    auto manager = std::make_unique<Framework_Shared_Memory_Manager>();
    manager->init_with_h_compatibility_check_ex(name, XELO_FRAMEWORK_SHM_MANAGER_VERSION_MAJOR,
                                                XELO_FRAMEWORK_SHM_MANAGER_VERSION_MINOR);
    return manager;
}

inline bool exited_with(int status, int code)
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

// rtframe -o on the test descriptor, with a view of its data groups.
class Group_Test : public Rtframe_Test {
protected:
    void SetUp() override
    {
        Rtframe_Test::SetUp();
        groups = std::make_unique<Group_View>();
    }

    void TearDown() override
    {
        groups.reset();
        Rtframe_Test::TearDown();
    }

    // Waits until the server has freed the slot of an application whose
    // watchdog expired.
    bool slot_freed(int application_number)
    {
        return holds_within([&] { return view->slot(application_number).is_assigned == 0; });
    }

    std::unique_ptr<Group_View> groups;
};
