#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "robust_mutex.h"
#include "running_rtframe.h"
#include "xelo_thread_mtx_wrapper.h"

namespace {
using std::chrono::seconds;

// The "default_value" attribute of the entry with that virtual name.
std::string default_attribute(const std::string& file_text, const std::string& name)
{
    const std::regex entry("name_virtual=\"" + name + "\"[^>]*default_value=\"([^\"]*)\"");
    std::smatch match;
    return std::regex_search(file_text, match, entry) ? match[1].str() : "<none>";
}

template <typename T>
T default_of(const Thin_Client& client, const std::string& name)
{
    T value;
    std::memcpy(&value, client.output_record(name).default_value, sizeof(T));
    return value;
}

std::vector<uint8_t> default_bytes(const Thin_Client& client, const std::string& name, std::size_t size)
{
    const uint8_t* bytes = client.output_record(name).default_value;
    return std::vector<uint8_t>(bytes, bytes + size);
}

class Rtframe_Save : public Running_Rtframe {
protected:
    void SetUp() override
    {
        install_descriptor("split_virtuals.xml", DIR);
        start("split_main.xml");
        secondary = std::string(DIR) + "/split_virtuals.xml";
    }

    void restart()
    {
        ASSERT_EQ(rtframe->stop(), 0);
        rtframe = std::make_unique<Rtframe_Child>(std::vector<std::string>{"-o", "-s", "-c", descriptor},
                                                  "/tmp/rtframe_second.log");
        ASSERT_TRUE(rtframe->wait_until_ready()) << rtframe->log();
    }

    std::string secondary;
};

TEST_F(Rtframe_Save, ChangedDefaultsAreWrittenIntoTheirOwnFileAndLoadedAgain)
{
    const std::string main_before = read_file(descriptor);
    const std::string secondary_before = read_file(secondary);
    {
        Thin_Client client;
        client.take_slot("saver");
        const double speed = 0.1;
        const float ratio = 0.1f;
        const uint8_t label[8] = {'x', 'y', 'z'};
        const uint8_t code[4] = {0x0A, 0x00, 0xBB, 0x0C};  // a zero inside: written whole
        client.set_output_default("speed", &speed, sizeof(speed));
        client.set_output_default("ratio", &ratio, sizeof(ratio));
        client.set_output_default("label", label, sizeof(label));
        client.set_output_default("code", code, sizeof(code));
        // A slave input leads the outputs in master-offline mode: never saved.
        ASSERT_TRUE(client.save_defaults({"speed", "ratio", "label", "code", "drive_status"}, seconds(10)))
            << rtframe->log();
    }
    EXPECT_EQ(read_file(descriptor), main_before) << "nothing of the main file changed";
    const std::string secondary_after = read_file(secondary);
    EXPECT_EQ(default_attribute(secondary_after, "speed"), "0.1");
    EXPECT_EQ(default_attribute(secondary_after, "ratio"), "0.1");
    EXPECT_EQ(default_attribute(secondary_after, "label"), "xyz");
    EXPECT_EQ(default_attribute(secondary_after, "code"), "0x0a00bb0c");
    EXPECT_EQ(default_attribute(secondary_after, "recipe"), default_attribute(secondary_before, "recipe"));
    const std::string log = rtframe->log();
    EXPECT_EQ(count_of(log, "file :: " + secondary + " SAVED"), 1) << log;
    EXPECT_EQ(count_of(log, "SAVED"), 1);
    EXPECT_EQ(count_of(log, "INF] [FrameworkThreadSave] going to save xml file/s ..."), 1);

    restart();
    Thin_Client client;
    EXPECT_EQ(default_of<double>(client, "speed"), 0.1);
    EXPECT_EQ(default_of<float>(client, "ratio"), 0.1f);
    EXPECT_EQ(default_bytes(client, "label", 8), (std::vector<uint8_t>{'x', 'y', 'z', 0, 0, 0, 0, 0}));
    EXPECT_EQ(default_bytes(client, "code", 4), (std::vector<uint8_t>{0x0A, 0x00, 0xBB, 0x0C}));
    EXPECT_EQ(client.get_output<double>("speed"), 0.1) << "the loaded default is the output's start value";
}

// The save takes the defaults over under the output-table mutex, so it never
// copies a default that a client is changing.
TEST_F(Rtframe_Save, TheSaveWaitsForTheOutputTableMutex)
{
    Thin_Client client;
    client.take_slot("saver");
    const uint32_t recipe = 8;
    client.set_output_default("recipe", &recipe, sizeof(recipe));
    {
        Robust_Mutex table_mutex(client.output_table_mutex(), "outputs", "test");
        std::lock_guard<Robust_Mutex> table(table_mutex);
        EXPECT_FALSE(client.save_defaults({"recipe"}, std::chrono::milliseconds(300)));
        EXPECT_EQ(client.output_record("recipe").has_to_save, 1) << "not taken while the table is locked";
    }
    const auto end = std::chrono::steady_clock::now() + seconds(10);
    while (client.info().has_to_save != 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(client.info().has_to_save, 0u);
    EXPECT_EQ(default_attribute(read_file(secondary), "recipe"), "8");
}

TEST_F(Rtframe_Save, AMainFileOutputIsSavedInTheMainFileOnly)
{
    const std::string secondary_before = read_file(secondary);
    Thin_Client client;
    client.take_slot("saver");
    const uint8_t lamp_on = 0;
    const uint16_t control = 1000;
    client.set_output_default("lamp_red", &lamp_on, 1);
    client.set_output_default("drive_control", &control, sizeof(control));
    ASSERT_TRUE(client.save_defaults({"lamp_red", "drive_control"}, seconds(10))) << rtframe->log();
    const std::string main_after = read_file(descriptor);
    EXPECT_EQ(default_attribute(main_after, "lamp_red"), "0");
    EXPECT_EQ(default_attribute(main_after, "drive_control"), "1000");
    EXPECT_EQ(read_file(secondary), secondary_before);
    EXPECT_EQ(count_of(rtframe->log(), "file :: " + descriptor + " SAVED"), 1) << rtframe->log();
}
}  // namespace
