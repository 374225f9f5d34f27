// busmaster as a child process: its command line, its set-up and its end,
// the memories it leaves for its clients, the command protocol and the form
// of its log lines.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "system_config.h"
#include "xelo_client_socket_udp.h"
#include "xelo_ethercat_system_types.h"

namespace {
const std::string CONFIG = "/tmp/ecm_system_cfg.xml";
const std::string LOG = "/tmp/busmaster.log";

// busmaster as a child of the test, its output in LOG.
class Busmaster : public Child_Process {
public:
    explicit Busmaster(const std::vector<std::string>& arguments) : Child_Process(BUSMASTER_BINARY, arguments, LOG) {}

    // Ready when its command server has bound the protocol's port.
    [[nodiscard]] bool wait_serving() const
    {
        return wait_ready(probe::udp_port(ecm_protocol::PORT), std::chrono::seconds(10)) == Readiness::READY;
    }
    // The log as written, colours included.
    std::string raw_log() const { return read_file(log_path()); }
};
const std::string DEFAULT_CONFIG = "/usr/local/etc/busmaster/ecm_system_cfg.xml";

const char* const HELP[] = {
    "\t XELO EtherCAT Master Help ",
    "\t <-- Option not necessary -->",
    "\t\t --config_file [c] filename : configuration file [ default = /usr/local/etc/busmaster/ecm_system_cfg.xml ]",
    "\t\t --soft_realtime_enable [s] maxjittercycle: [ default = 0 / OFF ]",
    "\t\t --max_consecutive_frame_faults [f] max_consecutive_frame_faults: [ default = 20 ]",
    "\t\t --gap_minimo_ns [g] gap_minimo_ns: [ default = 100000 ]",
    "\t\t --help [h] : print this help ",
};

bool has_help(const std::string& log)
{
    std::size_t at = 0;
    for (const char* line : HELP) {
        at = log.find(std::string(line) + "\n", at);
        if (at == std::string::npos)
            return false;
    }
    return true;
}

bool contains(const std::string& haystack, const std::string& text)
{
    return haystack.find(text) != std::string::npos;
}

// One request to the command server and its reply; "<none>" when none came.
std::string ask(const std::string& request)
{
    ClientSocket_Udp_ex client(ecm_protocol::CLIENT_ADDRESS, ecm_protocol::PORT, true, 0, 500000);
    client << request;
    std::string reply;
    try {
        client >> reply;
    } catch (const std::runtime_error&) {
        return "<none>";
    }
    return reply;
}

// Scheduling policy and priority of the thread named name, from /proc.
struct Thread_Scheduling {
    bool found = false;
    int policy = -1;
    int priority = -1;
};
Thread_Scheduling scheduling_of_thread(int pid, const std::string& name)
{
    Thread_Scheduling result;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr)
        return result;
    while (dirent* entry = readdir(dir)) {
        const std::string task = tasks + "/" + entry->d_name;
        std::ifstream comm(task + "/comm");
        std::string comm_name;
        std::getline(comm, comm_name);
        if (comm_name != name.substr(0, 15))  // the kernel keeps 15 characters
            continue;
        std::ifstream stat_file(task + "/stat");
        std::string stat_text;
        std::getline(stat_file, stat_text);
        std::istringstream fields(stat_text.substr(stat_text.rfind(')') + 2));
        std::vector<std::string> words;
        for (std::string word; fields >> word;)
            words.push_back(word);
        // Fields 40 (rt_priority) and 41 (policy), counted from field 3 here.
        if (words.size() > 38) {
            result.found = true;
            result.priority = std::stoi(words[37]);
            result.policy = std::stoi(words[38]);
        }
    }
    closedir(dir);
    return result;
}

class ServingBusmaster : public ::testing::Test {
protected:
    void SetUp() override
    {
        write_system_config(CONFIG, "ecm0", "127.0.0.1", "500");
        ASSERT_TRUE(m_master.wait_serving()) << m_master.log();
    }
    void TearDown() override
    {
        // It runs until it is killed.
        EXPECT_EQ(m_master.stop(), 128 + SIGTERM) << m_master.log();
    }

    Busmaster m_master{{"-c", CONFIG}};
};
}  // namespace

