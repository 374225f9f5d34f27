#include "robot_sim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "robot_sim_wire.h"
#include "xelo_log.h"

namespace robot_sim {

namespace {
constexpr const char* SOURCE = "robotsim";
constexpr std::size_t MAX_NAMES_TEXT = 2048;
constexpr double MAX_FREQUENCY = 500.0;
constexpr int POLL_MS = 100;
constexpr uint32_t MAX_SCRIPT_STEPS = 1000000;

std::runtime_error os_error(const std::string& method, const std::string& call)
{
    return std::runtime_error("[Robot_Controller_Sim][" + method + "] " + call + ": " + std::strerror(errno));
}

int listen_on(const std::string& address, uint16_t port, uint16_t& bound)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw os_error("Robot_Controller_Sim", "socket");
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        ::close(fd);
        throw std::runtime_error("[Robot_Controller_Sim][Robot_Controller_Sim] not an IPv4 address: " + address);
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) < 0 || ::listen(fd, 16) < 0) {
        const std::runtime_error error =
            os_error("Robot_Controller_Sim", "bind " + address + ":" + std::to_string(port));
        ::close(fd);
        throw error;
    }
    socklen_t length = sizeof(sa);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
    bound = ntohs(sa.sin_port);
    return fd;
}

// Waits up to POLL_MS for fd to become readable.
bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, POLL_MS) > 0;
}

bool read_exact(int fd, uint8_t* buffer, std::size_t count)
{
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, buffer + got, count - got);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (n == 0 || errno != EINTR)
            return false;
    }
    return true;
}

std::vector<std::string> split_names(const std::string& text)
{
    std::vector<std::string> names;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = text.find(',', begin);
        names.push_back(text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin));
        if (comma == std::string::npos)
            break;
        begin = comma + 1;
    }
    if (names.back().empty())  // one trailing separator, or no name at all
        names.pop_back();
    return names;
}

std::string join(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i ? "," : "") + items[i];
    return text;
}

bool parse_number(const std::string& text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0;
}

bool parse_uint(const std::string& text, uint32_t& value)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || text[0] == '-' || *end != '\0' || errno != 0 || v > 0xFFFFFFFFULL)
        return false;
    value = static_cast<uint32_t>(v);
    return true;
}

std::string number_text(double value)
{
    char text[40];
    std::snprintf(text, sizeof(text), "%.17g", value);
    return text;
}

const auto START_TIME = std::chrono::steady_clock::now();
}  // namespace

struct Robot_Controller_Sim::Session {
    Session(int client_id, int socket_fd) : id(client_id), fd(socket_fd) {}
    ~Session()
    {
        if (reader_thread.joinable())
            reader_thread.join();
        if (streamer_thread.joinable())
            streamer_thread.join();
        ::close(fd);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const int id;
    const int fd;
    std::mutex write_mutex;  // one package at a time on the socket; never held with m_mutex
    // Under the simulator's m_mutex:
    std::condition_variable wake;
    bool ended = false;
    bool started = false;
    bool output_valid = false;
    double frequency = 125.0;
    std::vector<const Variable*> output;
    uint8_t output_recipe_id = 0;
    uint64_t generation = 0;  // changes when the stream's timing restarts
    std::vector<std::vector<const Variable*>> inputs;

    std::thread reader_thread;
    std::thread streamer_thread;
};

Robot_Controller_Sim::Robot_Controller_Sim(const Config& config)
    : m_config(config), m_log(config.log_traffic), m_version(config.controller_version)
{
    for (const Variable& variable : all_variables())
        if (variable.output)
            m_outputs[variable.name] = std::vector<double>(element_count(variable.type), 0.0);
    m_outputs["runtime_state"] = {1};       // stopped
    m_outputs["safety_status_bits"] = {1};  // normal
    m_outputs["robot_status_bits"] = {1};   // power on
    m_outputs["robot_mode"] = {7};          // running
    m_outputs["safety_mode"] = {1};         // normal
    m_outputs["speed_scaling"] = {1};
    m_outputs["target_speed_fraction"] = {1};
    if (!config.dump_path.empty()) {
        m_dump.open(config.dump_path, std::ios::trunc);
        if (!m_dump)
            throw std::runtime_error("[Robot_Controller_Sim][Robot_Controller_Sim] cannot write " + config.dump_path);
    }
    m_listen_fd = listen_on(config.address, config.port, m_port);
    if (config.control_port >= 0) {
        try {
            m_control_fd = listen_on("127.0.0.1", static_cast<uint16_t>(config.control_port), m_control_port);
        } catch (...) {
            ::close(m_listen_fd);
            throw;
        }
    }
    m_accept_thread = std::thread(&Robot_Controller_Sim::accept_loop, this);
    if (m_control_fd >= 0)
        m_control_thread = std::thread(&Robot_Controller_Sim::control_loop, this);
}

Robot_Controller_Sim::~Robot_Controller_Sim()
{
    m_stop = true;
    m_accept_thread.join();
    if (m_control_thread.joinable())
        m_control_thread.join();
    ::close(m_listen_fd);
    if (m_control_fd >= 0)
        ::close(m_control_fd);
    std::list<std::shared_ptr<Session>> all;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        all = m_sessions;
    }
    for (const auto& session : all)
        end_session(*session);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sessions.clear();
    }
    all.clear();  // the last owners: each session joins its threads here
}

