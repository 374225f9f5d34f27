#include <atomic>
#include <chrono>
#include <climits>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "eventually.h"
#include "rtframe_test.h"
#include "test_helpers.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
// The default_value attribute of a variable in the descriptor file on disk.
std::string default_in_file(const std::string& label)
{
    std::ifstream file("/tmp/application_descriptor.xml");
    std::stringstream text;
    text << file.rdbuf();
    const std::regex element("<virtual_io[^>]*name_virtual=\"" + label + "\"[^>]*>");
    std::smatch found;
    const std::string xml = text.str();
    if (!std::regex_search(xml, found, element))
        return "<no element>";
    std::smatch value;
    const std::string tag = found.str();
    if (!std::regex_search(tag, value, std::regex("default_value=\"([^\"]*)\"")))
        return "<no default>";
    return value[1];
}

// Refreshes until one had to wait for its wake-up: the period starts anew.
bool align_with_period(Framework_Shared_Memory_Manager& manager)
{
    for (int i = 0; i < 10; ++i) {
        const auto start = Clock::now();
        if (manager.refresh_data_ex(nullptr) >= 0 && Clock::now() - start > 20ms)
            return true;
    }
    return false;
}
}  // namespace

using Watchdog = Rtframe_Test;

TEST_F(Watchdog, PeriodIsRoundedDownToWholeCycles)
{
    auto app = attach("period");
    EXPECT_EQ(app->get_master_cycle_time_ns_ex(), 1000000u);
    Shared_Sem_Struct& slot = view->slot(app->get_application_number());
    app->set_refresh_time_ns_ex(2500000);
    EXPECT_EQ(slot.start_value, 2u);
    EXPECT_EQ(thrown_text([&] { app->set_refresh_time_ns_ex(999999); }),
              "[Framework_Shared_Memory_Manager][set_refresh_time_ns_ex] Failed to set refresh value -> "
              "refresh_time < master_cycle_time");
    EXPECT_EQ(slot.start_value, 2u);

    uint32_t previous = 0;
    for (int i = 0; i < 3; ++i)
        ASSERT_GE(app->refresh_data_ex(&previous), 0);
    // A refresh that came late (a loaded machine) reports the periods it
    // missed; the ticks it returns still fall on whole periods of 2 cycles.
    for (int i = 0; i < 10; ++i) {
        uint32_t tick = 0;
        ASSERT_GE(app->refresh_data_ex(&tick), 0);
        EXPECT_EQ((tick - previous) % 2, 0u) << tick << " after " << previous;
        EXPECT_GE(tick - previous, 2u);
        previous = tick;
    }
}

TEST_F(Watchdog, RefreshTimeoutFollowsTheWatchdogAndNeverWraps)
{
    auto app = attach("timeouts");
    Shared_Sem_Struct& slot = view->slot(app->get_application_number());
    EXPECT_EQ(thrown_text([&] { app->set_watchdog_value_ex(-1); }),
              "[Framework_Shared_Memory_Manager][set_watchdog_value_ex] num_cycle :: -1 < 0, it should not be!");
    EXPECT_EQ(slot.watchdog_max_value, 1000);

    app->set_refresh_time_ns_ex(100000000);  // a wake-up every 100 cycles
    ASSERT_TRUE(align_with_period(*app));
    app->set_watchdog_value_ex(0);  // time-out 0: only a pending wake-up would pass
    auto start = Clock::now();
    EXPECT_EQ(app->refresh_data_ex(nullptr), -2);
    EXPECT_LT(Clock::now() - start, 1s);  // far below the 2 s default
    app->turn_off_watchdog_ex();          // back to 2 s
    ASSERT_TRUE(align_with_period(*app));
    app->turn_on_watchdog_ex();  // the time-out of the watchdog value again
    start = Clock::now();
    EXPECT_EQ(app->refresh_data_ex(nullptr), -2);
    EXPECT_LT(Clock::now() - start, 1s);
    app->turn_off_watchdog_ex();
    EXPECT_EQ(slot.watchdog_is_active, 0);

    // 2 x num_cycle exceeds 32 bits: the time-out must not wrap into the past
    for (const int num_cycle : {(1 << 30) + 1, INT_MAX}) {
        app->set_watchdog_value_ex(num_cycle);
        EXPECT_EQ(slot.watchdog_max_value, num_cycle);
        for (int i = 0; i < 3; ++i)  // at most one finds its wake-up already posted
            EXPECT_GE(app->refresh_data_ex(nullptr), 0) << num_cycle << " refresh " << i;
    }
}

class Watchdog_Expiry : public Rtframe_Test, public testing::WithParamInterface<bool> {
protected:
    // An application that owns "solo" (written 5) and then stops refreshing
    // with its watchdog on, until the server has freed its slot.
    std::unique_ptr<Framework_Shared_Memory_Manager> expired_application()
    {
        auto app = attach("old");
        const int n = app->get_application_number();
        solo = app->get_output_rw_id_ex("solo", false);
        solo_byte = view->output_image() + view->output_record("solo")->byte_offs;
        app->set_output_ex<unsigned char>(solo, 5);
        EXPECT_GE(app->refresh_data_ex(nullptr), 0);
        EXPECT_EQ(*solo_byte, 5);
        app->set_watchdog_value_ex(5);
        app->turn_on_watchdog_ex();
        EXPECT_GE(app->refresh_data_ex(nullptr), 0);
        EXPECT_TRUE(eventually([&] { return view->slot(n).is_assigned == 0; }));
        EXPECT_TRUE(eventually([&] {
            return server_log().find("Application " + std::to_string(n) +
                                     " (old) watchdog (5 cycles) realtime expired!") != std::string::npos;
        }));
        return app;
    }

