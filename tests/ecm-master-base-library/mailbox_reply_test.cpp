// CoE transfers against a slave mailbox scripted frame by frame on a veth
// pair: replies that no well-behaved slave sends must end the transfer.
#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "ethercatcoe.h"
#include "nicdrv.h"
#include "raw_peer.h"
#include "simulated_segment.h"

namespace {
constexpr uint16_t SLAVE = 1001;
constexpr uint16_t MBX_L = 128;
constexpr uint16_t WRITE_MBX = 0x1000;
constexpr uint16_t READ_MBX = 0x1080;
constexpr uint32_t TIMEOUT_US = 70000;

using Message = std::vector<uint8_t>;
// The answer to a message written into the write mailbox; empty: none.
using Script = std::function<Message(const Message& request)>;

// A CoE SDO response of the given command; data follow from offset 12.
Message sdo_response(uint8_t command, uint16_t length, const Message& data = {})
{
    Message m(MBX_L, 0);
    m[0] = static_cast<uint8_t>(length & 0xFF);
    m[1] = static_cast<uint8_t>(length >> 8);
    m[5] = 0x03;  // CoE
    m[7] = 0x30;  // SDO response
    m[8] = command;
    std::copy(data.begin(), data.end(), m.begin() + 9);
    return m;
}

// The slave's side of the mailbox: the write mailbox is always empty, a
// written message is answered by the script and its answer shows as a full
// read mailbox until it is read.
Raw_Peer::Responder mailbox_slave(Script script)
{
    auto pending = std::make_shared<Message>();
    return [script = std::move(script), pending](std::vector<uint8_t>& frame) {
        const std::vector<Datagram_View> datagrams = datagrams_of(frame);
        if (datagrams.size() != 1)
            return Peer_Action{false, {}};
        const Datagram_View& d = datagrams.front();
        const uint8_t command = frame[d.offset];
        const uint16_t ado = static_cast<uint16_t>(frame[d.offset + 4] | (frame[d.offset + 5] << 8));
        uint8_t* data = frame.data() + d.offset + 10;
        if (command == 4 && ado == 0x0805) {
            data[0] = 0;
        } else if (command == 5 && ado == WRITE_MBX) {
            *pending = script(Message(data, data + d.length));
        } else if (command == 4 && ado == 0x080D) {
            data[0] = pending->empty() ? 0 : 0x08;
        } else if (command == 4 && ado == READ_MBX) {
            std::memcpy(data, pending->data(), std::min<std::size_t>(pending->size(), d.length));
            pending->clear();
        }
        set_working_counter(frame, d, 1);
        return Peer_Action{};
    };
}

class Mailbox_Reply : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ec_setupnic(m_veth.master_end().c_str()), 0);
        ec_errort e;
        while (ec_poperror(&e)) {
        }
    }
    void TearDown() override { ec_closenic(); }

    // Register replies are awaited 1 ms: the slave's thread takes this
    // thread's real-time priority, that of simulated slaves, and this
    // thread then drops to the master socket thread's below it.
    void start_slave(Script script)
    {
        ASSERT_TRUE(set_priority(SIMULATED_SLAVE_PRIORITY));
        m_peer = std::make_unique<Raw_Peer>(m_veth.segment_end(), mailbox_slave(std::move(script)));
        ASSERT_TRUE(set_priority(55));
    }
    static bool set_priority(int priority)
    {
        sched_param param{};
        param.sched_priority = priority;
        return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    }

    ecat_sim::Veth_Pair m_veth{"ecm0", "ecm1"};
    std::unique_ptr<Raw_Peer> m_peer;
    uint8_t m_counter = 0;
};
}  // namespace

// A slave that answers every segment request with a segment that is not the
// last and carries no data would keep the upload going for ever.
TEST_F(Mailbox_Reply, ASegmentedUploadEndsAtASegmentWithoutDataThatIsNotTheLast)
{
    constexpr int GIVE_UP = 50;  // the slave falls silent after so many segments
    std::atomic<int> segment_requests{0};
    start_slave([&segment_requests](const Message& request) {
        if ((request[8] & 0xE0) == 0x60) {
            if (++segment_requests > GIVE_UP)
                return Message{};
            return sdo_response(static_cast<uint8_t>(request[8] & 0x10), 3);
        }
        // Normal upload of 16 bytes, none of them in this reply.
        return sdo_response(0x41, 10, {request[9], request[10], request[11], 16, 0, 0, 0});
    });
    std::vector<uint8_t> data(64, 0xEE);
    int size = static_cast<int>(data.size());
    EXPECT_EQ(ec_SDOread_ecm(SLAVE, MBX_L, WRITE_MBX, READ_MBX, &m_counter, 0x2000, 0, false, &size, data.data(),
                             TIMEOUT_US),
              0);
    EXPECT_EQ(segment_requests.load(), 1);
    ec_errort e;
    ASSERT_TRUE(ec_poperror(&e));
    EXPECT_EQ(e.Etype, EC_ERR_TYPE_PACKET_ERROR);
    EXPECT_EQ(e.ErrorCode, EC_PACKET_ERROR_UNEXPECTED_FRAME);
    EXPECT_EQ(e.Index, 0x2000);
}