std::size_t Robot_Controller_Sim::clients() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t count = 0;
    for (const auto& session : m_sessions)
        count += !session->ended;
    return count;
}

std::vector<std::shared_ptr<Robot_Controller_Sim::Session>> Robot_Controller_Sim::sessions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<Session>> live;
    for (const auto& session : m_sessions)
        if (!session->ended)
            live.push_back(session);
    return live;
}

void Robot_Controller_Sim::accept_loop()
{
    while (!m_stop) {
        reap();
        if (!readable(m_listen_fd))
            continue;
        const int fd = ::accept4(m_listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
                log_err(std::string("[robotsim] accept: ") + std::strerror(errno));
            continue;
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        std::lock_guard<std::mutex> lock(m_mutex);
        auto session = std::make_shared<Session>(m_next_client++, fd);
        m_sessions.push_back(session);
        session->reader_thread = std::thread(&Robot_Controller_Sim::reader, this, std::ref(*session));
        session->streamer_thread = std::thread(&Robot_Controller_Sim::streamer, this, std::ref(*session));
        if (m_log)
            log_inf("[robotsim] client " + std::to_string(session->id) + " connected");
    }
}

void Robot_Controller_Sim::reap()
{
    std::vector<std::shared_ptr<Session>> ended;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if ((*it)->ended) {
                ended.push_back(*it);
                it = m_sessions.erase(it);
            } else {
                ++it;
            }
        }
    }
    // destroyed here, outside the lock: they join their threads
}

void Robot_Controller_Sim::end_session(Session& session)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (session.ended)
        return;
    session.ended = true;
    for (auto it = m_input_holders.begin(); it != m_input_holders.end();)
        it = it->second == session.id ? m_input_holders.erase(it) : std::next(it);
    ::shutdown(session.fd, SHUT_RDWR);
    session.wake.notify_all();
    if (m_log)
        log_inf("[robotsim] client " + std::to_string(session.id) + " disconnected");
}

