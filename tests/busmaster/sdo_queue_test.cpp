// The SDO queue and its manager thread, with the master object in this
// process and the simulated demo cell on a veth pair: results in push order
// with their codes, aborts, unknown slaves and emergency polls, the code and
// size check, and a queue emptied by clear_system. The master is taken to
// PRE-OP by its ENI and then marked operational: mailbox traffic needs no
// cycle, and the queue itself looks only at the state.
#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "master_on_segment.h"
#include "segment_config.h"
#include "thrown_text.h"
#include "veth_harness.h"
#include "xelo_ethercat_master_class.h"

namespace {
using namespace std::chrono_literals;

constexpr uint16_t DIO = 1001;
constexpr uint16_t DRIVE = 1002;

struct Result {
    int waiting = -1;
    uint16_t address = 0;
    int index = 0;
    int subindex = 0;
    int size = 0;
    std::vector<uint8_t> data;
    unsigned char code = 0;
};

class Queue_Master : public Private_Memory_Master {
public:
    using Private_Memory_Master::Private_Memory_Master;
    void mark_operational() { m_actual_ethercat_state = OP_STATE; }
    std::size_t results_waiting()
    {
        Robust_Mutex sdo_list_mutex = ecm_mutex(&m_sdo_list_mutex, "m_sdo_list_mutex");
        std::lock_guard<Robust_Mutex> lists(sdo_list_mutex);
        return m_list_sdo_in.size();
    }
    // Waits for count results; false after the time-out.
    bool wait_results(std::size_t count, std::chrono::milliseconds timeout = 5000ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (results_waiting() < count) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    Result pop()
    {
        Result r;
        r.waiting = pop_sdo_ex(&r.address, &r.index, &r.subindex, &r.size, &r.data, &r.code);
        return r;
    }
};

class Sdo_Queue : public ::testing::Test {
protected:
    Sdo_Queue()
        : m_segment(ecat_sim::parse_segment_config(
                        "slave dio device=dio\nslave drive device=cia402 profile=infranor\n"),
                    simulated_segment_options()),
          m_master(m_segment.master_interface())
    {
    }
    void SetUp() override
    {
        sched_param param{};
        param.sched_priority = 55;  // as the master's socket thread
        ASSERT_EQ(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param), 0);
        ASSERT_NO_THROW(m_master.set_xml_file_and_leave_no_state_ex(DEMO_ENI));
        ASSERT_EQ(m_master.get_master_ethercat_state(), PREOP_STATE);
        ASSERT_TRUE(m_master.is_sdo_manager_running());
        m_master.mark_operational();
    }
    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }

    ecat_sim::Veth_Segment m_segment;
    Queue_Master m_master;
};

TEST_F(Sdo_Queue, ResultsComeInPushOrderWithTheirCodes)
{
    m_master.push_sdo_ex(DRIVE, 0x607A, 0, 4, {0x78, 0x56, 0x34, 0x12}, 0x23);
    m_master.push_sdo_ex(DRIVE, 0x607A, 0, 4, {0, 0, 0, 0}, 0x43);
    m_master.push_sdo_ex(DRIVE, 0x6060, 0, 1, {8}, 0x2F);
    m_master.push_sdo_ex(DRIVE, 0x6060, 0, 1, {0}, 0x4F);
    m_master.push_sdo_ex(DRIVE, 0x1018, 1, 4, {0, 0, 0, 0}, 0x43);
    ASSERT_TRUE(m_master.wait_results(5));
    const struct {
        int waiting;
        int index;
        unsigned char code;
        std::vector<uint8_t> data;
    } expected[] = {
        {5, 0x607A, 0x60, {0x78, 0x56, 0x34, 0x12}},
        {4, 0x607A, 0x43, {0x78, 0x56, 0x34, 0x12}},
        {3, 0x6060, 0x60, {8}},
        {2, 0x6060, 0x4F, {8}},
        {1, 0x1018, 0x43, {130, 0, 0, 0}},
    };
    for (const auto& e : expected) {
        const Result r = m_master.pop();
        EXPECT_EQ(r.waiting, e.waiting);
        EXPECT_EQ(r.address, DRIVE);
        EXPECT_EQ(r.index, e.index) << e.waiting;
        EXPECT_EQ(r.code, e.code) << e.waiting;
        EXPECT_EQ(r.size, static_cast<int>(e.data.size())) << e.waiting;
        EXPECT_EQ(r.data, e.data) << e.waiting;
    }
    // Nothing left: 0 and the outputs untouched.
    uint16_t address = 77;
    int index = 77, subindex = 77, size = 77;
    std::vector<uint8_t> data{7};
    unsigned char code = 77;
    EXPECT_EQ(m_master.pop_sdo_ex(&address, &index, &subindex, &size, &data, &code), 0);
    EXPECT_EQ(address, 77);
    EXPECT_EQ(size, 77);
    EXPECT_EQ(data, std::vector<uint8_t>{7});
    EXPECT_EQ(code, 77);
}

