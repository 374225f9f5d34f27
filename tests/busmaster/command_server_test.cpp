// The command server in this process, driven one request at a time: set-up
// from the system configuration, its three memories, request framing and the
// queries that need no bus.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "master_request.h"
#include "system_config.h"
#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_master_socket.h"
#include "xelo_ethercat_system_types.h"

namespace {
const std::string CONFIG = "/tmp/ecm_system_cfg.xml";

// Size and permission bits of a shared-memory object; -1 when absent.
struct Shm_Facts {
    off_t size = -1;
    mode_t mode = 0;
};
Shm_Facts shm_facts(const char* name)
{
    Shm_Facts facts;
    const int fd = shm_open(name, O_RDONLY, 0);
    if (fd < 0)
        return facts;
    struct stat st {};
    fstat(fd, &st);
    close(fd);
    facts.size = st.st_size;
    facts.mode = st.st_mode & 0777;
    return facts;
}

class CommandServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_system_config(CONFIG, "ecm0", "127.0.0.1", "500");
        testing::internal::CaptureStdout();
        m_master = std::make_unique<ECM_Master_Socket>(CONFIG, false, 0, 20);
        m_setup_log = testing::internal::GetCapturedStdout();
        ASSERT_EQ(m_master->view_system_state(), SYSTEM_SETUP_OK) << m_setup_log;
        m_master->open_socket_real_udp();
    }

    // Sends the datagram, serves it, and returns the reply ("<none>" when
    // the server sent none).
    std::string request(const std::string& datagram)
    {
        m_client.send_ex(datagram);
        m_master->wait_request_real_udp();
        m_master->execute_request_and_reply_real_udp();
        return reply();
    }
    std::string reply() { return reply_of(m_client); }

    std::string m_setup_log;
    std::unique_ptr<ECM_Master_Socket> m_master;
    ClientSocket_Udp_ex m_client{"127.0.0.1", ecm_protocol::PORT, true, 0, 300000};
};
}  // namespace

TEST_F(CommandServer, SetUpCreatesTheThreeMemoriesOwnerOnly)
{
    const struct {
        const char* name;
        std::size_t size;
    } memories[] = {
        {ecm_shm::PDO_NAME, sizeof(Shared_Pdo_Mem_Region)},
        {ecm_shm::INFO_NAME, sizeof(Shared_Slave_Info_Mem_Region)},
        {ecm_shm::TICK_NAME, sizeof(Shared_Tick_Mem_Region)},
    };
    for (const auto& memory : memories) {
        const Shm_Facts facts = shm_facts(memory.name);
        EXPECT_EQ(facts.size, static_cast<off_t>(memory.size)) << memory.name;
        EXPECT_EQ(facts.mode, 0600u) << memory.name;
    }
    EXPECT_EQ(m_master->net_interface_name(), "ecm0");
    EXPECT_NE(m_setup_log.find("\t m_shmem_tick_ptr mappato "), std::string::npos);
}