bool Robot_Controller_Sim::write(Session& session, const std::string& bytes)
{
    std::lock_guard<std::mutex> lock(session.write_mutex);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(session.fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    log_out(session.id, bytes);
    return true;
}

void Robot_Controller_Sim::log_out(int client, const std::string& bytes)
{
    if (m_log)
        log_inf("[robotsim] -> client " + std::to_string(client) + ": " + wire::hex(bytes));
}

void Robot_Controller_Sim::record_in(int client, const std::string& bytes)
{
    if (m_log)
        log_inf("[robotsim] <- client " + std::to_string(client) + ": " + wire::hex(bytes));
    std::lock_guard<std::mutex> lock(m_dump_mutex);
    if (m_dump.is_open()) {
        m_dump << client << ' ' << wire::hex(bytes) << std::endl;
    }
}

void Robot_Controller_Sim::reader(Session& session)
{
    std::vector<uint8_t> payload;
    for (;;) {
        uint8_t header[wire::HEADER_SIZE];
        if (!read_exact(session.fd, header, sizeof(header)))
            break;
        const std::size_t size = wire::get_uint(header, 2);
        if (size < wire::HEADER_SIZE) {
            write(session, wire::text_message("package size below 3: connection closed", SOURCE, wire::LEVEL_ERROR));
            break;
        }
        payload.resize(size - wire::HEADER_SIZE);
        if (!payload.empty() && !read_exact(session.fd, payload.data(), payload.size()))
            break;
        const std::string body(payload.begin(), payload.end());
        record_in(session.id, std::string(reinterpret_cast<const char*>(header), sizeof(header)) + body);
        std::vector<std::string> frames;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            frames = handle(session, header[2], body);
        }
        bool ok = true;
        for (const std::string& frame : frames)
            ok = ok && write(session, frame);
        if (!ok)
            break;
    }
    end_session(session);
}

std::vector<std::string> Robot_Controller_Sim::handle(Session& session, uint8_t type, const std::string& payload)
{
    std::vector<std::string> frames;
    std::string reply;
    const auto bytes = reinterpret_cast<const uint8_t*>(payload.data());
    switch (type) {
    case wire::REQUEST_PROTOCOL_VERSION: {
        const bool accepted = payload.size() == 2 && wire::get_uint(bytes, 2) == 2 && !m_refuse_version;
        reply = wire::package(type, std::string(1, accepted ? '\x01' : '\x00'));
        break;
    }
    case wire::GET_CONTROLLER_VERSION: {
        std::string body;
        for (uint32_t part : m_version)
            wire::put_uint(body, part, 4);
        reply = wire::package(type, body);
        break;
    }
    case wire::SETUP_OUTPUTS: reply = setup_outputs(session, payload, frames); break;
    case wire::SETUP_INPUTS: reply = setup_inputs(session, payload); break;
    case wire::START: {
        bool accepted = session.output_valid;
        if (accepted && m_refuse_starts > 0) {
            --m_refuse_starts;
            accepted = false;
        }
        if (accepted && !session.started) {
            session.started = true;
            ++session.generation;
            session.wake.notify_all();
        }
        reply = wire::package(type, std::string(1, accepted ? '\x01' : '\x00'));
        break;
    }
    case wire::PAUSE:
        session.started = false;
        session.wake.notify_all();
        reply = wire::package(type, std::string(1, '\x01'));
        break;
    case wire::DATA_PACKAGE: take_input(session, payload, frames); break;
    case wire::TEXT_MESSAGE: break;
    default:
        frames.push_back(wire::text_message("unknown package type " + std::to_string(type) + " ignored", SOURCE,
                                            wire::LEVEL_WARNING));
        break;
    }
    if (!reply.empty()) {
        if (!m_text_before_reply.empty()) {
            frames.push_back(wire::text_message(m_text_before_reply, SOURCE, wire::LEVEL_INFO));
            m_text_before_reply.clear();
        }
        frames.push_back(reply);
    }
    return frames;
}

