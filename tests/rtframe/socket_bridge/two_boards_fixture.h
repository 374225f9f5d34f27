#pragma once
// Two boards, each running rtframe in its own namespaces, joined by a veth
// pair (tests/isolate_pair): the master board in the test process, the
// slave board on the peer. They run the example pair of examples/bridge/.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bridge_files.h"
#include "child_process.h"
#include "eventually.h"
#include "framework_shared_memory.h"
#include "peer_board.h"
#include "rtframe_child.h"
#include "xelo_framework_shm_manager.h"

using namespace std::chrono_literals;

inline constexpr uint32_t HEARTBEAT = 4242;
inline const std::string RUNNING_1 =
    "[Framework_Socket_Bridge][set_bridge_running_framweork_output] setting bridge running value :: 1";
inline const std::string RUNNING_0 =
    "[Framework_Socket_Bridge][set_bridge_running_framweork_output] setting bridge running value :: 0";

// One value of every type, none of them a default of the example.
struct Values {
    bool bit = true;
    signed char int8 = -100;
    unsigned char uint8 = 200;
    short int16 = -30000;
    unsigned short uint16 = 60000;
    int int32 = -2000000000;
    unsigned uint32 = 4000000000u;
    double real = 3.25;
    std::string bytes = "bridged!";
    long long int64 = -9000000000000000LL;
    unsigned long long uint64 = 18000000000000000000ULL;
    float single = 2.5f;
};

inline void write_all(Framework_Shared_Memory_Manager& m, const std::string& prefix, const Values& v)
{
    auto id = [&](const char* name) { return m.get_output_rw_id_ex(prefix + name, false); };
    m.set_output_ex<bool>(id("bit"), v.bit);
    m.set_output_ex<signed char>(id("int8"), v.int8);
    m.set_output_ex<unsigned char>(id("uint8"), v.uint8);
    m.set_output_ex<short>(id("int16"), v.int16);
    m.set_output_ex<unsigned short>(id("uint16"), v.uint16);
    m.set_output_ex<int>(id("int32"), v.int32);
    m.set_output_ex<unsigned>(id("uint32"), v.uint32);
    m.set_output_ex<double>(id("double"), v.real);
    m.set_output_byte_array_ex(id("bytes"), reinterpret_cast<const uint8_t*>(v.bytes.data()), 8, 0);
    m.set_output_ex<long long>(id("int64"), v.int64);
    m.set_output_ex<unsigned long long>(id("uint64"), v.uint64);
    m.set_output_ex<float>(id("float"), v.single);
}

// The names of the inputs that do not hold their value yet.
inline std::string differing(Framework_Shared_Memory_Manager& m, const std::string& prefix, const Values& v)
{
    std::string names;
    auto in = [&](const char* name) { return m.get_input_id_ex(prefix + name); };
    auto check = [&](bool same, const char* name) {
        if (!same)
            names += std::string(name) + " ";
    };
    check(m.get_input_ex<bool>(in("bit"), false) == v.bit, "bit");
    check(m.get_input_ex<signed char>(in("int8"), false) == v.int8, "int8");
    check(m.get_input_ex<unsigned char>(in("uint8"), false) == v.uint8, "uint8");
    check(m.get_input_ex<short>(in("int16"), false) == v.int16, "int16");
    check(m.get_input_ex<unsigned short>(in("uint16"), false) == v.uint16, "uint16");
    check(m.get_input_ex<int>(in("int32"), false) == v.int32, "int32");
    check(m.get_input_ex<unsigned>(in("uint32"), false) == v.uint32, "uint32");
    check(m.get_input_ex<double>(in("double"), false) == v.real, "double");
    uint8_t bytes[8] = {};
    m.get_input_byte_array_ex(in("bytes"), bytes, 8, 0);
    check(std::memcmp(bytes, v.bytes.data(), 8) == 0, "bytes");
    check(m.get_input_ex<long long>(in("int64"), false) == v.int64, "int64");
    check(m.get_input_ex<unsigned long long>(in("uint64"), false) == v.uint64, "uint64");
    check(m.get_input_ex<float>(in("float"), false) == v.single, "float");
    return names;
}

// "already assigned as rw" when a client asks write access to name.
inline bool held_by_bridge(Framework_Shared_Memory_Manager& m, const std::string& name)
{
    try {
        m.get_output_rw_id_ex(name, false);
    } catch (const std::runtime_error& error) {
        return std::strstr(error.what(), "already assigned as rw") != nullptr;
    }
    return false;
}

