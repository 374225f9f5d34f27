// Every allocation of this test binary is counted.
#include "allocation_hooks.h"
#include "rtframe_test.h"

using No_Allocation = Rtframe_Test;

TEST_F(No_Allocation, TypedAccessAndRefreshBetweenCycles)
{
    auto app = attach("realtime");
    const int outputs[] = {app->get_output_rw_id_ex("v_bool", false),   app->get_output_rw_id_ex("v_i8", false),
                           app->get_output_rw_id_ex("v_u8", false),     app->get_output_rw_id_ex("v_i16", false),
                           app->get_output_rw_id_ex("v_u16", false),    app->get_output_rw_id_ex("v_i32", false),
                           app->get_output_rw_id_ex("v_u32", false),    app->get_output_rw_id_ex("v_i64", false),
                           app->get_output_rw_id_ex("v_u64", false),    app->get_output_rw_id_ex("v_float", false),
                           app->get_output_rw_id_ex("v_double", false), app->get_output_rw_id_ex("v_bytes", false)};
    const int inputs[] = {app->get_input_id_ex("v_bool"),   app->get_input_id_ex("v_i8"),
                          app->get_input_id_ex("v_u8"),     app->get_input_id_ex("v_i16"),
                          app->get_input_id_ex("v_u16"),    app->get_input_id_ex("v_i32"),
                          app->get_input_id_ex("v_u32"),    app->get_input_id_ex("v_i64"),
                          app->get_input_id_ex("v_u64"),    app->get_input_id_ex("v_float"),
                          app->get_input_id_ex("v_double"), app->get_input_id_ex("v_bytes")};
    ASSERT_GE(app->refresh_data_ex(nullptr), 0);

    uint8_t bytes[10] = {};
    double sum = 0;
    const long before = allocation_count();
    for (int cycle = 0; cycle < 50; ++cycle) {
        app->set_output_ex<bool>(outputs[0], cycle % 2 == 0);
        app->set_output_ex<signed char>(outputs[1], static_cast<signed char>(cycle));
        app->set_output_ex<unsigned char>(outputs[2], static_cast<unsigned char>(cycle));
        app->set_output_ex<short>(outputs[3], static_cast<short>(cycle));
        app->set_output_ex<unsigned short>(outputs[4], static_cast<unsigned short>(cycle));
        app->set_output_ex<int>(outputs[5], cycle);
        app->set_output_ex<unsigned int>(outputs[6], static_cast<unsigned>(cycle));
        app->set_output_ex<long long>(outputs[7], cycle);
        app->set_output_ex<unsigned long long>(outputs[8], static_cast<unsigned long long>(cycle));
        app->set_output_ex<float>(outputs[9], static_cast<float>(cycle));
        app->set_output_ex<double>(outputs[10], cycle);
        bytes[cycle % 10] = static_cast<uint8_t>(cycle);
        app->set_output_byte_array_ex(outputs[11], bytes, 10, 0);
        sum += app->get_input_ex<bool>(inputs[0], true) + app->get_input_ex<signed char>(inputs[1], true) +
               app->get_input_ex<unsigned char>(inputs[2], true) + app->get_input_ex<short>(inputs[3], true) +
               app->get_input_ex<unsigned short>(inputs[4], true) + app->get_input_ex<int>(inputs[5], true) +
               app->get_input_ex<unsigned int>(inputs[6], true) +
               static_cast<double>(app->get_input_ex<long long>(inputs[7], true)) +
               static_cast<double>(app->get_input_ex<unsigned long long>(inputs[8], true)) +
               app->get_input_ex<float>(inputs[9], true) + app->get_input_ex<double>(inputs[10], true) +
               app->get_output_ex<double>(outputs[10], true) + app->get_output_default_value_ex<int>(outputs[5]);
        app->get_input_byte_array_ex(inputs[11], bytes, 4, 2);
        app->get_output_byte_array_ex(outputs[11], bytes, 10, 0);
        ASSERT_GE(app->refresh_data_ex(nullptr), 0);
    }
    EXPECT_EQ(allocation_count() - before, 0);
    EXPECT_GT(sum, 0.0);  // the values were read
}