std::string Robot_Controller_Sim::setup_outputs(Session& session, const std::string& payload,
                                                std::vector<std::string>& extra)
{
    session.output_valid = false;
    session.wake.notify_all();
    if (payload.size() < 8) {
        extra.push_back(wire::text_message("output setup without a frequency", SOURCE, wire::LEVEL_ERROR));
        return wire::package(wire::SETUP_OUTPUTS, std::string(1, '\0'));
    }
    const std::string names_text = payload.substr(8);
    if (names_text.size() > MAX_NAMES_TEXT) {
        extra.push_back(wire::text_message("output names longer than 2048 bytes", SOURCE, wire::LEVEL_ERROR));
        return wire::package(wire::SETUP_OUTPUTS, std::string(1, '\0'));
    }
    const double frequency = wire::get_double(reinterpret_cast<const uint8_t*>(payload.data()));
    std::vector<std::string> types;
    std::vector<const Variable*> recipe;
    bool found = true;
    for (const std::string& name : split_names(names_text)) {
        const Variable* variable = find_variable(name);
        if (variable == nullptr || !variable->output || m_unknown.count(name) != 0) {
            types.push_back("NOT_FOUND");
            found = false;
        } else {
            const auto retyped = m_retyped.find(name);
            types.push_back(retyped != m_retyped.end() ? retyped->second : type_name(variable->type));
            recipe.push_back(variable);
        }
    }
    const bool frequency_ok = frequency > 0.0 && frequency <= MAX_FREQUENCY;
    if (!frequency_ok)
        extra.push_back(wire::text_message("output frequency " + number_text(frequency) + " Hz outside (0, 500]",
                                           SOURCE, wire::LEVEL_ERROR));
    uint8_t id = 0;
    if (found && frequency_ok) {
        session.output = recipe;
        session.frequency = frequency;
        session.output_valid = true;
        session.output_recipe_id = static_cast<uint8_t>(session.output_recipe_id % 255 + 1);
        id = session.output_recipe_id;
        ++session.generation;
    }
    return wire::package(wire::SETUP_OUTPUTS, std::string(1, static_cast<char>(id)) + join(types));
}

std::string Robot_Controller_Sim::setup_inputs(Session& session, const std::string& payload)
{
    std::vector<std::string> types;
    std::vector<const Variable*> recipe;
    bool ok = payload.size() <= MAX_NAMES_TEXT;
    for (const std::string& name : split_names(payload)) {
        const Variable* variable = find_variable(name);
        const auto holder = m_input_holders.find(name);
        if (variable == nullptr || variable->output) {
            types.push_back("NOT_FOUND");
            ok = false;
        } else if (holder != m_input_holders.end() && holder->second != session.id) {
            types.push_back("IN_USE");
            ok = false;
        } else {
            types.push_back(type_name(variable->type));
            recipe.push_back(variable);
        }
    }
    uint8_t id = 0;
    if (ok && session.inputs.size() < 255) {
        for (const Variable* variable : recipe)
            m_input_holders[variable->name] = session.id;
        session.inputs.push_back(recipe);
        id = static_cast<uint8_t>(session.inputs.size());
    }
    return wire::package(wire::SETUP_INPUTS, std::string(1, static_cast<char>(id)) + join(types));
}

void Robot_Controller_Sim::take_input(Session& session, const std::string& payload, std::vector<std::string>& extra)
{
    const std::size_t id = payload.empty() ? 0 : static_cast<uint8_t>(payload[0]);
    if (id == 0 || id > session.inputs.size()) {
        extra.push_back(wire::text_message("data package with unknown input recipe id " + std::to_string(id), SOURCE,
                                           wire::LEVEL_WARNING));
        return;
    }
    const auto& recipe = session.inputs[id - 1];
    std::size_t needed = 1;
    for (const Variable* variable : recipe)
        needed += byte_width(variable->type);
    if (payload.size() != needed) {
        extra.push_back(wire::text_message("data package of " + std::to_string(payload.size()) +
                                               " bytes for input recipe " + std::to_string(id) + " of " +
                                               std::to_string(needed) + " bytes",
                                           SOURCE, wire::LEVEL_WARNING));
        return;
    }
    auto bytes = reinterpret_cast<const uint8_t*>(payload.data()) + 1;
    for (const Variable* variable : recipe) {
        m_inputs[variable->name] = wire::get_value(variable->type, bytes);
        bytes += byte_width(variable->type);
    }
}