inline int entries(const std::string& folder)
{
    int count = 0;
    if (DIR* dir = opendir(folder.c_str())) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

inline bool info_segment_ready()
{
    return probe::segment("/linux_framework_info", sizeof(Shared_Info_Struct), [](const void* info) {
        return __atomic_load_n(&static_cast<const Shared_Info_Struct*>(info)->ready_to_start, __ATOMIC_ACQUIRE) == 1;
    })();
}

inline bool info_segment_exists()
{
    struct stat st {};
    return stat("/dev/shm/linux_framework_info", &st) == 0;
}

class Two_Boards_Test : public testing::Test {
protected:
    void SetUp() override
    {
        bridge = bridge_example("bridge_descriptor.xml");
        master_descriptor = install_application_descriptor("master", "/tmp/master_app.xml");
        slave_descriptor = install_application_descriptor("slave", "/tmp/slave_app.xml", {}, slave_changes);
    }

    void TearDown() override
    {
        if (slave) {
            EXPECT_EQ(slave->stop(10s), 0) << slave->log();
            EXPECT_EQ(peer.run([] { return info_segment_exists() ? 1 : 0; }, 10s), 0) << "slave segments left";
        }
        m_master_client.reset();
        if (master) {
            const auto stop_started = std::chrono::steady_clock::now();
            EXPECT_EQ(master->stop(10s), 0) << master->log();
            EXPECT_LT(std::chrono::steady_clock::now() - stop_started, 6s);
            EXPECT_FALSE(info_segment_exists()) << "master segments left";
        }
    }

    std::vector<std::string> with_delay(std::vector<std::string> arguments) const
    {
        return short_running_delay ? with_short_running_delay(std::move(arguments)) : arguments;
    }

    void start_master()
    {
        master = std::make_unique<Rtframe_Child>(with_delay({"-o", "-s", "-m", "-b", bridge, "-c", master_descriptor}),
                                                 "/tmp/master.log");
    }

    void start_slave()
    {
        slave = std::make_unique<Child_Process>(
            peer.launcher(),
            peer.launcher_arguments(rtframe_binary(), with_delay({"-o", "-s", "-b", bridge, "-c", slave_descriptor})),
            "/tmp/slave.log");
    }

    bool slave_ready(std::chrono::milliseconds timeout)
    {
        return eventually([&] { return peer.run([] { return info_segment_ready() ? 0 : 1; }, 5s) == 0; }, timeout,
                          200ms);
    }

    // A client on the slave board writes the "to_master_" values and ends
    // once it reads the "to_slave_" values and the heartbeat from the master.
    std::unique_ptr<Peer_Board::Task> start_slave_client(const Values& values)
    {
        return peer.start([values] {
            Framework_Shared_Memory_Manager m;
            m.init_with_h_compatibility_check_ex("slave_client", 4, 1);
            if (!held_by_bridge(m, "to_slave_int32")) {
                std::fprintf(stderr, "to_slave_int32 is not held by the slave's bridge\n");
                return 2;
            }
            write_all(m, "to_master_", values);
            uint32_t tick = 0;
            for (int i = 0; i < 20000; ++i) {
                if (m.refresh_data_ex(&tick) < 0) {
                    std::fprintf(stderr, "slave client: refresh failed\n");
                    return 3;
                }
                if (differing(m, "to_slave_", values).empty() &&
                    m.get_input_ex<unsigned>(m.get_input_id_ex("heartbeat"), false) == HEARTBEAT)
                    return 0;
            }
            std::fprintf(stderr, "slave client: differing %s\n", differing(m, "to_slave_", values).c_str());
            return 1;
        });
    }

    // The client of the master board, attached once: outputs stay with the
    // slot that took them.
    Framework_Shared_Memory_Manager& master_client()
    {
        if (!m_master_client) {
            m_master_client = std::make_unique<Framework_Shared_Memory_Manager>();
            m_master_client->init_with_h_compatibility_check_ex("master_client", 4, 1);
        }
        return *m_master_client;
    }

    // The master side of a full exchange, both ways, for every type.
    void exchange_values(const Values& values)
    {
        Framework_Shared_Memory_Manager& m = master_client();
        EXPECT_TRUE(held_by_bridge(m, "to_master_int32"));
        write_all(m, "to_slave_", values);
        uint32_t tick = 0;
        EXPECT_GE(m.refresh_data_ex(&tick), 0);
        auto client = start_slave_client(values);
        EXPECT_TRUE(
            eventually([&] { return m.refresh_data_ex(&tick) >= 0 && differing(m, "to_master_", values).empty(); },
                       20s))
            << "differing: " << differing(m, "to_master_", values) << master->log();
        m.set_output_ex<unsigned>(m.get_output_rw_id_ex("heartbeat", false), HEARTBEAT);
        EXPECT_TRUE(eventually([&] { return m.refresh_data_ex(&tick) >= 0 && client->has_ended(); }, 20s));
        EXPECT_EQ(client->wait(1s), 0) << slave->log();
    }

    Peer_Board peer;
    std::string bridge;
    std::string master_descriptor;
    std::string slave_descriptor;
    std::vector<std::pair<std::string, std::string>> slave_changes;
    // Both boards report running after the short delay unless cleared.
    bool short_running_delay = true;
    std::unique_ptr<Rtframe_Child> master;
    std::unique_ptr<Child_Process> slave;

private:
    std::unique_ptr<Framework_Shared_Memory_Manager> m_master_client;
};