TEST(BusmasterCommandLine, RefusedOptionsPrintTheHelpAndEndWithoutStarting)
{
    const std::vector<std::vector<std::string>> command_lines = {
        {"-f", "10"}, {"-h"}, {"--no_such_option"}, {"-c"}, {"-x", "-c", CONFIG},
    };
    for (const auto& arguments : command_lines) {
        Busmaster master(arguments);
        EXPECT_EQ(master.wait_exit(), 0) << arguments[0];
        const std::string log = master.log();
        EXPECT_TRUE(has_help(log)) << arguments[0] << "\n" << log;
        EXPECT_TRUE(contains(log, "ERR:] Option not recognized!\n")) << arguments[0] << "\n" << log;
        EXPECT_TRUE(contains(log, "INF:] Main: END.\n")) << arguments[0];
        EXPECT_FALSE(contains(log, "ManagerSocketStart")) << arguments[0];
    }
}

TEST(BusmasterCommandLine, HelpPrintsTheHelpAndExitsAtOnce)
{
    Busmaster master({"--help", "-c", CONFIG});
    EXPECT_EQ(master.wait_exit(), 0);
    const std::string log = master.log();
    EXPECT_TRUE(has_help(log)) << log;
    EXPECT_FALSE(contains(log, "Main: END."));
    EXPECT_FALSE(contains(log, "Arg -> Config file"));
}

TEST(BusmasterCommandLine, AcceptedOptionsAreEchoedAsWarnings)
{
    // The configuration does not exist, so each run ends after its set-up.
    const struct {
        std::vector<std::string> arguments;
        const char* echo;
    } cases[] = {
        {{"--max_consecutive_frame_faults", "10"}, "WAR:] Arg -> max_consecutive_frame_faults [--: 10]\n"},
        {{"-s", "0"}, "WAR:] Arg -> Soft Realtime On [cycles: 0]\n"},
        {{"--soft_realtime_enable", "-1"}, "WAR:] Arg -> Soft Realtime On [cycles: 4294967295]\n"},
        {{"-g", "abc"}, "WAR:] Arg -> min_gap_frame_ns [--: 0]\n"},
        {{"--gap_minimo_ns", "250000"}, "WAR:] Arg -> min_gap_frame_ns [--: 250000]\n"},
        {{"-c", "/tmp/other.xml"}, "WAR:] Arg -> Config file: /tmp/other.xml\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        if (arguments[0] != "-c") {
            arguments.push_back("-c");
            arguments.push_back("/tmp/missing.xml");
        }
        Busmaster master(arguments);
        EXPECT_EQ(master.wait_exit(), 0) << c.echo;
        EXPECT_TRUE(contains(master.log(), c.echo)) << master.log();
    }
}

TEST(BusmasterCommandLine, WithoutOptionsTheDefaultConfigurationIsUsed)
{
    Busmaster master({});
    EXPECT_EQ(master.wait_exit(), 0);
    const std::string log = master.log();
    EXPECT_TRUE(contains(log, "INF:] XELO EtherCAT master use :\n")) << log;
    EXPECT_TRUE(contains(log, "INF:] " + DEFAULT_CONFIG + "\n")) << log;
    EXPECT_FALSE(contains(log, "Arg ->"));
}

TEST(BusmasterSetUp, UnreadableSystemConfigurationEndsTheProgramWithStatusZero)
{
    std::ofstream(CONFIG) << "<EcmSystem><SystemConfig>";  // not well formed
    const struct {
        std::string path;
        std::string error;
    } cases[] = {
        {CONFIG, "ERR:] ECM_Master_Socket error on constructor: Could not parse file : " + CONFIG},
        {"/tmp/missing.xml", "ERR:] ECM_Master_Socket error on constructor: Could not parse file : /tmp/missing.xml"},
    };
    for (const auto& c : cases) {
        Busmaster master({"-c", c.path});
        EXPECT_EQ(master.wait_exit(), 0);
        const std::string log = master.log();
        const std::size_t error = log.find(c.error);
        const std::size_t problem = log.find("ERR:] XELO EtherCAT master: end with problem \n");
        const std::size_t end = log.find("INF:] Main: END.\n");
        EXPECT_NE(error, std::string::npos) << log;
        EXPECT_NE(problem, std::string::npos) << log;
        EXPECT_NE(end, std::string::npos) << log;
        EXPECT_TRUE(error < problem && problem < end) << log;
        EXPECT_EQ(shm_open(ecm_shm::PDO_NAME, O_RDONLY, 0), -1);
    }
}