    int solo = -1;
    const uint8_t* solo_byte = nullptr;
};

// The parameter: the next application attaches before the expired one
// refreshes again (it then finds the slot assigned to someone else).
TEST_P(Watchdog_Expiry, TheOldApplicationNeitherWritesNorWaitsOnTheSlotAnyMore)
{
    const bool next_first = GetParam();
    auto old_app = expired_application();
    const int n = old_app->get_application_number();
    EXPECT_EQ(view->output_record("solo")->application_number_take_rw, -1);
    EXPECT_EQ(*solo_byte, 0);  // the server restored the default

    std::unique_ptr<Framework_Shared_Memory_Manager> next;
    if (next_first)
        next = attach("next");
    old_app->set_output_ex<unsigned char>(solo, 9);    // still taken locally
    EXPECT_EQ(old_app->refresh_data_ex(nullptr), -1);  // the wake-up pending from before the expiry
    EXPECT_EQ(*solo_byte, 0);
    if (!next_first)
        next = attach("next");
    ASSERT_EQ(next->get_application_number(), n);

    std::atomic<bool> stop{false};
    std::vector<int> old_results;
    std::thread old_loop([&] {
        while (!stop)
            old_results.push_back(old_app->refresh_data_ex(nullptr));
    });
    std::vector<int> next_results;
    for (int i = 0; i < 100; ++i)
        next_results.push_back(next->refresh_data_ex(nullptr));
    stop = true;
    old_loop.join();
    for (const int result : next_results)
        EXPECT_GE(result, 0);
    ASSERT_FALSE(old_results.empty());
    for (const int result : old_results)
        EXPECT_EQ(result, -2);  // after its time-out, without taking a wake-up
    EXPECT_EQ(*solo_byte, 0);

    const std::string released = "application slot was released by the framework watchdog";
    EXPECT_NE(thrown_text([&] { old_app->turn_off_watchdog_ex(); }).find(released), std::string::npos);
    EXPECT_NE(thrown_text([&] { old_app->set_refresh_time_ns_ex(2000000); }).find(released), std::string::npos);
    EXPECT_NE(thrown_text([&] { (void)old_app->try_acquire_output_group_ex(7); }).find(released), std::string::npos);
    EXPECT_EQ(next->get_output_rw_id_ex("solo", false), solo);
    old_app.reset();
    EXPECT_EQ(view->app_name(n), "next");
    EXPECT_EQ(view->slot(n).is_assigned, 1);
    EXPECT_EQ(view->output_record("solo")->application_number_take_rw, 100 + n);
}

INSTANTIATE_TEST_SUITE_P(NextApplication, Watchdog_Expiry, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("AttachesFirst") : std::string("AttachesAfterwards");
                         });

TEST_F(Watchdog, SaveRequestReachesTheDescriptorFile)
{
    auto app = attach("saver");
    const int id = app->get_output_rw_id_ex("save_u16", false);
    app->set_output_ex<unsigned short>(id, 1000);
    ASSERT_GE(app->refresh_data_ex(nullptr), 0);
    app->set_current_value_as_default_ex(id);
    EXPECT_EQ(app->get_output_default_value_ex<unsigned short>(id), 1000);
    EXPECT_EQ(default_in_file("save_u16"), "7");
    app->save_cfg_file_ex();
    EXPECT_EQ(view->info().has_to_save, 0u);
    EXPECT_EQ(view->output_record("save_u16")->has_to_save, 0);
    EXPECT_EQ(default_in_file("save_u16"), "1000");
    EXPECT_EQ(default_in_file("save_u8"), "3");
}

class Watchdog_Long_Save : public Rtframe_Test {
protected:
    Test_Descriptor descriptor() const override
    {
        Test_Descriptor d;
        d.padding_variables = 60;  // the server's save pass takes a millisecond per variable
        return d;
    }
};

TEST_F(Watchdog_Long_Save, ASecondRequestWaitsForTheRunningSaveAndSavesToo)
{
    auto first = attach("first");
    auto second = attach("second");
    const int u16 = first->get_output_rw_id_ex("save_u16", false);
    const int u8 = second->get_output_rw_id_ex("save_u8", false);
    first->set_output_ex<unsigned short>(u16, 1000);
    second->set_output_ex<unsigned char>(u8, 200);
    first->set_current_value_as_default_ex(u16);
    second->set_current_value_as_default_ex(u8);

    std::string first_error;
    std::thread first_save([&] { first_error = thrown_text([&] { first->save_cfg_file_ex(); }); });
    ASSERT_TRUE(eventually([&] { return __atomic_load_n(&view->info().has_to_save, __ATOMIC_ACQUIRE) != 0; }));
    testing::internal::CaptureStdout();
    const std::string second_error = thrown_text([&] { second->save_cfg_file_ex(); });
    const std::string log = testing::internal::GetCapturedStdout();
    first_save.join();

    EXPECT_EQ(first_error, "<nothing thrown>");
    EXPECT_EQ(second_error, "<nothing thrown>");
    EXPECT_NE(log.find("[Framework_Shared_Memory_Manager][save_cfg_file_ex] aleady saving .. going to wait"),
              std::string::npos)
        << log;
    EXPECT_EQ(default_in_file("save_u16"), "1000");
    EXPECT_EQ(default_in_file("save_u8"), "200");
}
