// busmaster as a child process in SAFE-OP and OP against the simulated demo
// cell on a veth pair: one process-data frame per period, outputs and inputs
// through the process-data memory, the tick, the distributed-clock set-up
// and first frame, a CiA 402 drive brought to operation by a client, and the
// faults that stop the cycle (master watchdog, lost frames, AL status, a
// SYNC0 already passed);
// blocking SDO transfers and the SDO queue in OP beside the cycle.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "busmaster_on_demo_cell.h"
#include "child_process.h"
#include "cia402_enable_steps.h"
#include "eventually.h"
#include "master_on_segment.h"
#include "master_request.h"
#include "robust_mutex.h"
#include "segment_config.h"
#include "system_config.h"
#include "veth_harness.h"
#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_system_types.h"

namespace {
using namespace std::chrono_literals;

using demo_cell::CONFIG;
using demo_cell::contains;
using demo_cell::frames_received;

const std::string ENI = "/tmp/cyclic_eni.xml";

constexpr int DIO_BYTE = 26;    // the I/O module's byte in both images
constexpr int DRIVE_BYTE = 27;  // the drive's first byte in both images

// The demo cell's ENI with the drive's default mapping, each (from, to) replaced.
void write_eni(const std::vector<std::pair<std::string, std::string>>& replacements = {})
{
    std::string text = read_file(DEFAULT_MAPPING_ENI);
    for (const auto& r : replacements) {
        const std::size_t at = text.find(r.first);
        ASSERT_NE(at, std::string::npos) << r.first;
        text.replace(at, r.first.size(), r.second);
    }
    write_file(ENI, text);
}

std::vector<long long> numbers(const std::string& reply)
{
    std::istringstream in(reply);
    std::vector<long long> values;
    for (long long v = 0; in >> v;)
        values.push_back(v);
    return values;
}

template <typename Region>
Region* map_region(const char* name)
{
    const int fd = shm_open(name, O_RDWR, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("no memory ") + name);
    void* p = mmap(nullptr, sizeof(Region), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED)
        throw std::runtime_error(std::string("cannot map ") + name);
    return static_cast<Region*>(p);
}

// A client of the master's memories as the client API works with them.
class Client {
public:
    Client()
        : m_pdo(map_region<Shared_Pdo_Mem_Region>(ecm_shm::PDO_NAME)),
          m_tick(map_region<Shared_Tick_Mem_Region>(ecm_shm::TICK_NAME))
    {
    }
    ~Client()
    {
        munmap(m_pdo, sizeof(*m_pdo));
        munmap(m_tick, sizeof(*m_tick));
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Waits for a tick and takes the count; 0 on time-out. The master posts
    // when the semaphore is at zero, so a post can land between a wake-up
    // and the taking of the count: that wake-up then finds no tick and the
    // wait goes on.
    int take_tick(std::chrono::milliseconds timeout = 1000ms)
    {
        timespec deadline{};
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_nsec += static_cast<long>(timeout.count() % 1000) * 1000000;
        deadline.tv_sec += timeout.count() / 1000 + deadline.tv_nsec / 1000000000;
        deadline.tv_nsec %= 1000000000;
        for (;;) {
            if (sem_timedwait(&m_tick->shm_sem_tick_ready, &deadline) != 0)
                return 0;
            Robust_Mutex mutex(&m_tick->shm_mutex, "tick");
            std::lock_guard<Robust_Mutex> lock(mutex);
            const int count = m_tick->tick_count;
            if (count == 0)
                continue;
            if (count != -1)
                m_tick->tick_count = 0;
            m_tick->client_started_cyclic_op = 1;
            return count;
        }
    }
    void take_ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            ASSERT_GT(take_tick(), 0);
    }
    // Takes ticks until done holds (true), or limit ticks have passed or
    // one did not come (false). A cycle that finds the process-data mutex
    // taken skips the copy, so no latency in cycles is promised.
    bool take_ticks_until(const std::function<bool()>& done, int limit = 1000)
    {
        for (int i = 0; i < limit; ++i) {
            if (take_tick() == 0)
                return false;
            if (done())
                return true;
        }
        return false;
    }
    void write_output(int byte, const std::vector<uint8_t>& bytes)
    {
        Robust_Mutex mutex(&m_pdo->shm_mutex, "pdo");
        std::lock_guard<Robust_Mutex> lock(mutex);
        std::memcpy(&m_pdo->shm_buf_out[byte], bytes.data(), bytes.size());
    }
    std::vector<uint8_t> read_input(int byte, std::size_t size)
    {
        Robust_Mutex mutex(&m_pdo->shm_mutex, "pdo");
        std::lock_guard<Robust_Mutex> lock(mutex);
        return std::vector<uint8_t>(&m_pdo->shm_buf_in[byte], &m_pdo->shm_buf_in[byte] + size);
    }
    uint16_t read_word(int byte)
    {
        const std::vector<uint8_t> b = read_input(byte, 2);
        return static_cast<uint16_t>(b[0] | (b[1] << 8));
    }
    Shared_Pdo_Mem_Region& pdo() { return *m_pdo; }
    Shared_Tick_Mem_Region& tick() { return *m_tick; }

private:
    Shared_Pdo_Mem_Region* m_pdo;
    Shared_Tick_Mem_Region* m_tick;
};

// One frame per period over a measured window. A late cycle in soft
// real-time mode costs a few frames, so the floor only tells one frame per
// period from one every two periods; the exact timing is the benchmark's.
void expect_one_frame_per_period(long long frames, std::chrono::steady_clock::duration window,
                                 std::chrono::nanoseconds period)
{
    const double periods = static_cast<double>(window.count()) / static_cast<double>(period.count());
    EXPECT_GT(static_cast<double>(frames), 0.6 * periods) << periods << " periods";
    EXPECT_LT(static_cast<double>(frames), 1.1 * periods + 5) << periods << " periods";
}

// busmaster in soft real-time mode (this machine is no real-time board) on
// the master end of the simulated demo cell.
class Cyclic : public demo_cell::Busmaster_On_Demo_Cell {
protected:
    void SetUp() override
    {
        std::vector<std::string> arguments{"-c", CONFIG, "--max_consecutive_frame_faults", m_max_faults};
        if (m_soft_realtime) {
            arguments.push_back("-s");
            arguments.push_back(m_jitter_cycles);
        }
        start_master(arguments);
    }

