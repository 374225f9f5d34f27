#include "rtframe_test.h"
#include "test_helpers.h"

namespace {
const std::string METHOD = "[Framework_Shared_Memory_Manager][get_output_rw_id_ex] ";
const std::string NOT_TAKEN = "[Framework_Shared_Memory_Manager][set_output_ex] Sorry, output_id not taken!";

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}
}  // namespace

class Outputs : public Rtframe_Test {
protected:
    void SetUp() override
    {
        Rtframe_Test::SetUp();
        first = attach("first");    // application 100
        second = attach("second");  // application 101
    }
    void TearDown() override
    {
        first.reset();
        second.reset();
        Rtframe_Test::TearDown();
    }
    int owner(const char* label) { return view->output_record(label)->application_number_take_rw; }
    bool owned(const char* label) { return view->output_record(label)->is_already_rw != 0; }

    std::unique_ptr<Framework_Shared_Memory_Manager> first;
    std::unique_ptr<Framework_Shared_Memory_Manager> second;
};

TEST_F(Outputs, AnOutputHasOneWriter)
{
    const int solo = first->get_output_rw_id_ex("solo", false);
    EXPECT_EQ(owner("solo"), 100);
    EXPECT_EQ(thrown_text([&] { second->get_output_rw_id_ex("solo", false); }),
              METHOD + "output name is already assigned as rw :: solo");
    EXPECT_EQ(owner("solo"), 100);

    testing::internal::CaptureStdout();
    EXPECT_EQ(first->get_output_rw_id_ex("solo", false), solo);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find(METHOD + "Output 'solo' already taken by application 100"), std::string::npos) << log;

    EXPECT_EQ(thrown_text([&] { second->get_output_rw_id_ex("solo", true); }),
              METHOD + "output name is not shareable :: solo");
    EXPECT_EQ(thrown_text([&] { second->get_output_rw_id_ex("nope", false); }),
              METHOD + "output name is not valid :: nope");

    // read access is enough to write: ownership is not checked on writes
    const int read_only = second->get_output_ro_id_ex("solo");
    second->set_output_ex<unsigned char>(read_only, 42);
    ASSERT_GE(second->refresh_data_ex(nullptr), 0);
    EXPECT_EQ(view->output_image()[view->output_record("solo")->byte_offs], 42);
    EXPECT_EQ(owner("solo"), 100);
}

TEST_F(Outputs, GroupsChangeHandsAsAWhole)
{
    const int b_of_second = second->get_output_rw_id_ex("g7_b", false);
    std::vector<int> shared;
    for (const char* label : {"g7_a", "g7_b", "g7_c"})
        shared.push_back(first->get_output_rw_id_ex(label, true));  // an id, no ownership
    EXPECT_FALSE(owned("g7_a"));
    EXPECT_EQ(owner("g7_b"), 101);
    EXPECT_TRUE(starts_with(thrown_text([&] { first->set_output_ex<unsigned char>(shared[0], 1); }), NOT_TAKEN));

    EXPECT_EQ(first->try_acquire_output_group_ex(7), 0);
    EXPECT_FALSE(owned("g7_a"));
    EXPECT_FALSE(owned("g7_c"));
    EXPECT_EQ(owner("g7_b"), 101);

    first->release_output_group_control_ex(7);  // owns nothing: changes nothing
    EXPECT_EQ(owner("g7_b"), 101);
    second->release_output_group_control_ex(7);
    EXPECT_FALSE(owned("g7_b"));
    EXPECT_TRUE(starts_with(thrown_text([&] { second->set_output_ex<unsigned char>(b_of_second, 1); }), NOT_TAKEN));

    EXPECT_EQ(first->try_acquire_output_group_ex(7), 1);
    for (const char* label : {"g7_a", "g7_b", "g7_c"})
        EXPECT_EQ(owner(label), 100) << label;
    EXPECT_EQ(second->try_acquire_output_group_ex(7), 0);
    for (std::size_t i = 0; i < shared.size(); ++i)
        first->set_output_ex<unsigned char>(shared[i], static_cast<unsigned char>(10 + i));
    ASSERT_GE(first->refresh_data_ex(nullptr), 0);
    EXPECT_EQ(view->output_image()[view->output_record("g7_c")->byte_offs], 12);

    first->release_output_group_control_ex(7);
    for (const char* label : {"g7_a", "g7_b", "g7_c"})
        EXPECT_EQ(owner(label), -1) << label;
    EXPECT_TRUE(starts_with(thrown_text([&] { first->set_output_ex<unsigned char>(shared[2], 1); }), NOT_TAKEN));

    EXPECT_EQ(first->try_acquire_output_group_ex(99), 1);  // a group nobody carries
    EXPECT_EQ(thrown_text([&] { (void)first->try_acquire_output_group_ex(-1); }),
              "[Framework_Shared_Memory_Manager][try_acquire_output_group_ex] cannot acquire group id -1");
    EXPECT_EQ(thrown_text([&] { first->release_output_group_control_ex(-1); }),
              "[Framework_Shared_Memory_Manager][Framework_Shared_Memory_Manager] cannot release group id -1");
}
