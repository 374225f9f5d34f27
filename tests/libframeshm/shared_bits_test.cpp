#include <gtest/gtest.h>

#include "fake_framework.h"
#include "test_helpers.h"
#include "xelo_framework_shm_manager.h"

// Bit outputs of several applications may share one byte. rtframe gives
// every variable of its virtual area a byte of its own, so the shared byte
// needs a fake server.
class Shared_Bits : public testing::Test {
protected:
    Shared_Bits() : framework(layout())
    {
        framework.output_image()[0] = 0x81;  // bits no application writes
        first.init_with_h_compatibility_check_ex("first", 4, 1);
        second.init_with_h_compatibility_check_ex("second", 4, 1);
    }

    static Fake_Framework::Layout layout()
    {
        Fake_Framework::Layout l;
        l.outputs = {{"bit_3", BIT_FSM, 0, 1, 3, false},
                     {"bit_4", BIT_FSM, 0, 1, 4, false},
                     {"bit_5_negated", BIT_FSM, 0, 1, 5, true},
                     {"bit_9", BIT_FSM, 1, 1, 9, false}};
        return l;
    }

    void refresh_both()
    {
        framework.post(first.get_application_number());
        framework.post(second.get_application_number());
        ASSERT_EQ(first.refresh_data_ex(nullptr), 0);
        ASSERT_EQ(second.refresh_data_ex(nullptr), 0);
    }

    Fake_Framework framework;
    Framework_Shared_Memory_Manager first;
    Framework_Shared_Memory_Manager second;
};

TEST_F(Shared_Bits, EachRefreshChangesOnlyItsOwnBits)
{
    const int bit_3 = first.get_output_rw_id_ex("bit_3", false);
    const int bit_4 = second.get_output_rw_id_ex("bit_4", false);
    const int bit_5 = second.get_output_rw_id_ex("bit_5_negated", false);

    first.set_output_ex<bool>(bit_3, true);
    second.set_output_ex<bool>(bit_4, true);
    refresh_both();
    EXPECT_EQ(framework.output_image()[0], 0x81 | 0x08 | 0x10);

    first.set_output_ex<bool>(bit_3, false);
    second.set_output_ex<bool>(bit_5, false);  // negated: sets the bit
    refresh_both();
    EXPECT_EQ(framework.output_image()[0], 0x81 | 0x10 | 0x20);
    EXPECT_FALSE(first.get_output_ex<bool>(bit_3, true));
    EXPECT_TRUE(first.get_output_ex<bool>(bit_4, false));  // the other writer's bit
    EXPECT_FALSE(second.get_output_ex<bool>(bit_5, true));
}

TEST_F(Shared_Bits, ABitNumberAboveSevenWritesNothing)
{
    const int bit_9 = first.get_output_rw_id_ex("bit_9", false);
    framework.output_image()[1] = 0x5A;
    first.set_output_ex<bool>(bit_9, true);
    refresh_both();
    EXPECT_EQ(framework.output_image()[1], 0x5A);
    EXPECT_FALSE(first.get_output_ex<bool>(bit_9, true));
}