std::string Robot_Controller_Sim::next_package(Session& session, std::size_t& stamp_at)
{
    if (m_script_step < m_script.size()) {
        const auto& step = m_script[m_script_step++];
        m_outputs["runtime_state"] = {static_cast<double>(step[0])};
        m_outputs["safety_status_bits"] = {static_cast<double>(step[1])};
        m_outputs["robot_status_bits"] = {static_cast<double>(step[2])};
    }
    if (!m_timestamp_set)
        m_outputs["timestamp"] = {std::chrono::duration<double>(std::chrono::steady_clock::now() - START_TIME).count()};
    return data_package(session, stamp_at);
}

std::string Robot_Controller_Sim::data_package(const Session& session, std::size_t& stamp_at)
{
    const std::string stamped =
        m_stamp_register >= 0 ? "output_double_register_" + std::to_string(m_stamp_register) : std::string();
    std::string payload(1, static_cast<char>(session.output_recipe_id));
    stamp_at = 0;
    for (const Variable* variable : session.output) {
        if (variable->name == stamped)
            stamp_at = wire::HEADER_SIZE + payload.size();
        wire::put_value(payload, variable->type, m_outputs.at(variable->name));
    }
    return wire::package(wire::DATA_PACKAGE, payload);
}

void Robot_Controller_Sim::streamer(Session& session)
{
    using clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    uint64_t generation = 0;
    bool timing = false;
    clock::time_point deadline;
    clock::duration period{};
    while (!session.ended && !m_stop) {
        if (!session.started || !session.output_valid) {
            timing = false;
            session.wake.wait(lock);
            continue;
        }
        if (!timing || session.generation != generation) {
            timing = true;
            generation = session.generation;
            period =
                std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / session.frequency));
            deadline = clock::now() + period;
        }
        if (session.wake.wait_until(lock, deadline) == std::cv_status::no_timeout)
            continue;  // woken: look at the state again, same deadline
        const clock::time_point now = clock::now();
        while (deadline + period <= now)  // late: the skipped packages are never sent
            deadline += period;
        deadline += period;
        if (m_hold)
            continue;
        std::size_t stamp_at = 0;
        std::string bytes = next_package(session, stamp_at);
        lock.unlock();
        bool ok = true;
        {
            std::lock_guard<std::mutex> write_lock(session.write_mutex);
            if (stamp_at != 0) {
                timespec ts{};
                clock_gettime(CLOCK_MONOTONIC, &ts);
                std::string stamp;
                wire::put_double(stamp, static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9);
                bytes.replace(stamp_at, 8, stamp);
            }
            std::size_t sent = 0;
            while (ok && sent < bytes.size()) {
                const ssize_t n = ::send(session.fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (n >= 0)
                    sent += static_cast<std::size_t>(n);
                else if (errno != EINTR)
                    ok = false;
            }
        }
        if (ok) {
            ++m_sent;
            log_out(session.id, bytes);
        } else {
            end_session(session);
        }
        lock.lock();
    }
}

void Robot_Controller_Sim::control_loop()
{
    while (!m_stop) {
        if (!readable(m_control_fd))
            continue;
        const int fd = ::accept4(m_control_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        serve_control(fd);
        ::close(fd);
    }
}

void Robot_Controller_Sim::serve_control(int fd)
{
    std::string buffer;
    while (!m_stop) {
        if (!readable(fd))
            continue;
        char chunk[512];
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n <= 0)
            return;
        buffer.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t end = buffer.find('\n'); end != std::string::npos; end = buffer.find('\n')) {
            std::string line = buffer.substr(0, end);
            buffer.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const std::string reply = command(line) + "\n";
            if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0)
                return;
        }
    }
}

// Choices an argument must be one of; an empty list takes any word.
struct Robot_Controller_Sim::Control_Command {
    const char* word;
    std::size_t least;  // arguments
    std::size_t most;
    std::vector<std::string> choices;  // for the first argument
    std::string (Robot_Controller_Sim::*run)(const Command_Call& call);
};

