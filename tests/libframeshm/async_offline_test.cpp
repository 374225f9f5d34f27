// Asynchronous polls against a fake server whose master is offline or that
// never served a request: states rtframe -o does not take.
#include <gtest/gtest.h>

#include "fake_framework.h"
#include "test_helpers.h"
#include "xelo_framework_shm_manager.h"

class Async_Offline : public testing::Test {
protected:
    Async_Offline() : framework(layout())
    {
        framework.async().input_data_from_framework_ptr[0].value[0] = 7;
        app.init_with_h_compatibility_check_ex("offline", 4, 1);
        input = app.get_async_input_id_ex("torque");
        output = app.get_async_output_id_ex("speed");
    }

    static Fake_Framework::Layout layout()
    {
        Fake_Framework::Layout l;
        l.async_inputs = {{"torque", INT16_FSM, 2}};
        l.async_outputs = {{"speed", INT32_FSM, 4}};
        return l;
    }

    // The master state as the next refresh takes it.
    void refresh_with_master(uint8_t online)
    {
        framework.input_image()[0] = online;  // is_ethercat_master_online
        framework.post(app.get_application_number());
        ASSERT_EQ(app.refresh_data_ex(nullptr), 0);
    }

    Fake_Framework framework;
    Framework_Shared_Memory_Manager app;
    int input = -1;
    int output = -1;
};

// Requests are not served: the polls answer done at once, reporting the
// master offline, and the value is the last one served.
TEST_F(Async_Offline, PollsAreDoneAtOnceWhileTheMasterIsOffline)
{
    refresh_with_master(0);
    app.refresh_async_input_ex(input);
    uint8_t online = 9;
    EXPECT_EQ(app.is_async_input_refresh_ex(input, &online), 1);
    EXPECT_EQ(online, 0);
    EXPECT_EQ(app.get_async_input_ex<short>(input), 7);
    EXPECT_EQ(framework.async().input_data_to_framework_ptr[0].to_update, 1);  // still pending

    app.set_async_output_ex<int>(output, -2);
    online = 9;
    EXPECT_EQ(app.is_async_output_set_ex(output, &online), 1);
    EXPECT_EQ(online, 0);
    const Shared_Async_Output_Data_To_Framework& request = framework.async().output_data_to_framework_ptr[0];
    EXPECT_EQ(request.to_update, 1);
    EXPECT_EQ(request.new_value[0], 0xfe);
    EXPECT_EQ(request.application_number_take_rw, 100 + app.get_application_number());
}

// Without a request the remembered stamp and deadline are zero: a variable
// that was served once counts as done, one never served as expired.
TEST_F(Async_Offline, APollWithoutRequest)
{
    refresh_with_master(1);
    EXPECT_NE(thrown_text([&] {
                  app.is_async_input_refresh_ex(input, nullptr);
              }).find("Error, async_input_id request expired"),
              std::string::npos);
    framework.async().input_data_from_framework_ptr[0].ts = Shared_Timespec{1, 0};
    EXPECT_EQ(app.is_async_input_refresh_ex(input, nullptr), 1);
}
