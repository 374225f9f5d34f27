// Framework variables bound by label against a running server.

#include <functional>
#include <tuple>

#include "framework_input.h"
#include "framework_output.h"
#include "objects_fixture.h"

using Framework_Variables = Objects_Test;

namespace {
const std::string TYPE_CHECK = "[Framework_Variable][check_type_internal_ex] ";
}  // namespace

TEST_F(Framework_Variables, BindByLabelAndLogTheVariable)
{
    Framework_Input input("t_u16");
    Framework_Output output("t_i32");
    Framework_Output_Read_Only watched("t_double");
    testing::internal::CaptureStdout();
    input.setup_ex(manager.get());
    output.setup_ex(manager.get());
    watched.setup_ex(manager.get());
    const std::vector<std::string> log = log_texts(testing::internal::GetCapturedStdout());

    EXPECT_EQ(input.id, manager->get_input_id_ex("t_u16"));
    EXPECT_EQ(input.type, UINT16_FSM);
    EXPECT_EQ(input.dimension, 2u);
    EXPECT_EQ(output.id, manager->get_output_ro_id_ex("t_i32"));
    EXPECT_EQ(owner("t_i32"), 100);  // a stand-alone output is taken read-write
    EXPECT_EQ(watched.type, DOUBLE_FSM);
    EXPECT_EQ(watched.dimension, 8u);
    EXPECT_EQ(owner("t_double"), -1);

    const std::string in = "[Framework_Input][setup_ex] ";
    const std::string out = "[Framework_Output][setup_ex] ";
    const std::string ro = "[Framework_Output_Read_Only][setup_ex] ";
    const std::vector<std::string> expected = {
        in + "Framework_Input info",
        in + "\tlabel      :: t_u16",
        in + "\tid         :: " + std::to_string(input.id),
        in + "\ttype       :: uint16",
        in + "\tdimension  :: 2",
        out + "Framework_Output info",
        out + "\tlabel      :: t_i32",
        out + "\tid         :: " + std::to_string(output.id),
        out + "\ttype       :: int32",
        out + "\tdimension  :: 4",
        out + "\tacquired   :: 1",
        ro + "Framework_Output_Read_Only info",
        ro + "\tlabel      :: t_double",
        ro + "\tid         :: " + std::to_string(watched.id),
        ro + "\ttype       :: double",
        ro + "\tdimension  :: 8",
    };
    EXPECT_EQ(log, expected);
}

TEST_F(Framework_Variables, FailedLookupLeavesTheObjectUnbound)
{
    auto other = attach("other");
    Framework_Output taken_by_other("t_u8");
    taken_by_other.setup_ex(other.get());

    Framework_Input missing("no_such_input");
    Framework_Output held_elsewhere("t_u8");
    EXPECT_EQ(thrown_text([&] { missing.setup_ex(manager.get()); }),
              "[Framework_Shared_Memory_Manager][get_input_id_ex] input name is not valid :: no_such_input");
    EXPECT_EQ(thrown_text([&] { held_elsewhere.setup_ex(manager.get()); }),
              "[Framework_Shared_Memory_Manager][get_output_rw_id_ex] output name is already assigned as rw :: t_u8");
    EXPECT_EQ(thrown_text([&] { missing.refresh_ex(); }),
              "[Framework_Output][Framework_Input] not initalized (label :: no_such_input, id :: -1)");
    EXPECT_EQ(thrown_text([&] { held_elsewhere.get_value_ex<uint8_t>(); }),
              TYPE_CHECK + "not initalized (label :: t_u8, id :: -1)");
}

TEST_F(Framework_Variables, ValueTypesMustMatchExactly)
{
    const struct {
        const char* label;
        std::function<void(const Framework_Input&)> read;
        const char* type_text;
    } cases[] = {
        {"t_i16", [](const Framework_Input& v) { v.get_value_ex<int32_t>(); }, "int16"},
        {"t_u8", [](const Framework_Input& v) { v.get_value_ex<bool>(); }, "uint8"},
        {"t_bool", [](const Framework_Input& v) { v.get_value_ex<uint8_t>(); }, "bool"},
        {"t_u64", [](const Framework_Input& v) { v.get_value_ex<int64_t>(); }, "uint64"},
        {"t_i32", [](const Framework_Input& v) { v.get_previous_value_ex<uint32_t>(); }, "int32"},
        {"t_float", [](const Framework_Input& v) { v.get_value_ex<int32_t>(); }, "float"},
        {"t_u32", [](const Framework_Input& v) { v.get_value_ex<std::string>(); }, "uint32"},
        {"t_bytes", [](const Framework_Input& v) { v.get_value_ex<uint64_t>(); },
         "byte_array (std::vector<uint8_t> / std::string)"},
    };
    for (const auto& c : cases) {
        Framework_Input input(c.label);
        input.setup_ex(manager.get());
        EXPECT_EQ(thrown_text([&] { c.read(input); }),
                  TYPE_CHECK + "invalid given type! " + c.label + " need type :: " + c.type_text);
    }

    Framework_Output output("t_i16");
    output.setup_ex(manager.get());
    output.set_value_ex<int16_t>(-3);
    EXPECT_EQ(thrown_text([&] { output.set_value_ex<uint16_t>(4); }),
              TYPE_CHECK + "invalid given type! t_i16 need type :: int16");
    EXPECT_EQ(output.get_value_to_set_ex<int16_t>(), -3);
}

namespace {
template <typename T>
struct Typed_Value {
    const char* label;
    T value;
};
}  // namespace