TEST_F(CommandServer, RequestsAreFramedIdHashCommandAndAnsweredIdHashReply)
{
    const struct {
        std::string datagram;
        std::string reply;
    } cases[] = {
        {"12#get_system_version\n", "12#32"},           {"get_system_state\n", "0#2"},  // no id: 0
        {"5##get_op_cycle_time#zz\n", "5#1000000"},     {" -7#get_system_version\n", "-7#32"},
        {"abc#get_system_version\n", "0#32"},           {"3#get_last_system_error\n", "3#4 0 0 0"},
        {"9#get_frame_resend_info\n", "9#3 0 0"},       {"4#get_master_ethercat_state\n", "4#0"},
        {"8#request_timer_info_reset\n", "8#reply_ok"}, {"11#get_system_version and more words\n", "11#32"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(request(c.datagram), c.reply) << c.datagram;
    EXPECT_TRUE(m_master->is_timer_info_reset_requested());
    EXPECT_TRUE(m_master->is_system_real_udp_socket_active());
}

TEST_F(CommandServer, LastErrorIsAnsweredAsRecorded)
{
    m_master->set_last_master_error(ECAT_CYCLIC_FRAME, NO_WATCHDOG_CHECK, 1003);
    EXPECT_EQ(request("2#get_last_system_error\n"), "2#4 30 8 1003");
    ECM_Error_Struct error{};
    m_master->get_master_last_error(&error);
    EXPECT_EQ(error.error_type, ECAT_CYCLIC_FRAME);
    EXPECT_EQ(error.error_code, NO_WATCHDOG_CHECK);
    EXPECT_EQ(error.possible_slave_in_error, 1003);
}

// An unknown word, a datagram without its line end and one without a word
// are refused with the request's id, change nothing and keep the connection.
TEST_F(CommandServer, UnknownWordsAndUnframedDatagramsAreRefusedWithTheirId)
{
    const struct {
        std::string datagram;
        std::string reply;
    } cases[] = {
        {"1#no_such_command\n", "1#reply_error"},
        {"#get_system_state\n", "0#reply_error"},          // one piece only: the word keeps its "#"
        {"42#get_system_version", "42#reply_error"},       // no line end
        {"8#request_timer_info_reset ", "8#reply_error"},  // no line end, yet a whole word before it
        {"3#\n", "3#reply_error"},                         // no word
        {"4#  \t\n", "4#reply_error"},
        {"\n", "0#reply_error"},
        {"", "0#reply_error"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(request(c.datagram), c.reply) << c.datagram;
        EXPECT_TRUE(m_master->is_system_real_udp_socket_active()) << c.datagram;
        EXPECT_EQ(request("9#get_system_version\n"), "9#32") << c.datagram;
    }
    EXPECT_FALSE(m_master->is_timer_info_reset_requested());
}

TEST_F(CommandServer, OverlongRequestIsRefusedNotCut)
{
    // Cut at 500 bytes this would read as a valid request.
    const std::string datagram = "6#request_timer_info_reset" + std::string(600, ' ') + "\n";
    EXPECT_EQ(request(datagram), "6#reply_error");
    EXPECT_FALSE(m_master->is_timer_info_reset_requested());
    EXPECT_EQ(request("7#get_system_version\n"), "7#32");
}

TEST_F(CommandServer, CloseConnectionIsAnsweredWithTheDefaultReplyAndEndsTheConnection)
{
    EXPECT_EQ(request("5#close_connection\n"), "5#reply_error");
    EXPECT_FALSE(m_master->is_system_real_udp_socket_active());
    m_master->open_socket_real_udp();
    EXPECT_EQ(request("6#get_system_state\n"), "6#2");
}

TEST_F(CommandServer, CloseConnectionSentByTheMasterReachesItsOwnServer)
{
    m_master->send_close_connection_to_command_server();
    m_master->wait_request_real_udp();
    m_master->execute_request_and_reply_real_udp();
    EXPECT_FALSE(m_master->is_system_real_udp_socket_active());
}

namespace {
// The command server with the master's state and timing figures set as the
// cyclic thread would leave them.
class Operational_Master_Socket : public ECM_Master_Socket {
public:
    using ECM_Master_Socket::ECM_Master_Socket;
    void enter(State_Enum state) { m_actual_ethercat_state = state; }
    void set_figures()
    {
        m_master_time_slot_actual.tv_usec = 12;
        m_master_time_slot_min.tv_usec = 11;
        m_master_time_slot_max.tv_usec = 30;
        m_master_time_slot_resend_max.tv_usec = 45;
        m_jitter_frame = -200;
        m_jitter_frame_min = -900;
        m_jitter_frame_max = 700;
        m_time_gap_frame_to_prev_sync0 = 5000;
        m_time_gap_frame_to_prev_sync0_min = 4000;
        m_time_gap_frame_to_prev_sync0_max = 6000;
        m_first_frame_dc_slave_ref_clock = 0x80000000u;
        m_first_frame_dc_next_sync_time = 1000000;
        m_first_frame_dc_frame_send_time = 900000;
        m_first_frame_dc_resto = 3;
    }
};
}  // namespace

TEST(CommandServerTiming, TimingQueriesAnswerOnlyInOperational)
{
    write_system_config(CONFIG, "ecm0", "127.0.0.1", "500");
    testing::internal::CaptureStdout();
    Operational_Master_Socket master(CONFIG, false, 0, 20);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(master.view_system_state(), SYSTEM_SETUP_OK);
    master.open_socket_real_udp();
    master.set_figures();
    ClientSocket_Udp_ex client("127.0.0.1", ecm_protocol::PORT, true, 0, 300000);
    auto request = [&](const std::string& datagram) {
        client.send_ex(datagram + "\n");
        master.wait_request_real_udp();
        master.execute_request_and_reply_real_udp();
        std::string line;
        client >> line;
        return line;
    };
    const struct {
        const char* request;
        const char* in_op;
    } cases[] = {
        {"1#get_master_time_slot_info", "1#4 12000 11000 30000"},
        {"2#get_master_jitter_info", "2#4 -200 -900 700"},
        {"3#get_frame_gap_time_info", "3#4 5000 4000 6000"},
        {"4#get_master_time_info_first_frame", "4#5 -2147483648 1000000 900000 3"},
        {"5#get_master_time_info", "5#6 12000 30000 45000 -200 700"},
    };
    for (State_Enum state : {NO_STATE, PREOP_STATE, SAFEOP_STATE}) {
        master.enter(state);
        for (const auto& c : cases) {
            testing::internal::CaptureStdout();
            const std::string reply = request(c.request);
            const std::string log = testing::internal::GetCapturedStdout();
            EXPECT_EQ(reply, std::string(c.request).substr(0, 2) + "reply_error") << c.request << " " << state;
            EXPECT_EQ(log, "") << c.request;  // refused quietly
            EXPECT_TRUE(master.is_system_real_udp_socket_active());
        }
    }
    master.enter(OP_STATE);
    for (const auto& c : cases)
        EXPECT_EQ(request(c.request), c.in_op);
}

TEST(CommandServerMemories, SetUpClearsStaleOutputsAndResizesAnObjectOfTheWrongSize)
{
    {
        const int fd = shm_open(ecm_shm::PDO_NAME, O_RDWR | O_CREAT, 0600);
        ASSERT_EQ(ftruncate(fd, sizeof(Shared_Pdo_Mem_Region)), 0);
        auto* pdo = static_cast<Shared_Pdo_Mem_Region*>(
            mmap(nullptr, sizeof(Shared_Pdo_Mem_Region), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
        std::memset(pdo->shm_buf_out, 0x77, sizeof(pdo->shm_buf_out));
        std::memset(pdo->shm_buf_in, 0x66, sizeof(pdo->shm_buf_in));
        munmap(pdo, sizeof(Shared_Pdo_Mem_Region));
        close(fd);
        const int info = shm_open(ecm_shm::INFO_NAME, O_RDWR | O_CREAT, 0600);
        ASSERT_EQ(ftruncate(info, 3), 0);
        close(info);
    }
    write_system_config(CONFIG, "ecm0", "127.0.0.1", "500");
    testing::internal::CaptureStdout();
    ECM_Master_Socket master(CONFIG, false, 0, 20);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(master.view_system_state(), SYSTEM_SETUP_OK);

    EXPECT_EQ(shm_facts(ecm_shm::INFO_NAME).size, static_cast<off_t>(sizeof(Shared_Slave_Info_Mem_Region)));
    const int fd = shm_open(ecm_shm::PDO_NAME, O_RDONLY, 0);
    auto* pdo = static_cast<const Shared_Pdo_Mem_Region*>(
        mmap(nullptr, sizeof(Shared_Pdo_Mem_Region), PROT_READ, MAP_SHARED, fd, 0));
    const uint8_t zeros[ecm_shm::PROCESS_DATA_BYTES] = {};
    EXPECT_EQ(std::memcmp(pdo->shm_buf_out, zeros, sizeof(zeros)), 0);
    EXPECT_EQ(std::memcmp(pdo->shm_buf_in, zeros, sizeof(zeros)), 0);
    munmap(const_cast<Shared_Pdo_Mem_Region*>(pdo), sizeof(Shared_Pdo_Mem_Region));
    close(fd);
}

TEST(CommandServerSetUp, FailingStepsAreReportedAsSetUpFailed)
{
    const struct {
        const char* name;
        std::string address;
        std::string port;
        const char* error;
        bool memories;
    } cases[] = {
        {"address that is no address", "localhost", "500", "ECM_Master_Socket error on constructor:  bind error ",
         true},
        {"address of another host", "192.0.2.1", "500", "ECM_Master_Socket error on constructor:  bind error ", true},
        {"no address", "", "500", "ECM_Master_Socket error on constructor:  bind error ", true},
        {"no port", "127.0.0.1", "",
         "ECM_Master_Socket error on constructor: Error element : EtheCATUserSocketPort => not present in the xml "
         "file or is not unique!",
         false},
    };
    for (const auto& c : cases) {
        shm_unlink(ecm_shm::PDO_NAME);
        write_system_config(CONFIG, "ecm0", c.address, c.port);
        testing::internal::CaptureStdout();
        ECM_Master_Socket master(CONFIG, false, 0, 20);
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(master.view_system_state(), SYSTEM_SETUP_FAILED) << c.name;
        EXPECT_NE(log.find(c.error), std::string::npos) << c.name << "\n" << log;
        EXPECT_EQ(shm_facts(ecm_shm::PDO_NAME).size >= 0, c.memories) << c.name;
    }
}