const Robot_Controller_Sim::Control_Command* Robot_Controller_Sim::find_command(const std::string& word,
                                                                                std::size_t argc,
                                                                                const std::string& first)
{
    using R = Robot_Controller_Sim;
    constexpr std::size_t ANY = ~std::size_t{0};
    static const Control_Command commands[] = {
        {"state", 3, 3, {}, &R::command_state},
        {"script", 1, ANY, {}, &R::command_script},
        {"set", 1, ANY, {}, &R::command_set},
        {"get", 1, 1, {}, &R::command_get},
        {"refuse_start", 1, 1, {}, &R::command_refuse_start},
        {"refuse_version", 1, 1, {"on", "off"}, &R::command_refuse_version},
        {"hold_input", 1, 1, {}, &R::command_hold_input},
        {"release_input", 1, 1, {}, &R::command_hold_input},
        {"unknown", 1, 1, {}, &R::command_unknown},
        {"retype", 2, 2, {}, &R::command_retype},
        {"hold", 0, 0, {}, &R::command_hold},
        {"resume", 0, 0, {}, &R::command_hold},
        {"text", 1, ANY, {}, &R::command_text},
        {"text_before_reply", 1, ANY, {}, &R::command_text_before_reply},
        {"close", 1, 1, {"between", "inside"}, &R::command_close},
        {"send", 1, 1, {}, &R::command_send},
        {"stamp", 1, 1, {}, &R::command_stamp},
        {"dump", 1, 1, {}, &R::command_dump},
        {"log", 1, 1, {"on", "off"}, &R::command_log},
        {"version", 4, 4, {}, &R::command_version},
        {"count", 0, 0, {}, &R::command_count},
        {"clients", 0, 0, {}, &R::command_clients},
    };
    for (const Control_Command& command : commands) {
        if (word != command.word || argc < command.least || argc > command.most)
            continue;
        const auto& choices = command.choices;
        if (choices.empty() || std::find(choices.begin(), choices.end(), first) != choices.end())
            return &command;
    }
    return nullptr;
}

std::string Robot_Controller_Sim::command(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    if (words.empty())
        return "ERR empty command";
    const std::string& verb = words[0];
    const std::size_t argc = words.size() - 1;
    const Control_Command* found = find_command(verb, argc, argc > 0 ? words[1] : std::string());
    if (found == nullptr)
        return "ERR unknown command or arguments: " + line;
    const std::size_t at = line.find(verb) + verb.size();
    const std::size_t begin = line.find_first_not_of(' ', at);
    const std::string rest = begin == std::string::npos ? std::string() : line.substr(begin);
    return (this->*found->run)(Command_Call{words, rest});
}

std::string Robot_Controller_Sim::command_state(const Command_Call& call)
{
    const std::vector<std::string>& words = call.words;
    uint32_t v[3];
    for (int i = 0; i < 3; ++i)
        if (!parse_uint(words[i + 1], v[i]))
            return "ERR not an unsigned number: " + words[i + 1];
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script.clear();
    m_script_step = 0;
    m_outputs["runtime_state"] = {static_cast<double>(v[0])};
    m_outputs["safety_status_bits"] = {static_cast<double>(v[1])};
    m_outputs["robot_status_bits"] = {static_cast<double>(v[2])};
    return "OK";
}

namespace {

// One script step "RS,SS,RB" or "RS,SS,RB*N" appended N times; false when it
// is malformed or the script would grow past MAX_SCRIPT_STEPS.
bool append_step(const std::string& text, std::vector<std::array<uint32_t, 3>>& steps)
{
    const std::size_t star = text.find('*');
    uint32_t repeat = 1;
    if (star != std::string::npos &&
        (!parse_uint(text.substr(star + 1), repeat) || repeat == 0 || repeat > MAX_SCRIPT_STEPS))
        return false;
    std::array<uint32_t, 3> step{};
    std::istringstream parts(text.substr(0, star));
    std::string part;
    std::size_t k = 0;
    while (std::getline(parts, part, ',')) {
        if (k >= 3 || !parse_uint(part, step[k]))
            return false;
        ++k;
    }
    if (k != 3 || steps.size() + repeat > MAX_SCRIPT_STEPS)
        return false;
    steps.insert(steps.end(), repeat, step);
    return true;
}

}  // namespace

