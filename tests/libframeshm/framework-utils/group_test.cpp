// Input and output groups against a running server.

#include <algorithm>
#include <functional>

#include "framework_group.h"
#include "objects_fixture.h"

namespace {
std::vector<std::string> labels_of(const std::vector<Framework_Input*>& members)
{
    std::vector<std::string> labels;
    for (const Framework_Input* member : members)
        labels.push_back(member->label);
    return labels;
}

std::vector<std::string> labels_of(const std::vector<Framework_Output*>& members)
{
    std::vector<std::string> labels;
    for (const Framework_Output* member : members)
        labels.push_back(member->label);
    return labels;
}

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const std::vector<std::string> GROUP_3 = {"grp3_ctrl", "grp3_target", "grp3_blob"};
}  // namespace

class Framework_Groups : public Objects_Test {
protected:
    std::vector<int> owners(const std::vector<std::string>& labels)
    {
        std::vector<int> result;
        for (const std::string& label : labels)
            result.push_back(owner(label));
        return result;
    }
};

TEST_F(Framework_Groups, InputGroupGathersTheLabelsThatBeginWithItsPrefix)
{
    Framework_Input_Group group("ax1_");
    testing::internal::CaptureStdout();
    group.setup_ex(manager.get());
    const std::vector<std::string> log = log_texts(testing::internal::GetCapturedStdout());

    EXPECT_EQ(group.group_size, 3);
    EXPECT_EQ(labels_of(group.get_group_inputs_ptr_list()),
              (std::vector<std::string>{"ax1_status", "ax1_position", "ax1_error"}));
    EXPECT_EQ(group.get_group_input_ptr("position")->label, "ax1_position");
    EXPECT_TRUE(contains(log, "[Framework_Input_Group][setup_ex] \tGroup prefix :: ax1_"));
    EXPECT_TRUE(contains(log, "[Framework_Input_Group][setup_ex] \tGroup Size :: 3"));
    EXPECT_TRUE(contains(log, "[Framework_Input][setup_ex] \t\t\t\tlabel      :: ax1_error"));

    // the full label must be prefix + short name
    for (const char* short_name : {"t_u8", "ax1_status"})
        EXPECT_EQ(thrown_text([&] { group.get_group_input_ptr(short_name); }),
                  std::string("[Framework_Input_Group][get_group_input_ptr] ax1_") + short_name +
                      " does not belong to group with prefix :: ax1_");

    Framework_Output position("ax1_position");
    position.setup_ex(manager.get());
    position.set_value_ex<int32_t>(-1234);
    Framework_Input& member = *group.get_group_input_ptr("position");
    cycle_until([&] { return member.get_value_ex<int32_t>() == -1234; }, *manager, position, group);

    Framework_Input_Group nothing("zz_");
    EXPECT_EQ(thrown_text([&] { nothing.setup_ex(manager.get()); }),
              "[Framework_Input_Group][setup_ex] no input found with prefix 'zz_'");
    EXPECT_EQ(thrown_text([&] { nothing.refresh_ex(); }),
              "[Framework_Input_Group][refresh_ex] Input_Group not initalized! group prefix :: zz_");
}

TEST_F(Framework_Groups, OutputGroupIsTakenAndReleasedWhole)
{
    Framework_Output_Group group("grp3_");
    testing::internal::CaptureStdout();
    group.setup_ex(manager.get());
    const std::vector<std::string> log = log_texts(testing::internal::GetCapturedStdout());
    EXPECT_TRUE(contains(log, "[Framework_Output_Group][setup_ex] \tGroup id \t:: -1"));
    EXPECT_TRUE(contains(log, "[Framework_Output_Group][setup_ex] \tComputed group id :: 3"));
    EXPECT_TRUE(contains(log, "[Framework_Output_Group][setup_ex] \tGroup Size        :: 3"));
    EXPECT_TRUE(contains(log, "[Framework_Output][setup_ex] \t\t\t\tacquired   :: 0"));
    EXPECT_EQ(group.group_id, 3);
    EXPECT_EQ(labels_of(group.get_group_outputs_ptr_list()), GROUP_3);

    Framework_Output& ctrl = *group.get_group_output_ptr("ctrl");
    Framework_Output& target = *group.get_group_output_ptr("target");
    Framework_Output& blob = *group.get_group_output_ptr("blob");
    const std::string not_acquired =
        "[Framework_Output][set_value_ex] not acquired! (label :: grp3_ctrl, id :: " + std::to_string(ctrl.id) + ")";
    EXPECT_FALSE(group.is_acquired);
    EXPECT_EQ(owners(GROUP_3), (std::vector<int>{-1, -1, -1}));
    EXPECT_EQ(thrown_text([&] { ctrl.set_value_ex<uint16_t>(1); }), not_acquired);

    ASSERT_TRUE(group.try_acquire_control_ex());
    EXPECT_TRUE(group.is_acquired);
    EXPECT_EQ(owners(GROUP_3), (std::vector<int>{100, 100, 100}));
    ctrl.set_value_ex<uint16_t>(0x1234);
    target.set_value_ex<int32_t>(-5);
    blob.set_value_ex<std::string>("wxyz");
    cycle(*manager, group);
    cycle(*manager, group);
    EXPECT_EQ(ctrl.get_value_ex<uint16_t>(), 0x1234);
    EXPECT_EQ(target.get_value_ex<int32_t>(), -5);
    EXPECT_EQ(output_byte("grp3_blob", 3), 'z');

    group.release_control_ex();
    EXPECT_FALSE(group.is_acquired);
    EXPECT_EQ(owners(GROUP_3), (std::vector<int>{-1, -1, -1}));
    EXPECT_EQ(thrown_text([&] { ctrl.set_value_ex<uint16_t>(2); }), not_acquired);
    EXPECT_EQ(thrown_text([&] { blob.set_current_value_as_default_ex(); }),
              "[Framework_Output][set_current_value_as_default_ex] not acquired! (label :: grp3_blob, id :: " +
                  std::to_string(blob.id) + ")");

    // another application holds one output of the group: nothing is taken
    auto other = attach("other");
    Framework_Output held("grp3_target");
    held.setup_ex(other.get());
    EXPECT_FALSE(group.try_acquire_control_ex());
    EXPECT_FALSE(group.is_acquired);
    EXPECT_EQ(owners(GROUP_3), (std::vector<int>{-1, 101, -1}));
    EXPECT_EQ(thrown_text([&] { ctrl.set_value_ex<uint16_t>(3); }), not_acquired);
}

