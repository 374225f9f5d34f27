#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "rtframe_test.h"
#include "test_helpers.h"

using namespace std::chrono_literals;

namespace {
const std::string NO_FREE_SLOT = "Failed to acquire_cyclic_sem, check application number in .xml cfg file";
}

using Attach = Rtframe_Test;

TEST_F(Attach, PublishesItsNameAndDetachUnmapsButKeepsTheSlot)
{
    const int mappings = framework_mapping_count();
    const int descriptors = open_descriptor_count();
    auto first = attach("cell_app");
    // info, cyclic (mutex, images, slots), both tables with their mutexes,
    // the async mutex and four arrays, the group table and three per group
    EXPECT_EQ(framework_mapping_count() - mappings, 1 + 4 + 4 + 5 + 1 + 2 * 3);
    EXPECT_EQ(first->get_application_number(), 0);
    EXPECT_TRUE(first->is_init_done());
    EXPECT_EQ(view->app_name(0), "cell_app");
    EXPECT_EQ(view->slot(0).is_assigned, 1);

    const std::string fifty(50, 'n');
    auto second = attach(fifty);
    EXPECT_EQ(second->get_application_number(), 1);
    EXPECT_EQ(view->app_name(1), fifty);  // the whole row, no terminator
    EXPECT_EQ(thrown_text([&] { second->init_with_h_compatibility_check_ex("again", 4, 1); }),
              "[Framework_Shared_Memory_Manager][init_with_h_compatibility_check_ex] already attached, detach first");
    EXPECT_EQ(second->get_application_number(), 1);

    second.reset();
    first->unlink();
    EXPECT_EQ(first->get_application_number(), -1);
    EXPECT_EQ(view->app_name(0), "");
    EXPECT_EQ(view->slot(0).is_assigned, 1);  // only the watchdog frees a slot
    EXPECT_EQ(framework_mapping_count(), mappings);
    EXPECT_EQ(open_descriptor_count(), descriptors);
    first.reset();  // detaching again touches nothing
    EXPECT_EQ(open_descriptor_count(), descriptors);
}

TEST_F(Attach, HeaderVersionMustBeFourWithMinorUpToOne)
{
    const std::string refused =
        "[Framework_Shared_Memory_Manager][check_h_compatibility_version_ex] "
        "xelo_framework_shm_manager not compatible with this library version!";
    struct Case {
        int major;
        int minor;
        bool attaches;
    };
    std::vector<std::unique_ptr<Framework_Shared_Memory_Manager>> attached;
    for (const Case c : {Case{4, 1, true}, Case{3, 1, false}, Case{4, 2, false}, Case{4, 0, true}, Case{5, 0, false},
                         Case{4, -1, true}}) {
        auto manager = std::make_unique<Framework_Shared_Memory_Manager>();
        const std::string text =
            thrown_text([&] { manager->init_with_h_compatibility_check_ex("app", c.major, c.minor); });
        EXPECT_EQ(text, c.attaches ? "<nothing thrown>" : refused) << c.major << "." << c.minor;
        if (c.attaches)
            attached.push_back(std::move(manager));
    }
    ASSERT_EQ(attached.size(), 3u);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(attached[n]->get_application_number(), n);  // refusals took no slot
}

TEST_F(Attach, WaitsForReadyToStartUnlessBypassed)
{
    view->info().ready_to_start = 0;
    std::atomic<bool> attached{false};
    std::thread waiting([&] {
        auto manager = attach("waiting");
        attached = true;
    });
    std::this_thread::sleep_for(1500ms);  // the wait polls once a second
    EXPECT_FALSE(attached);
    view->info().ready_to_start = 1;
    waiting.join();
    EXPECT_TRUE(attached);

    view->info().ready_to_start = 0;
    Framework_Shared_Memory_Manager bypassing;
    bypassing.bypass_ready_to_start_flag();
    const auto start = std::chrono::steady_clock::now();
    bypassing.init_with_h_compatibility_check_ex("bypass", 4, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
    view->info().ready_to_start = 1;
}

TEST_F(Attach, ProcessesAttachingAtOnceGetDifferentSlots)
{
    int go[2];
    int numbers[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(numbers), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < 3; ++i) {
        const pid_t pid = fork();
        ASSERT_NE(pid, -1);
        if (pid == 0) {
            char byte;
            int number = -1;
            if (read(go[0], &byte, 1) == 1) {
                try {
                    number = attach("child")->get_application_number();
                } catch (const std::exception&) {
                }
            }
            const bool sent = write(numbers[1], &number, sizeof(number)) == sizeof(number);
            _exit(sent && number >= 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    ASSERT_EQ(write(go[1], "xxx", 3), 3);
    std::set<int> taken;
    for (int i = 0; i < 3; ++i) {
        int number = -1;
        ASSERT_EQ(read(numbers[0], &number, sizeof(number)), static_cast<ssize_t>(sizeof(number)));
        taken.insert(number);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(taken, (std::set<int>{0, 1, 2}));
    for (int fd : {go[0], go[1], numbers[0], numbers[1]})
        close(fd);
}

class Attach_Two_Slots : public Rtframe_Test {
protected:
    Test_Descriptor descriptor() const override
    {
        Test_Descriptor d;
        d.slots = 2;
        return d;
    }
};

TEST_F(Attach_Two_Slots, AFailedAttachGivesItsSlotBackAndSlotsRunOut)
{
    Framework_Shared_Memory_Manager too_long;
    EXPECT_EQ(thrown_text([&] { too_long.init_with_h_compatibility_check_ex(std::string(51, 'x'), 4, 1); }),
              "[Framework_Shared_Memory_Manager][set_application_name_ex] application name length is greater than "
              "maximum size, which is  50");
    EXPECT_EQ(view->slot(0).is_assigned, 0);
    EXPECT_EQ(view->app_name(0), "");

    auto first = attach("first");
    auto second = attach("second");
    EXPECT_EQ(first->get_application_number(), 0);
    EXPECT_EQ(second->get_application_number(), 1);
    Framework_Shared_Memory_Manager third;
    EXPECT_EQ(thrown_text([&] { third.init_with_h_compatibility_check_ex("third", 4, 1); }), NO_FREE_SLOT);
    EXPECT_EQ(third.get_application_number(), -1);
}