std::string Robot_Controller_Sim::command_script(const Command_Call& call)
{
    const std::vector<std::string>& words = call.words;
    std::vector<std::array<uint32_t, 3>> steps;
    for (std::size_t i = 1; i < words.size(); ++i)
        if (!append_step(words[i], steps))
            return "ERR bad step " + words[i] + " (RS,SS,RB or RS,SS,RB*PACKAGES)";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script = steps;
    m_script_step = 0;
    return "OK";
}

std::string Robot_Controller_Sim::command_set(const Command_Call& call)
{
    const std::vector<std::string>& words = call.words;
    const Variable* variable = find_variable(words[1]);
    if (variable == nullptr || !variable->output)
        return "ERR no output variable " + words[1];
    if (words.size() - 2 != element_count(variable->type))
        return "ERR " + words[1] + " takes " + std::to_string(element_count(variable->type)) + " values";
    std::vector<double> values;
    for (std::size_t i = 2; i < words.size(); ++i) {
        double v = 0;
        if (!parse_number(words[i], v))
            return "ERR not a number: " + words[i];
        values.push_back(v);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outputs[variable->name] = values;
    if (variable->name == "timestamp")
        m_timestamp_set = true;
    return "OK";
}

std::string Robot_Controller_Sim::command_get(const Command_Call& call)
{
    const std::string& name = call.words[1];
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto* map = &m_outputs;
    auto it = m_outputs.find(name);
    if (it == m_outputs.end()) {
        map = &m_inputs;
        it = m_inputs.find(name);
    }
    if (it == map->end())
        return "ERR no value of " + name;
    std::string reply = "OK";
    for (double v : it->second)
        reply += " " + number_text(v);
    return reply;
}

std::string Robot_Controller_Sim::command_refuse_start(const Command_Call& call)
{
    uint32_t n = 0;
    if (!parse_uint(call.words[1], n))
        return "ERR not a count: " + call.words[1];
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuse_starts = static_cast<int>(n);
    return "OK";
}

std::string Robot_Controller_Sim::command_refuse_version(const Command_Call& call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuse_version = call.words[1] == "on";
    return "OK";
}

std::string Robot_Controller_Sim::command_hold_input(const Command_Call& call)
{
    const std::string& name = call.words[1];
    const Variable* variable = find_variable(name);
    if (variable == nullptr || variable->output)
        return "ERR no input variable " + name;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (call.words[0] == "hold_input") {
        if (m_input_holders.count(name) != 0 && m_input_holders[name] != 0)
            return "ERR " + name + " is held by client " + std::to_string(m_input_holders[name]);
        m_input_holders[name] = 0;
    } else if (m_input_holders.count(name) != 0 && m_input_holders[name] == 0) {
        m_input_holders.erase(name);
    }
    return "OK";
}

std::string Robot_Controller_Sim::command_unknown(const Command_Call& call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unknown.insert(call.words[1]);
    return "OK";
}

std::string Robot_Controller_Sim::command_retype(const Command_Call& call)
{
    const std::vector<std::string>& words = call.words;
    const Variable* variable = find_variable(words[1]);
    if (variable == nullptr || !variable->output)
        return "ERR no output variable " + words[1];
    std::lock_guard<std::mutex> lock(m_mutex);
    m_retyped[words[1]] = words[2];
    return "OK";
}

std::string Robot_Controller_Sim::command_hold(const Command_Call& call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hold = call.words[0] == "hold";
    return "OK";
}

std::string Robot_Controller_Sim::command_text(const Command_Call& call)
{
    const std::string message = wire::text_message(call.rest, SOURCE, wire::LEVEL_INFO);
    for (const auto& session : sessions())
        if (!write(*session, message))
            end_session(*session);
    return "OK";
}

std::string Robot_Controller_Sim::command_text_before_reply(const Command_Call& call)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_text_before_reply = call.rest;
    return "OK";
}