    void start_to(int state)
    {
        ASSERT_EQ(ask("start_ethercat_master " + ENI, 30s), "started") << log();
        ASSERT_EQ(ask("go_into_next_state 4", 30s), "reply_ok") << log();
        ASSERT_EQ(ask("get_master_ethercat_state"), "4");
        if (state == 8) {
            ASSERT_EQ(ask("go_into_next_state 8", 30s), "reply_ok") << log();
            ASSERT_EQ(ask("get_master_ethercat_state"), "8");
        }
    }

    // A loaded machine answers late now and then: only the test of the
    // fault limit keeps it low.
    std::string m_max_faults = "1000";
    bool m_soft_realtime = true;
    // Periods that one wait may miss without ending the cycle (the timer path
    // without clocks). This machine's host stops it for up to 130 ms now and
    // then, which misses up to 65 periods of 2 ms at once; the tolerance is
    // not what these cases test.
    std::string m_jitter_cycles = "1000";
};

// The fatal path as on the target: no soft real-time, so a missed period
// ends the cycle as well.
class CyclicFaults : public Cyclic {
protected:
    CyclicFaults()
    {
        m_max_faults = "40";
        m_soft_realtime = false;
    }
};
}  // namespace

TEST_F(Cyclic, OperationMovesProcessDataEveryPeriodAndTicksOncePerCycle)
{
    write_eni();
    // The test takes ticks in bursts, with requests in between.
    ASSERT_EQ(ask("set_watchdog_off"), "reply_ok");
    start_to(4);
    // SYNC0 of the drive (the reference clock) runs at the ENI's 1 ms.
    EXPECT_EQ(sim("read 1 0x0981 1"), "OK 03");
    EXPECT_EQ(sim("read 1 0x09A0 4"), "OK 40 42 0F 00");
    EXPECT_NE(sim("read 1 0x0920 8"), "OK 00 00 00 00 00 00 00 00");
    EXPECT_EQ(ask("get_master_time_info"), "reply_error");  // not yet in OP
    ASSERT_EQ(ask("go_into_next_state 8", 30s), "reply_ok") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "8");
    EXPECT_TRUE(contains(sim("read 1 0x130 2"), "08 00"));

    Client client;
    // One frame per period, one tick per cycle: over about a second the
    // counts that the client takes add up to the frames sent.
    client.take_ticks(3);
    const long long resent_before = numbers(ask("get_frame_resend_info"))[1];
    const auto begin = std::chrono::steady_clock::now();
    const long long frames_before = frames_received(sim("stats"));
    long long ticks = 0;
    while (std::chrono::steady_clock::now() - begin < 1s) {
        const int count = client.take_tick();
        ASSERT_GT(count, 0);
        ticks += count;
    }
    const long long frames = frames_received(sim("stats")) - frames_before;
    const auto window = std::chrono::steady_clock::now() - begin;
    // The cycles of the frames just counted ticked while this thread was
    // away: their count waits for the next take.
    ticks += client.take_tick();
    const long long resent = numbers(ask("get_frame_resend_info"))[1] - resent_before;
    expect_one_frame_per_period(frames - resent, window, 1ms);
    // A frame sent again upsets the clock plan, and the cycles that set it
    // right end without a tick: the count is exact only in a window without.
    // A frame that came back after its deadline ends its cycle without a tick
    // too; such cycles are counted from the log below, once written.
    if (resent != 0)
        expect_one_frame_per_period(ticks, window, 1ms);
    EXPECT_LE(ticks, frames - resent + 5) << resent << " frames resent";

    // A pattern written into the output memory reaches the slave.
    client.write_output(DIO_BYTE, {0xA5});
    EXPECT_TRUE(client.take_ticks_until([&] { return sim("read 0 0x0f00 1") == "OK A5"; })) << sim("read 0 0x0f00 1");
    EXPECT_EQ(client.tick().previus_tick_alert, NULL_ALERT);
    // And an input of the slave in the input memory.
    ASSERT_TRUE(contains(sim("set 0 0x6000 3 1"), "OK"));
    EXPECT_TRUE(client.take_ticks_until([&] { return client.read_input(DIO_BYTE, 1)[0] == 0x04; }))
        << static_cast<int>(client.read_input(DIO_BYTE, 1)[0]);

    // A client holding the process-data mutex: the cycles go on with the
    // outputs taken last and leave the inputs alone.
    {
        Robust_Mutex mutex(&client.pdo().shm_mutex, "pdo");
        std::lock_guard<Robust_Mutex> lock(mutex);
        client.pdo().shm_buf_out[DIO_BYTE] = 0x5A;
        ASSERT_TRUE(contains(sim("set 0 0x6000 4 1"), "OK"));
        client.take_ticks(5);
        EXPECT_EQ(client.tick().previus_tick_alert, SHM_OUT_NOT_USED);
        EXPECT_EQ(sim("read 0 0x0f00 1"), "OK A5");
        EXPECT_EQ(client.pdo().shm_buf_in[DIO_BYTE], 0x04);
    }
    // The ring writes the cycle's lines in order: once a line of the held
    // mutex is out, so is every line of a late frame in the window above.
    if (resent == 0) {
        ASSERT_TRUE(m_master->wait_for_log("Trylock mutex error", 10s)) << log();
        const int late = count_of(log(), "SAREI DOVUTO GIA' USCIRE DA OP_STATE");
        EXPECT_GE(ticks + late, frames - 5) << late << " late frames";
    }
    // Released, the next cycle that takes the mutex moves both ways again.
    EXPECT_TRUE(client.take_ticks_until([&] {
        return client.tick().previus_tick_alert == NULL_ALERT && sim("read 0 0x0f00 1") == "OK 5A" &&
               client.read_input(DIO_BYTE, 1)[0] == 0x0C;
    })) << client.tick().previus_tick_alert
        << " " << sim("read 0 0x0f00 1") << " " << static_cast<int>(client.read_input(DIO_BYTE, 1)[0]);

    // The first frame was planned at SYNC0 + the master frame offset
    // (200 us at 1 ms) + 50 us and left after that plan, not a period
    // before it. How late is the machine's load (ecm_cyclic_bench prints
    // it); a hundred periods late is a wrong plan.
    const std::vector<long long> first = numbers(ask("get_master_time_info_first_frame"));
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[0], 5);
    EXPECT_EQ(static_cast<int32_t>(first[3] - first[2]), 250000);
    EXPECT_GT(first[4], -1000000) << "first frame early by " << -first[4];
    EXPECT_LT(first[4], 100000000) << "first frame late by " << first[4];
    // The frames pass the reference clock behind SYNC0 by about that offset:
    // the median of a few cycles' phases, as one late cycle is no sign.
    std::vector<long long> phases;
    for (int i = 0; i < 7; ++i) {
        client.take_ticks(3);
        const std::string phase = sim("phase");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(phase, m, std::regex("count ([0-9]+) last ([0-9]+)"))) << phase;
        EXPECT_GT(std::stoll(m[1]), 1000);
        phases.push_back(std::stoll(m[2]));
    }
    std::nth_element(phases.begin(), phases.begin() + 3, phases.end());
    EXPECT_GT(phases[3], 100000);
    EXPECT_LT(phases[3], 600000);

    // Figures in OP; settings refused while the cycle runs; a malformed word
    // is refused without stopping anything.
    EXPECT_EQ(numbers(ask("get_master_time_info")).size(), 6u);
    EXPECT_EQ(numbers(ask("get_master_jitter_info")).size(), 4u);
    EXPECT_EQ(numbers(ask("get_frame_gap_time_info")).size(), 4u);
    EXPECT_EQ(numbers(ask("get_master_time_slot_info")).size(), 4u);
    EXPECT_EQ(ask("request_timer_info_reset"), "reply_ok");
    for (const char* refused : {"set_op_cycle_time 2000000", "set_watchdog_on 5", "set_watchdog_off", "no_such_word"})
        EXPECT_EQ(ask(refused), "reply_error") << refused;
    EXPECT_TRUE(contains(log(), "Error on set_op_cycle_time_exec Attention: m_thread_is_running ")) << log();
    EXPECT_EQ(ask("get_op_cycle_time"), "1000000");
    EXPECT_EQ(ask("get_master_ethercat_state"), "8");
    EXPECT_EQ(ask("get_last_system_error"), "4 0 0 0");
    client.take_ticks(2);

    ASSERT_EQ(ask("stop_ethercat_master", 30s), "stopped") << log();
    EXPECT_EQ(ask("get_master_ethercat_state"), "0");
    EXPECT_TRUE(contains(sim("read 1 0x130 2"), "01 00"));
    EXPECT_TRUE(contains(log(), "--- Delete ECM_OPERATIONAL_THREAD ---")) << log();
    EXPECT_FALSE(contains(log(), "... go into INIT_STATE ")) << log();  // an external stop
}