TEST(BusmasterSetUp, BadCommandServerAddressEndsTheProgramWithBindError)
{
    write_system_config(CONFIG, "ecm0", "0.0.0.0.1", "500");
    Busmaster master({"-c", CONFIG});
    EXPECT_EQ(master.wait_exit(), 0);
    const std::string log = master.log();
    EXPECT_TRUE(contains(log, "ERR:] ECM_Master_Socket error on constructor:  bind error \n")) << log;
    EXPECT_TRUE(contains(log, "ERR:] XELO EtherCAT master: end with problem \n")) << log;
}

TEST_F(ServingBusmaster, StartsBannerFirstAndLeavesItsThreeMemoriesOwnerOnly)
{
    const std::string log = m_master.log();
    EXPECT_EQ(log.find("["), 0u);
    EXPECT_TRUE(contains(log, "INF:] XELO EtherCAT Master Version: 0.32.2\n")) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("INF:\\] build date&time: [A-Z][a-z]{2} [ 0-9]{2} [0-9]{4} "
                                                  "[0-9]{2}:[0-9]{2}:[0-9]{2}\n")))
        << log;
    const struct {
        const char* name;
        off_t size;
    } memories[] = {
        {ecm_shm::PDO_NAME, static_cast<off_t>(sizeof(Shared_Pdo_Mem_Region))},
        {ecm_shm::INFO_NAME, static_cast<off_t>(sizeof(Shared_Slave_Info_Mem_Region))},
        {ecm_shm::TICK_NAME, static_cast<off_t>(sizeof(Shared_Tick_Mem_Region))},
    };
    for (const auto& memory : memories) {
        const int fd = shm_open(memory.name, O_RDWR, 0);
        ASSERT_GE(fd, 0) << memory.name;
        struct stat st {};
        fstat(fd, &st);
        close(fd);
        EXPECT_EQ(st.st_size, memory.size) << memory.name;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << memory.name;
    }
}

TEST_F(ServingBusmaster, SocketThreadIsNamedAndRunsFifoFiftyFive)
{
    const Thread_Scheduling thread = scheduling_of_thread(m_master.pid(), "xelo_ecat_socket");
    ASSERT_TRUE(thread.found);
    EXPECT_EQ(thread.policy, SCHED_FIFO);
    EXPECT_EQ(thread.priority, 55);
}

TEST_F(ServingBusmaster, AnswersFramedRequestsAndSurvivesAnUnknownWord)
{
    EXPECT_EQ(ask("12#get_system_version"), "12#32");
    EXPECT_EQ(ask("13#get_system_state"), "13#2");
    EXPECT_EQ(ask("get_system_version"), "0#32");
    EXPECT_EQ(ask("14#no_such_command"), "14#reply_error");
    EXPECT_TRUE(
        m_master.wait_for_log("Request not found in EtherCAT Master Socket API! [ no_such_command -> reply_error",
                              std::chrono::seconds(5)))
        << m_master.log();
    EXPECT_EQ(ask("15#get_system_version"), "15#32");
    EXPECT_EQ(ask("16#get_master_time_info"), "16#reply_error");  // not in OP: refused, the connection goes on
    EXPECT_EQ(ask("17#get_system_version"), "17#32");
    EXPECT_EQ(ask("18#close_connection"), "18#reply_error");
    EXPECT_EQ(ask("19#get_system_state"), "19#2");
}

TEST_F(ServingBusmaster, EveryLogLineHasTheCalendarTimeForm)
{
    ask("1#no_such_command");                             // a WAR line
    ask("3#start_ethercat_master /tmp/missing_eni.xml");  // ERR lines
    ASSERT_TRUE(m_master.wait_for_log("Error on start_ec_master", std::chrono::seconds(5)));
    ask("2#get_system_version");
    const std::regex line_form(
        "\\[\x1b\\[3([23]m[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} "
        "(INF:\x1b\\[0m\\] [^\x1b]*|WAR:\x1b\\[0m\\] \x1b\\[33m.*\x1b\\[0m)|1m[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]{2} "
        "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4} ERR:\x1b\\[0m\\] \x1b\\[31m[^]*?\x1b\\[0m)\n");
    std::string rest = m_master.raw_log();
    int lines = 0;
    std::smatch match;
    while (!rest.empty()) {
        ASSERT_TRUE(std::regex_search(rest, match, line_form, std::regex_constants::match_continuous))
            << "line " << lines << ": " << rest.substr(0, rest.find('\n'));
        rest = match.suffix();
        ++lines;
    }
    EXPECT_GT(lines, 20);
}
