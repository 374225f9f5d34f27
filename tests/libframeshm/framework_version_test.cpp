#include <gtest/gtest.h>

#include "fake_framework.h"
#include "test_helpers.h"
#include "xelo_framework_shm_manager.h"

// rtframe always publishes version 4.0; other versions need a fake server.
TEST(Framework_Version, OnlyMajorFourAttachesAndARefusalLeavesNothingBehind)
{
    const std::string refused =
        "[Framework_Shared_Memory_Manager][check_framework_version_ex] Framework shm "
        "manager NOT COMPATIBLE with running framework!!!!!!";
    struct Case {
        uint32_t major;
        uint32_t minor;
        bool attaches;
    };
    for (const Case c : {Case{4, 0, true}, Case{4, 9, true}, Case{3, 0, false}, Case{5, 0, false}}) {
        Fake_Framework::Layout layout;
        layout.version_major = c.major;
        layout.version_minor = c.minor;
        Fake_Framework framework(layout);
        const int mappings = framework_mapping_count();
        const int descriptors = open_descriptor_count();
        {
            Framework_Shared_Memory_Manager manager;
            const std::string text = thrown_text([&] { manager.init_with_h_compatibility_check_ex("app", 4, 1); });
            if (c.attaches) {
                EXPECT_EQ(text, "<nothing thrown>") << c.major << "." << c.minor;
                EXPECT_EQ(manager.get_application_number(), 0);
            } else {
                EXPECT_EQ(text, refused) << c.major;
                EXPECT_EQ(framework_mapping_count(), mappings) << c.major;
                EXPECT_EQ(open_descriptor_count(), descriptors) << c.major;
                EXPECT_FALSE(manager.is_init_done());
            }
        }
        EXPECT_EQ(framework_mapping_count(), mappings);
        EXPECT_EQ(open_descriptor_count(), descriptors);
    }
}
