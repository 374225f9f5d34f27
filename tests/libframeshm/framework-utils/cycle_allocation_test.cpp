// The per-cycle work of the data objects allocates nothing: refreshes,
// scalar reads and writes, change tests.

#include "allocation_hooks.h"
#include "framework_group.h"
#include "objects_fixture.h"

using Framework_Cycle = Objects_Test;

TEST_F(Framework_Cycle, RefreshesAndScalarAccessesAllocateNothing)
{
    Framework_Input input("t_u16");
    Framework_Output output("t_i32");
    Framework_Output bytes("t_bytes");
    Framework_Output_Read_Only watched("t_double");
    Framework_Input_Group axis("ax1_");
    Framework_Output_Group group("grp3_");
    input.setup_ex(manager.get());
    output.setup_ex(manager.get());
    bytes.setup_ex(manager.get());
    watched.setup_ex(manager.get());
    axis.setup_ex(manager.get());
    group.setup_ex(manager.get());
    ASSERT_TRUE(group.try_acquire_control_ex());
    Framework_Output& target = *group.get_group_output_ptr("target");

    int changes = 0;
    for (int period = 0; period < 5; ++period) {
        ASSERT_GE(manager->refresh_data_ex(nullptr), 0);
        Allocation_Count allocations;
        input.refresh_ex();
        output.refresh_ex();
        bytes.refresh_ex();
        watched.refresh_ex();
        axis.refresh_ex();
        group.refresh_ex();
        output.set_value_ex<int32_t>(output.get_value_to_set_ex<int32_t>() + input.get_value_ex<uint16_t>() + 1);
        target.set_value_ex<int32_t>(period);
        changes += output.is_changed() + watched.is_changed() + (watched.get_previous_value_ex<double>() != 0.0);
        EXPECT_EQ(allocations.count(), 0) << "period " << period;
    }
    EXPECT_GT(changes, 0);
}
