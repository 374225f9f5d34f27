#include "axes_cell.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {
const std::string CONTROL = "/tmp/drivesim.ctl";
constexpr auto START = std::chrono::seconds(30);

// The calling thread at a real-time priority for the scope's time, as a
// client that must see every cycle runs: a state held one cycle is then not
// missed on a loaded machine.
class Real_Time_Scope {
public:
    Real_Time_Scope()
    {
        pthread_getschedparam(pthread_self(), &m_policy, &m_old);
        sched_param raised{};
        raised.sched_priority = 30;
        m_raised = pthread_setschedparam(pthread_self(), SCHED_FIFO, &raised) == 0;
    }
    ~Real_Time_Scope()
    {
        if (m_raised)
            pthread_setschedparam(pthread_self(), m_policy, &m_old);
    }
    Real_Time_Scope(const Real_Time_Scope&) = delete;
    Real_Time_Scope& operator=(const Real_Time_Scope&) = delete;

private:
    int m_policy = SCHED_OTHER;
    sched_param m_old{};
    bool m_raised = false;
};
}  // namespace

std::string example_descriptor(const std::string& name)
{
    return read_file(std::string(EXAMPLES_DIR) + "/" + name + ".xml");
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from);
    if (at == std::string::npos)
        throw std::invalid_argument("not in the text: " + from);
    for (; at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

Axes_Cell::Axes_Cell(const Options& options) : descriptor_path("/tmp/axes_descriptor.xml")
{
    write_file(descriptor_path, options.descriptor);
    m_rtframe = std::make_unique<Rtframe_Child>(offline_server_arguments(descriptor_path));
    m_rtframe->wait_ready_ex();
    if (!options.drives.empty()) {
        std::vector<std::string> arguments{"-c", descriptor_path, "--control", CONTROL};
        for (const std::string& d : options.drives) {
            arguments.push_back("--drive");
            arguments.push_back(d);
        }
        m_drivesim = std::make_unique<Child_Process>(DRIVESIM_BINARY, arguments, "/tmp/drivesim.log");
        m_drivesim->wait_ready_ex(probe::log_line(*m_drivesim, "[drivesim] running"), START);
    }
    if (options.start_axmand) {
        m_axmand = std::make_unique<Child_Process>(AXMAND_BINARY, options.axmand_arguments, "/tmp/axmand.log");
        if (options.wait_axmand_threads)
            m_axmand->wait_ready_ex(probe::log_line(*m_axmand, "[axes manager] init cyclic thread --> done"), START);
    }
    if (options.attach_client)
        m_client = std::make_unique<Axes_Client>(options.manager);
}

Axes_Cell::~Axes_Cell()
{
    m_client.reset();
    m_axmand.reset();
    m_drivesim.reset();
    m_rtframe.reset();
}

std::unique_ptr<Child_Process> Axes_Cell::start_axmand(const std::vector<std::string>& arguments, int n) const
{
    return std::make_unique<Child_Process>(AXMAND_BINARY, arguments, "/tmp/axmand_" + std::to_string(n) + ".log");
}

void Axes_Cell::drive(const std::string& command)
{
    const std::string word = command.substr(0, command.find(' '));
    const bool query = word == "state" || word == "history" || word == "object";
    const std::string done = "[drivesim] done :: " + command;
    const int before = count_of(m_drivesim->log(), done);
    const int fd = open(CONTROL.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd == -1)
        throw std::runtime_error("cannot open " + CONTROL);
    const std::string line = command + "\n";
    const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    if (!written)
        throw std::runtime_error("cannot write " + CONTROL);
    if (!query && !m_drivesim->wait_for_log(done, std::chrono::seconds(5), before + 1))
        throw std::runtime_error("drivesim did not take: " + command + "\n" + m_drivesim->log());
}

std::string Axes_Cell::drive_state(int slave)
{
    const std::string head = "[drivesim] slave " + std::to_string(slave) + " ";
    const int before = count_of(m_drivesim->log(), " pos ");
    drive("state " + std::to_string(slave));
    if (!m_drivesim->wait_for_log(" pos ", std::chrono::seconds(5), before + 1))
        throw std::runtime_error("drivesim did not answer state");
    const std::string log = m_drivesim->log();
    const size_t at = log.rfind(head);
    const size_t end = log.find('\n', at);
    return log.substr(at + head.size(), end - at - head.size());
}

std::string Axes_Cell::drive_history(int slave)
{
    const int before = count_of(m_drivesim->log(), "cw history");
    drive("history " + std::to_string(slave));
    if (!m_drivesim->wait_for_log("cw history", std::chrono::seconds(5), before + 1))
        throw std::runtime_error("drivesim did not answer history");
    const std::string log = m_drivesim->log();
    const size_t at = log.rfind("cw history");
    const size_t end = log.find('\n', at);
    return log.substr(at + 11, end - at - 11);
}

std::vector<std::string> Axes_Cell::axis_states(int axis, const std::string& after)
{
    std::string log = m_axmand->log();
    if (!after.empty()) {
        const size_t at = log.find(after);
        log = at == std::string::npos ? "" : log.substr(at);
    }
    const std::regex line("\\[axis descriptor\\] ax :: " + std::to_string(axis) + " main machine state :: ([A-Z_]+)\n");
    std::vector<std::string> states;
    for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it)
        states.push_back((*it)[1]);
    return states;
}

bool Axes_Cell::wait_manager_state(int8_t state, std::chrono::milliseconds limit)
{
    return m_client->refresh_until([&] { return m_client->snapshot().manager_state == state; }, limit);
}

bool Axes_Cell::wait_axis_state(int axis, int8_t state, std::chrono::milliseconds limit)
{
    return m_client->refresh_until([&] { return m_client->axis_state(axis) == state; }, limit);
}

std::vector<int> Axes_Cell::record_manager_states(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const Real_Time_Scope real_time;
    std::vector<int> states;
    (void)m_client->refresh_until(  // the caller judges what was seen
        [&] {
            const int state = m_client->snapshot().manager_state;
            if (states.empty() || states.back() != state)
                states.push_back(state);
            return done();
        },
        limit);
    return states;
}

void Axes_Cell::stop_all()
{
    m_client.reset();
    if (m_axmand) {
        EXPECT_EQ(m_axmand->stop(), 0) << m_axmand->log();
    }
    if (m_drivesim) {
        EXPECT_EQ(m_drivesim->stop(), 0) << m_drivesim->log();
    }
    EXPECT_EQ(m_rtframe->stop(), 0);
}

void power_up(Axes_Cell& cell)
{
    ASSERT_EQ(cell.client().command(CMD_RESET), 1);
    ASSERT_TRUE(cell.wait_manager_state(OPERATIONAL));
}