TEST_F(Framework_Groups, ReleasedByteArrayMembersKeepRefreshing)
{
    Framework_Output_Group mine("grp3_");
    mine.setup_ex(manager.get());
    ASSERT_TRUE(mine.try_acquire_control_ex());
    mine.get_group_output_ptr("blob")->set_value_ex<std::string>("abcd");
    cycle(*manager, mine);
    mine.release_control_ex();

    auto other = attach("other");
    Framework_Output_Group theirs("grp3_");
    theirs.setup_ex(other.get());
    ASSERT_TRUE(theirs.try_acquire_control_ex());
    theirs.get_group_output_ptr("blob")->set_value_ex<std::string>("efgh");
    theirs.get_group_output_ptr("ctrl")->set_value_ex<uint16_t>(7);

    // both applications run their periods; the released members only read
    const Framework_Output& blob = *mine.get_group_output_ptr("blob");
    const Framework_Output& ctrl = *mine.get_group_output_ptr("ctrl");
    for (int period = 0; period < 200 && blob.get_value_ex<std::string>() != "efgh"; ++period) {
        cycle(*other, theirs);
        cycle(*manager, mine);
        ASSERT_FALSE(HasFatalFailure());
    }
    EXPECT_EQ(blob.get_value_ex<std::string>(), "efgh");
    EXPECT_EQ(ctrl.get_value_ex<uint16_t>(), 7);
    EXPECT_FALSE(mine.is_acquired);
}

TEST_F(Framework_Groups, PrefixMustNameOutputsOfOneGroup)
{
    const std::string method = "[Framework_Output_Group][setup_ex] ";
    const struct {
        std::function<std::unique_ptr<Framework_Output_Group>()> make;
        std::string refusal;
    } cases[] = {
        {[] { return std::make_unique<Framework_Output_Group>("mix_"); },
         method + "mix_b invalid group :: 9! Current Framework_Output_Group id :: 8"},
        {[] { return std::make_unique<Framework_Output_Group>("nog_"); },
         method + "nog_b invalid group :: -1! Current Framework_Output_Group id :: 8"},
        {[] { return std::make_unique<Framework_Output_Group>("zz_"); }, method + "no output found with prefix 'zz_'"},
        {[] { return std::make_unique<Framework_Output_Group>(42); }, method + "no output found with prefix ''"},
    };
    for (const auto& c : cases) {
        const auto group = c.make();
        EXPECT_EQ(thrown_text([&] { group->setup_ex(manager.get()); }), c.refusal);
        EXPECT_NE(thrown_text([&] { group->try_acquire_control_ex(); }).find("Output_Group not initalized!"),
                  std::string::npos);
    }
}

TEST_F(Framework_Groups, OutputGroupByIdTakesItsOutputsWhateverTheirLabels)
{
    Framework_Output_Group group(5);
    group.setup_ex(manager.get());
    EXPECT_EQ(labels_of(group.get_group_outputs_ptr_list()), (std::vector<std::string>{"five_a", "other_five"}));
    EXPECT_EQ(group.get_group_output_ptr("other_five")->label, "other_five");
    EXPECT_EQ(thrown_text([&] { group.get_group_output_ptr("grp3_ctrl"); }),
              "[Framework_Output_Group][get_group_output_ptr] grp3_ctrl does not belong to group id :: 5,  "
              "prefix :: ''");
    ASSERT_TRUE(group.try_acquire_control_ex());
    EXPECT_EQ(owners({"five_a", "other_five", "grp3_ctrl"}), (std::vector<int>{100, 100, -1}));
}

TEST_F(Framework_Groups, GroupGivesControlBackWhenDestroyed)
{
    {
        Framework_Output_Group group("grp3_");
        group.setup_ex(manager.get());
        ASSERT_TRUE(group.try_acquire_control_ex());
        EXPECT_EQ(owners(GROUP_3), (std::vector<int>{100, 100, 100}));
    }
    EXPECT_EQ(owners(GROUP_3), (std::vector<int>{-1, -1, -1}));
}

TEST_F(Framework_Groups, BuildingAGroupOpensNoOtherOutput)
{
    Framework_Output_Group group("grp3_");
    group.setup_ex(manager.get());
    int t_u8_id = -1;
    for (int id = Framework_Shared_Memory_Manager::OUTPUT_ID_OFFSET; t_u8_id == -1; ++id)
        if (manager->get_output_label_ex(id, false) == "t_u8")
            t_u8_id = id;
    EXPECT_NE(thrown_text([&] {
                  manager->set_output_ex<unsigned char>(t_u8_id, 1);
              }).find("[Framework_Shared_Memory_Manager][set_output_ex] Sorry, output_id not taken!"),
              std::string::npos);
}