TEST_F(Framework_Variables, EveryValueTypeTravelsFromOutputToInput)
{
    const auto values =
        std::make_tuple(Typed_Value<bool>{"t_bool", true}, Typed_Value<int8_t>{"t_i8", -100},
                        Typed_Value<uint8_t>{"t_u8", 200}, Typed_Value<int16_t>{"t_i16", -30000},
                        Typed_Value<uint16_t>{"t_u16", 60000}, Typed_Value<int32_t>{"t_i32", -2000000000},
                        Typed_Value<uint32_t>{"t_u32", 4000000000u},
                        Typed_Value<int64_t>{"t_i64", -9000000000000000000LL},
                        Typed_Value<uint64_t>{"t_u64", 18000000000000000000ULL}, Typed_Value<float>{"t_float", -1.25f},
                        Typed_Value<double>{"t_double", 1e300});
    // action(i, typed value) for each value in order
    const auto for_each_value = [&](auto&& action) {
        std::apply(
            [&](const auto&... v) {
                std::size_t i = 0;
                (action(i++, v), ...);
            },
            values);
    };
    std::vector<std::unique_ptr<Framework_Output>> outputs;
    std::vector<std::unique_ptr<Framework_Input>> inputs;
    for_each_value([&](std::size_t, const auto& v) {
        outputs.push_back(std::make_unique<Framework_Output>(v.label));
        outputs.back()->setup_ex(manager.get());
        inputs.push_back(std::make_unique<Framework_Input>(v.label));
        inputs.back()->setup_ex(manager.get());
    });
    for_each_value([&](std::size_t i, const auto& v) { outputs[i]->set_value_ex(v.value); });

    const auto all_arrived = [&] {
        bool arrived = true;
        for_each_value([&](std::size_t i, const auto& v) {
            using T = std::decay_t<decltype(v.value)>;
            arrived = arrived && inputs[i]->template get_value_ex<T>() == v.value;
        });
        return arrived;
    };
    for (int period = 0; period < 200 && !all_arrived(); ++period) {
        ASSERT_GE(manager->refresh_data_ex(nullptr), 0);
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            outputs[i]->refresh_ex();
            inputs[i]->refresh_ex();
        }
    }
    for_each_value([&](std::size_t i, const auto& v) {
        using T = std::decay_t<decltype(v.value)>;
        EXPECT_EQ(inputs[i]->template get_value_ex<T>(), v.value) << v.label;
        EXPECT_EQ(outputs[i]->template get_value_ex<T>(), v.value) << v.label;
    });
}

TEST_F(Framework_Variables, IsChangedComparesTheLastTwoRefreshes)
{
    Framework_Input zero("t_i16");
    Framework_Input preset("t_u8");  // 77 from its default
    Framework_Output_Read_Only watched("t_u8");
    Framework_Output writer("t_i16");
    zero.setup_ex(manager.get());
    preset.setup_ex(manager.get());
    watched.setup_ex(manager.get());
    writer.setup_ex(manager.get());

    // the previous value starts at zero bytes; a freshly bound output has read its value twice
    EXPECT_FALSE(zero.is_changed());
    EXPECT_TRUE(preset.is_changed());
    EXPECT_TRUE(watched.is_changed());
    EXPECT_FALSE(writer.is_changed());

    cycle(*manager, zero, preset, watched, writer);
    cycle(*manager, zero, preset, watched, writer);
    EXPECT_FALSE(preset.is_changed());
    EXPECT_FALSE(watched.is_changed());
    EXPECT_EQ(preset.get_previous_value_ex<uint8_t>(), 77);
    EXPECT_EQ(preset.get_value_ex<uint8_t>(), 77);

    writer.set_value_ex<int16_t>(-5);
    cycle_until([&] { return zero.get_value_ex<int16_t>() == -5; }, *manager, writer, zero);
    EXPECT_TRUE(zero.is_changed());
    EXPECT_EQ(zero.get_previous_value_ex<int16_t>(), 0);
    cycle(*manager, writer, zero);
    EXPECT_FALSE(zero.is_changed());
    EXPECT_EQ(zero.get_previous_value_ex<int16_t>(), -5);
}

TEST_F(Framework_Variables, StandAloneOutputWritesItsValueToSetAtEachRefresh)
{
    Framework_Output output("t_u8");
    output.setup_ex(manager.get());
    for (int i = 0; i < 5; ++i)
        cycle(*manager, output);
    EXPECT_EQ(output_byte("t_u8"), 77) << "binding an output changes nothing";

    output.set_value_ex<uint8_t>(9);
    EXPECT_EQ(output.get_value_to_set_ex<uint8_t>(), 9);
    EXPECT_EQ(output.get_value_ex<uint8_t>(), 77);
    ASSERT_GE(manager->refresh_data_ex(nullptr), 0);
    EXPECT_EQ(output_byte("t_u8"), 77) << "nothing reaches the manager before refresh_ex";
    output.refresh_ex();
    EXPECT_EQ(output.get_value_ex<uint8_t>(), 77) << "the read comes before the write";
    cycle(*manager, output);
    EXPECT_EQ(output_byte("t_u8"), 9);
    EXPECT_EQ(output.get_value_ex<uint8_t>(), 9);

    auto other = attach("other");
    Framework_Output_Read_Only watched("t_u8");
    watched.setup_ex(other.get());
    EXPECT_EQ(watched.get_value_ex<uint8_t>(), 9);

    output.set_value_ex<uint8_t>(12);
    output.set_current_value_as_default_ex();
    EXPECT_EQ(view->output_record("t_u8")->default_value[0], 12);
    cycle(*manager, output);
    EXPECT_EQ(output_byte("t_u8"), 12);
}