TEST_F(Cyclic, WithoutClocksTheCycleRunsOnThePeriodTimer)
{
    const std::string dc =
        "      <DC>\n        <ReferenceClock>true</ReferenceClock>\n        "
        "<CycleTime0>1000000</CycleTime0>\n        <CycleTime1>0</CycleTime1>\n        "
        "<ShiftTime>0</ShiftTime>\n      </DC>\n";
    write_eni({{dc, ""}});
    ASSERT_EQ(ask("set_watchdog_off"), "reply_ok");
    ASSERT_EQ(ask("set_op_cycle_time 2000000"), "reply_ok");
    EXPECT_EQ(ask("set_op_cycle_time 0"), "reply_error");
    start_to(8);
    EXPECT_TRUE(contains(log(), "make_periodic ( ... ) ")) << log();
    EXPECT_EQ(sim("read 1 0x0981 1"), "OK 00");
    Client client;
    client.take_ticks(3);
    const auto begin = std::chrono::steady_clock::now();
    const long long before = frames_received(sim("stats"));
    std::this_thread::sleep_for(1s);
    const long long frames = frames_received(sim("stats")) - before;
    expect_one_frame_per_period(frames, std::chrono::steady_clock::now() - begin, 2ms);
    client.write_output(DIO_BYTE, {0x3C});
    EXPECT_TRUE(client.take_ticks_until([&] { return sim("read 0 0x0f00 1") == "OK 3C"; })) << sim("read 0 0x0f00 1");
    EXPECT_EQ(numbers(ask("get_master_time_info_first_frame")), (std::vector<long long>{5, 0, 0, 0, 0}));
    ASSERT_EQ(ask("go_into_next_state 4", 30s), "reply_ok") << log();  // OP to SAFE-OP keeps the cycle
    EXPECT_TRUE(contains(sim("read 1 0x130 2"), "04 00"));
    const long long in_safeop = frames_received(sim("stats"));
    EXPECT_TRUE(eventually([&] { return frames_received(sim("stats")) - in_safeop > 50; }, 5000ms, 20ms));
    ASSERT_EQ(ask("go_into_next_state 2", 30s), "reply_ok") << log();
    const long long in_preop = frames_received(sim("stats"));
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(frames_received(sim("stats")) - in_preop, 5);
}