std::string Robot_Controller_Sim::command_close(const Command_Call& call)
{
    for (const auto& session : sessions()) {
        std::string half;
        if (call.words[1] == "inside") {
            std::size_t unused = 0;
            std::lock_guard<std::mutex> lock(m_mutex);
            const std::string bytes = data_package(*session, unused);
            half = bytes.substr(0, wire::HEADER_SIZE + (bytes.size() - wire::HEADER_SIZE) / 2);
            if (half.size() == bytes.size())  // an empty recipe: claim more than is sent
                half = wire::package(wire::DATA_PACKAGE, std::string(8, '\0')).substr(0, 6);
        }
        {
            std::lock_guard<std::mutex> write_lock(session->write_mutex);
            if (!half.empty())
                ::send(session->fd, half.data(), half.size(), MSG_NOSIGNAL);
            ::shutdown(session->fd, SHUT_RDWR);
        }
        end_session(*session);
    }
    return "OK";
}

std::string Robot_Controller_Sim::faulty_package(const Session& session, const std::string& kind)
{
    if (kind == "tiny")
        return std::string("\x00\x02", 2) + static_cast<char>(wire::DATA_PACKAGE);
    if (kind == "unknown")
        return wire::package('X', std::string("\x01\x02\x03\x04", 4));
    std::lock_guard<std::mutex> lock(m_mutex);
    if (kind == "short")
        return wire::package(wire::DATA_PACKAGE,
                             std::string(1, static_cast<char>(session.output_recipe_id)) + std::string(4, '\0'));
    std::size_t unused = 0;
    std::string bytes = data_package(session, unused);
    if (kind == "oversized")
        return wire::package(wire::DATA_PACKAGE, bytes.substr(wire::HEADER_SIZE) + std::string(8, '\x5A'));
    bytes[wire::HEADER_SIZE] = static_cast<char>(session.output_recipe_id % 255 + 1);  // foreign
    return bytes;
}

std::string Robot_Controller_Sim::command_send(const Command_Call& call)
{
    const std::string& kind = call.words[1];
    if (kind != "short" && kind != "tiny" && kind != "oversized" && kind != "unknown" && kind != "foreign")
        return "ERR send short|tiny|oversized|unknown|foreign";
    for (const auto& session : sessions())
        if (!write(*session, faulty_package(*session, kind)))
            end_session(*session);
    return "OK";
}

std::string Robot_Controller_Sim::command_stamp(const Command_Call& call)
{
    const std::string& setting = call.words[1];
    uint32_t n = 0;
    if (setting != "off" && (!parse_uint(setting, n) || n > 47))
        return "ERR stamp N (0..47) | off";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stamp_register = setting == "off" ? -1 : static_cast<int>(n);
    return "OK";
}

std::string Robot_Controller_Sim::command_dump(const Command_Call& call)
{
    const std::string& path = call.words[1];
    std::lock_guard<std::mutex> lock(m_dump_mutex);
    if (m_dump.is_open())
        m_dump.close();
    if (path != "off") {
        m_dump.open(path, std::ios::trunc);
        if (!m_dump)
            return "ERR cannot write " + path;
    }
    return "OK";
}

std::string Robot_Controller_Sim::command_log(const Command_Call& call)
{
    m_log = call.words[1] == "on";
    return "OK";
}

std::string Robot_Controller_Sim::command_version(const Command_Call& call)
{
    const std::vector<std::string>& words = call.words;
    std::array<uint32_t, 4> v{};
    for (int i = 0; i < 4; ++i)
        if (!parse_uint(words[i + 1], v[i]))
            return "ERR not an unsigned number: " + words[i + 1];
    std::lock_guard<std::mutex> lock(m_mutex);
    m_version = v;
    return "OK";
}

std::string Robot_Controller_Sim::command_count(const Command_Call&)
{
    return "OK " + std::to_string(m_sent.load());
}

std::string Robot_Controller_Sim::command_clients(const Command_Call&)
{
    return "OK " + std::to_string(clients());
}

}  // namespace robot_sim