TEST_F(Sdo_Queue, FailedTransfersGiveCodeEightyWithTheAbortCodeAndTheThreadGoesOn)
{
    ASSERT_EQ(sim("sdo_abort 1 0x6060 * 0x06090011").substr(0, 2), "OK");
    m_master.push_sdo_ex(DRIVE, 0x6060, 0, 1, {0}, 0x4F);           // aborted upload
    m_master.push_sdo_ex(DRIVE, 0x6060, 0, 1, {3}, 0x2F);           // aborted download
    m_master.push_sdo_ex(1500, 0x6060, 0, 1, {3}, 0x2F);            // no such slave
    m_master.push_sdo_ex(DRIVE, 0x6066, 0, 4, {0, 0, 0, 0}, 0x43);  // a 2-byte object read as 4
    m_master.push_sdo_ex(DRIVE, 0x1018, 1, 4, {0, 0, 0, 0}, 0x43);  // still served
    ASSERT_TRUE(m_master.wait_results(5));
    const struct {
        uint16_t address;
        unsigned char code;
        std::vector<uint8_t> data;
    } expected[] = {
        {DRIVE, 0x80, {0x11, 0x00, 0x09, 0x06}}, {DRIVE, 0x80, {0x11, 0x00, 0x09, 0x06}}, {1500, 0x80, {0, 0, 0, 0}},
        {DRIVE, 0x43, {100, 0, 0, 0}},           {DRIVE, 0x43, {130, 0, 0, 0}},
    };
    for (const auto& e : expected) {
        const Result r = m_master.pop();
        EXPECT_EQ(r.address, e.address) << r.waiting;
        EXPECT_EQ(r.code, e.code) << r.waiting;
        EXPECT_EQ(r.size, 4) << r.waiting;
        EXPECT_EQ(r.data, e.data) << r.waiting;
    }
}

TEST_F(Sdo_Queue, AnEmergencyPollTellsWhetherAMessageWasWaiting)
{
    ASSERT_EQ(sim("emergency 1 0x8611 0x01").substr(0, 2), "OK");
    m_master.push_sdo_ex(DRIVE, 0, 0, 0, {}, 0xFF);
    m_master.push_sdo_ex(DRIVE, 0, 0, 0, {}, 0xFF);
    ASSERT_TRUE(m_master.wait_results(2));
    EXPECT_EQ(m_master.pop().code, 1);
    const Result second = m_master.pop();
    EXPECT_EQ(second.code, 0);
    EXPECT_EQ(second.size, 0);
}

TEST_F(Sdo_Queue, CodesAndSizesThatDoNotMatchAreRefusedAndTheRefusalStays)
{
    EXPECT_EQ(thrown_text([&] { m_master.push_sdo_ex(DIO, 0x6000, 1, 1, {0}, 0x4F); }),
              "Attention: Push sdo -> not mailbox at slave: 1001");
    Ec_Master_Error_Type type;
    EC_Master_Error_Code code;
    int slave = -1;
    m_master.get_last_error(&type, &code, &slave);
    EXPECT_EQ(type, NOT_ERROR_PRESENT);

    EXPECT_EQ(thrown_text([&] {
                  m_master.push_sdo_ex(DRIVE, 0x6066, 0, 4, {0, 0, 0, 0}, 0x2B);
              }),
              "Attention: Push sdo code or dim not correct");
    m_master.get_last_error(&type, &code, &slave);
    EXPECT_EQ(type, PUSH_SDO_FAILED);
    EXPECT_EQ(code, DIM_NOT_CORRECT);
    // The recorded error keeps the queue closed.
    EXPECT_EQ(thrown_text([&] {
                  m_master.push_sdo_ex(DRIVE, 0x6066, 0, 2, {0, 0}, 0x2B);
              }),
              "Attention: Push Sdo not permitted in this state !");
    EXPECT_EQ(thrown_text([&] { m_master.pop(); }), "Attention: Pop Sdo not permitted in this state");
}

TEST_F(Sdo_Queue, WithoutTheCodeCheckACodeOfNeitherKindComesBackUntransferred)
{
    m_master.set_sdo_code_control(false);
    const std::string before = sim("sdo_log 1");
    m_master.push_sdo_ex(DRIVE, 0x607A, 0, 3, {1, 2, 3}, 0x05);
    ASSERT_TRUE(m_master.wait_results(1));
    const Result r = m_master.pop();
    EXPECT_EQ(r.code, 0x05);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(sim("sdo_log 1"), before);
    // One transfer's buffer bounds the size all the same.
    EXPECT_EQ(thrown_text([&] { m_master.push_sdo_ex(DRIVE, 0x607A, 0, 51, std::vector<uint8_t>(51), 0x21); }),
              "Attention: Push sdo code or dim not correct");
}

TEST_F(Sdo_Queue, ClearingTheMasterDropsQueuedRequestsAndResults)
{
    m_master.push_sdo_ex(DRIVE, 0x1018, 1, 4, {0, 0, 0, 0}, 0x43);
    ASSERT_TRUE(m_master.wait_results(1));
    m_master.clear_system();
    EXPECT_EQ(m_master.results_waiting(), 0u);
    // The thread survives for the next configuration.
    EXPECT_TRUE(m_master.is_sdo_manager_running());
}

}  // namespace