TEST_F(Cyclic, AClientBringsTheDriveToOperationEnabledThroughTheOutputMemory)
{
    write_eni();
    ASSERT_EQ(ask("set_watchdog_on 100"), "reply_ok");
    start_to(8);
    Client client;
    client.take_ticks(3);
    for (const Cia402_Enable_Step& step : CIA402_ENABLE_STEPS) {
        client.write_output(DRIVE_BYTE, {static_cast<uint8_t>(step.control), static_cast<uint8_t>(step.control >> 8)});
        const bool reached = eventually(
            [&] {
                client.take_tick();
                return (client.read_word(DRIVE_BYTE) & step.mask) == step.status;
            },
            3000ms, 0ms);
        EXPECT_TRUE(reached) << "control word 0x" << std::hex << step.control << " status 0x"
                             << client.read_word(DRIVE_BYTE);
    }
    // The drive's own view agrees.
    const std::string drive = sim("get 1 0x6041 0");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(drive, m, std::regex("(-?[0-9]+)$"))) << drive;
    EXPECT_EQ(std::stoi(m[1]) & 0x6F, 0x27) << drive;
}

TEST_F(Cyclic, SdoTransfersInOpPassTheGateAndTheQueueBesideTheCycle)
{
    write_eni();
    ASSERT_EQ(ask("set_watchdog_off"), "reply_ok");
    // The queue stays closed while an error of the start is recorded (a
    // reply lost to this loaded machine and resent): start again then.
    for (int attempt = 1;; ++attempt) {
        start_to(8);
        if (numbers(ask("get_last_system_error")).at(1) == NOT_ERROR_PRESENT || attempt == 5)
            break;
        std::cout << "start " << attempt << " left " << ask("get_last_system_error") << std::endl;
        ASSERT_EQ(ask("stop_ethercat_master", 30s), "stopped") << log();
    }
    ASSERT_EQ(ask("get_last_system_error"), "4 0 0 0");
    Client client;
    client.take_ticks(3);
    const long long frames_before = frames_received(sim("stats"));

    // Blocking transfers from the command server wait their turn at the
    // gate, in the window after each cyclic frame.
    const struct {
        std::string request;
        std::string reply;
    } blocking[] = {
        {"get_data_via_sdo 1002 4120 1 4", "130 0 0 0"},        // 0x1018:1
        {"set_data_via_sdo 1002 24678 0 2 52 18", "reply_ok"},  // 0x6066
        {"get_data_via_sdo 1002 24678 0 2", "52 18"},
        {"set_data_via_sdo 1002 24677 0 4 120 86 52 18", "reply_ok"},  // 0x6065
        {"get_data_via_sdo 1002 24677 0 4", "120 86 52 18"},
        {"get_data_via_sdo 1002 8192 0 4", "reply_error"},  // no such object
        {"get_data_via_sdo 1500 4120 1 4", "reply_error"},  // no such slave
    };
    for (const auto& step : blocking)
        EXPECT_EQ(ask(step.request, 10s), step.reply) << step.request << "\n" << log();
    client.take_ticks(2);
    EXPECT_EQ(ask("get_master_ethercat_state"), "8");
    EXPECT_GT(frames_received(sim("stats")) - frames_before, 10);

    // The queue: pushes answered at once, results popped in push order with
    // their codes (0x60 download done, the upload code with the data, 0x80
    // with the abort code for a failed transfer), "0" when none is left.
    ASSERT_TRUE(contains(sim("sdo_abort 1 0x6067 * 0x06010002"), "OK"));
    const char* const pushes[] = {
        "push_sdo_into_queue 1002 24677 0 35 4 1 2 3 4",  // 0x6065 download of 4 (0x23)
        "push_sdo_into_queue 1002 24677 0 67 4 0 0 0 0",  // its upload (0x43)
        "push_sdo_into_queue 1002 24678 0 43 2 7 1",      // 0x6066 download of 2 (0x2B)
        "push_sdo_into_queue 1002 24679 0 67 4 0 0 0 0",  // 0x6067: aborted
        "push_sdo_into_queue 1500 24678 0 75 2 0 0",      // no such slave
        "push_sdo_into_queue 1002 4120 1 67 4 0 0 0 0",   // served after the failures
    };
    for (const char* push : pushes)
        EXPECT_EQ(ask(push), "reply_ok") << push << "\n" << log();
    // Each result after the count of results waiting.
    const char* const results[] = {
        "1002 24677 0 96 4 1 2 3 4",  "1002 24677 0 67 4 1 2 3 4",  "1002 24678 0 96 2 7 1",
        "1002 24679 0 128 4 2 0 1 6", "1500 24678 0 128 4 0 0 0 0", "1002 4120 1 67 4 130 0 0 0",
    };
    // The SDO thread works beside the cycle: results are popped as they come.
    std::vector<std::string> popped;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (popped.size() < 6 && std::chrono::steady_clock::now() < deadline) {
        const std::string next = ask("pop_sdo_from_queue");
        if (next != "0")
            popped.push_back(next);
        else
            std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(popped.size(), 6u) << log();
    for (std::size_t i = 0; i < popped.size(); ++i)
        EXPECT_EQ(popped[i].substr(popped[i].find(' ') + 1), results[i]) << i;
    EXPECT_EQ(popped.back().rfind("1 ", 0), 0u) << popped.back();  // the last one waiting
    EXPECT_EQ(ask("pop_sdo_from_queue"), "0");
    EXPECT_EQ(sim("get 1 0x6066 0").substr(sim("get 1 0x6066 0").rfind(' ') + 1), "263");
    // A push that does not fit its code is refused and records the error.
    EXPECT_EQ(ask("push_sdo_into_queue 1002 24678 0 35 2 0 0"), "reply_error");
    EXPECT_EQ(ask("get_master_ethercat_state"), "8");
    client.take_ticks(2);
    ASSERT_EQ(ask("stop_ethercat_master", 30s), "stopped") << log();
}

TEST_F(CyclicFaults, FaultsStopTheCycleWithTheirErrorAndTakeTheSlavesToInit)
{
    const struct {
        const char* name;
        std::function<void(Cyclic&, Client&)> fault;
        std::string error;  // beginning of get_last_system_error
        std::string log_text;
        int state_after;
    } cases[] = {
        {"watchdog",
         [](Cyclic&, Client& client) {
             // The client has started, then takes no more. (A tick of -1 here
             // is a missed period, which the attempt loop handles.)
             for (int i = 0; i < 5; ++i)
                 (void)client.take_tick();
         },
         "4 30 8 0", " Attention: Watchdog error !!!", 0},
        {"lost frames", [](Cyclic& t, Client&) { ASSERT_TRUE(contains(t.sim("drop 150"), "OK")); }, "4 30 4 ",
         " Attention: No Cyclic frame read !!! -> consecutive_faults > MAX_CONSECUTIVE_DC_FAULTS ", 1},
        {"AL status", [](Cyclic& t, Client&) { ASSERT_TRUE(contains(t.sim("state 1 4 0x001b"), "OK")); }, "4 30 2 1002",
         "Error on cycle frame: slave state no check !!!", 1},
        // The reference clock 5 ms ahead: the next SYNC0 has passed when the
        // frame reads it.
        {"SYNC0 passed", [](Cyclic& t, Client&) { ASSERT_TRUE(contains(t.sim("clock_jump 1 5000000"), "OK")); },
         "4 1 0 1003", "Error on DC wait period !!!", 1},
    };
    write_eni();
    // Without soft real-time a period missed on this shared machine ends the
    // cycle with a timing error (type 1) before or instead of the injected
    // fault: that attempt says nothing about the fault and is made again.
    const auto timing_error = [&] {
        const std::vector<long long> error = numbers(ask("get_last_system_error"));
        return error.size() > 1 && error[1] == XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int attempt = 1;; ++attempt) {
            SCOPED_TRACE("attempt " + std::to_string(attempt));
            // Only the watchdog case watches the client, which stops taking ticks.
            ASSERT_EQ(ask(c.error == "4 30 8 0" ? "set_watchdog_on 30" : "set_watchdog_off"), "reply_ok");
            start_to(8);
            Client client;
            const bool running = client.take_tick() > 0 && client.take_tick() > 0;
            if (running)
                c.fault(*this, client);
            EXPECT_TRUE(eventually([&] { return ask("get_master_ethercat_state") != "8"; }, 20000ms, 100ms)) << log();
            // A missed period is itself the fault under test in one case.
            const bool expects_timing_error = c.error.rfind("4 1 ", 0) == 0;
            if (((timing_error() && !expects_timing_error) || !running) && attempt < 8) {
                std::cout << c.name << ": a missed period ended attempt " << attempt << ": "
                          << ask("get_last_system_error") << std::endl;
                ASSERT_TRUE(contains(sim("drop 0"), "OK"));
                ASSERT_EQ(ask("stop_ethercat_master", 30s), "stopped") << log();
                continue;
            }
            ASSERT_TRUE(running) << log();
            EXPECT_TRUE(eventually([&] { return ask("get_master_ethercat_state") == std::to_string(c.state_after); },
                                   20000ms, 100ms))
                << log();
            EXPECT_EQ(ask("get_last_system_error").rfind(c.error, 0), 0u) << ask("get_last_system_error");
            EXPECT_TRUE(contains(log(), c.log_text)) << log();
            EXPECT_EQ(client.tick().tick_count, -1);
            EXPECT_TRUE(contains(log(), "... cyclic end ... OK ")) << log();
            EXPECT_TRUE(eventually([&] { return contains(sim("read 1 0x130 2"), "01 00"); }, 10000ms, 50ms))
                << sim("read 1 0x130 2");
            ASSERT_TRUE(contains(sim("drop 0"), "OK"));
            ASSERT_EQ(ask("stop_ethercat_master", 30s), "stopped") << log();
            break;
        }
    }
}
