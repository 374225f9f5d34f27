#include "sim_server.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace ecat_sim {

int64_t monotonic_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

namespace {

// A gap between two turns of the frame thread longer than this is a stall.
constexpr int64_t STALL_NS = 20000000;

std::runtime_error os_error(const std::string& method, const std::string& call)
{
    return std::runtime_error("[Ecat_Simulator][" + method + "] " + call + ": " + std::strerror(errno));
}

class Command_Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

int64_t parse_number(const std::string& text)
{
    try {
        size_t used = 0;
        const long long value = std::stoll(text, &used, 0);
        if (used == text.size()) {
            return value;
        }
    } catch (const std::logic_error&) {
    }
    throw Command_Error("bad number " + text);
}

double parse_real(const std::string& text)
{
    try {
        size_t used = 0;
        const double value = std::stod(text, &used);
        if (used == text.size()) {
            return value;
        }
    } catch (const std::logic_error&) {
    }
    throw Command_Error("bad number " + text);
}

std::string hex_bytes(const uint8_t* data, size_t length)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", data[i]);
        text += byte;
    }
    return text;
}

uint8_t parse_state(const std::string& text)
{
    if (text == "INIT")
        return AL_INIT;
    if (text == "PREOP")
        return AL_PREOP;
    if (text == "BOOT")
        return AL_BOOT;
    if (text == "SAFEOP")
        return AL_SAFEOP;
    if (text == "OP")
        return AL_OP;
    return static_cast<uint8_t>(parse_number(text));
}

}  // namespace

Ecat_Simulator::Ecat_Simulator(const Segment_Config& config, const Sim_Options& options)
    : m_segment(config, options.seed), m_options(options)
{
    m_segment.log().set_enabled(options.log_datagrams, options.log_transitions);
    if (!options.log_path.empty()) {
        m_log_file = std::fopen(options.log_path.c_str(), "a");
        if (m_log_file == nullptr) {
            throw os_error("Ecat_Simulator", "fopen " + options.log_path);
        }
    }
    try {
        m_fd = socket(AF_PACKET, SOCK_RAW, htons(ETHERTYPE_ECAT));
        if (m_fd < 0) {
            throw os_error("Ecat_Simulator", "socket");
        }
        const unsigned index = if_nametoindex(options.interface.c_str());
        if (index == 0) {
            throw os_error("Ecat_Simulator", "if_nametoindex " + options.interface);
        }
        sockaddr_ll address{};
        address.sll_family = AF_PACKET;
        address.sll_protocol = htons(ETHERTYPE_ECAT);
        address.sll_ifindex = static_cast<int>(index);
        if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw os_error("Ecat_Simulator", "bind " + options.interface);
        }
        if (options.control) {
            m_control_port = options.control_port != 0  ? options.control_port
                             : config.control_port != 0 ? config.control_port
                                                        : DEFAULT_CONTROL_PORT;
            m_control_fd = socket(AF_INET, SOCK_DGRAM, 0);
            if (m_control_fd < 0) {
                throw os_error("Ecat_Simulator", "socket (control)");
            }
            sockaddr_in control{};
            control.sin_family = AF_INET;
            control.sin_port = htons(m_control_port);
            control.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(m_control_fd, reinterpret_cast<sockaddr*>(&control), sizeof control) != 0) {
                throw os_error("Ecat_Simulator", "bind control port " + std::to_string(m_control_port));
            }
        }
        m_frames = std::thread([this] { frame_thread(); });
        // The CPU first, then the priority: lowered below the spinning
        // creator on its old CPU, the thread would never get to move.
        if (options.cpu >= 0) {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(options.cpu, &set);
            if (const int error = pthread_setaffinity_np(m_frames.native_handle(), sizeof set, &set)) {
                errno = error;
                m_running = false;
                m_frames.join();
                throw os_error("Ecat_Simulator", "pthread_setaffinity_np");
            }
        }
        if (options.priority > 0) {
            sched_param parameter{};
            parameter.sched_priority = options.priority;
            if (const int error = pthread_setschedparam(m_frames.native_handle(), SCHED_FIFO, &parameter)) {
                errno = error;
                m_running = false;
                m_frames.join();
                throw os_error("Ecat_Simulator", "pthread_setschedparam");
            }
        }
        if (m_control_fd >= 0) {
            m_control = std::thread([this] { control_thread(); });
        }
        m_logger = std::thread([this] { logger_thread(); });
    } catch (...) {
        m_running = false;
        if (m_frames.joinable()) {
            m_frames.join();
        }
        if (m_fd >= 0) {
            close(m_fd);
        }
        if (m_control_fd >= 0) {
            close(m_control_fd);
        }
        if (m_log_file != nullptr) {
            std::fclose(m_log_file);
        }
        throw;
    }
}

Ecat_Simulator::~Ecat_Simulator()
{
    m_running = false;
    for (std::thread* thread : {&m_frames, &m_control, &m_logger}) {
        if (thread->joinable()) {
            thread->join();
        }
    }
    close(m_fd);
    if (m_control_fd >= 0) {
        close(m_control_fd);
    }
    if (m_log_file != nullptr) {
        std::fclose(m_log_file);
    }
}

bool Ecat_Simulator::drop_this_frame(const uint8_t* frame, size_t size)
{
    const int32_t only = m_drop_register.load();
    const bool chosen = only < 0 || (size > FIRST_ADO_OFFSET + 1 &&
                                     (frame[FIRST_ADO_OFFSET] | (frame[FIRST_ADO_OFFSET + 1] << 8)) == only);
    uint32_t next = m_drop_next.load();
    while (chosen && next > 0) {
        if (m_drop_next.compare_exchange_weak(next, next - 1)) {
            return true;
        }
    }
    const uint32_t per_million = m_drop_per_million.load();
    return per_million != 0 && m_random() % 1000000 < per_million;
}

void Ecat_Simulator::frame_thread()
{
    pthread_setname_np(pthread_self(), "ecatsim_frames");
    uint8_t frame[MAX_FRAME_SIZE + 64];
    int64_t last_housekeeping = 0;
    int64_t last_turn = monotonic_ns();
    pollfd waiting{m_fd, POLLIN, 0};
    while (m_running.load(std::memory_order_relaxed)) {
        if (!m_options.busy_poll) {
            poll(&waiting, 1, 1);
        }
        const ssize_t size = recv(m_fd, frame, sizeof frame, MSG_DONTWAIT);
        const int64_t now = monotonic_ns();
        // A turn takes at most about a millisecond; a longer gap is time this
        // thread did not run (a stop of the whole machine holds the master
        // too, and its frames come after), so the devices do not count it.
        if (now - last_turn > STALL_NS) {
            std::lock_guard<std::mutex> lock(m_segment.mutex());
            m_segment.skip_stall(now - last_turn);
        }
        last_turn = now;
        if (size > 0) {
            m_received.fetch_add(1, std::memory_order_relaxed);
            bool answer = false;
            {
                std::lock_guard<std::mutex> lock(m_segment.mutex());
                answer = m_segment.process(frame, static_cast<size_t>(size), now);
            }
            if (answer && drop_this_frame(frame, static_cast<size_t>(size))) {
                m_dropped.fetch_add(1, std::memory_order_relaxed);
                answer = false;
            }
            if (answer) {
                const uint32_t delay = m_delay_us.load(std::memory_order_relaxed);
                if (delay != 0) {
                    const int64_t until = now + static_cast<int64_t>(delay) * 1000;
                    while (monotonic_ns() < until) {
                    }
                }
                // Counted before the send, so that a master that has its reply
                // also finds it counted.
                m_answered.fetch_add(1, std::memory_order_relaxed);
                if (send(m_fd, frame, static_cast<size_t>(size), 0) != size) {
                    m_answered.fetch_sub(1, std::memory_order_relaxed);
                }
            }
        }
        if (now - last_housekeeping > 1000000) {
            last_housekeeping = now;
            std::lock_guard<std::mutex> lock(m_segment.mutex());
            m_segment.housekeeping(now);
        }
    }
}

void Ecat_Simulator::control_thread()
{
    pthread_setname_np(pthread_self(), "ecatsim_control");
    char buffer[2048];
    while (m_running.load()) {
        pollfd waiting{m_control_fd, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        sockaddr_in peer{};
        socklen_t peer_size = sizeof peer;
        const ssize_t size =
            recvfrom(m_control_fd, buffer, sizeof buffer - 1, 0, reinterpret_cast<sockaddr*>(&peer), &peer_size);
        if (size < 0) {
            continue;
        }
        std::string line(buffer, static_cast<size_t>(size));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        const std::string reply = execute(line);
        sendto(m_control_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer), peer_size);
    }
}

void Ecat_Simulator::logger_thread()
{
    pthread_setname_np(pthread_self(), "ecatsim_log");
    FILE* out = m_log_file != nullptr ? m_log_file : stdout;
    Log_Record record;
    while (true) {
        const bool running = m_running.load();
        bool any = false;
        while (m_segment.log().pop(record)) {
            std::fprintf(out, "%s\n", Sim_Log::format(record).c_str());
            any = true;
        }
        if (any) {
            std::fflush(out);
        }
        if (!running) {
            break;
        }
        timespec pause{0, 10000000};
        nanosleep(&pause, nullptr);
    }
}

namespace {

std::vector<std::string> split_words(const std::string& text)
{
    std::istringstream words(text);
    std::vector<std::string> w;
    std::string word;
    while (words >> word) {
        w.push_back(word);
    }
    return w;
}

void want(const std::vector<std::string>& w, size_t count)
{
    if (w.size() < count) {
        throw Command_Error(w[0] + " wants " + std::to_string(count - 1) + " arguments");
    }
}

}  // namespace

// Where a command runs: without the segment's lock, under it, or under it on
// the slave whose position is its first argument.
enum class Ecat_Simulator::Command_Scope { free, segment, slave };

struct Ecat_Simulator::Control_Command {
    const char* word;
    Command_Scope scope;
    size_t words;  // the least number of words, the command's own included
    std::string (Ecat_Simulator::*run)(const Command_Call& call);
};

const Ecat_Simulator::Control_Command* Ecat_Simulator::find_command(const std::string& word)
{
    using S = Command_Scope;
    using E = Ecat_Simulator;
    static const Control_Command commands[] = {
        {"drop", S::free, 2, &E::command_drop},
        {"drop_fraction", S::free, 2, &E::command_drop_fraction},
        {"delay", S::free, 2, &E::command_delay},
        {"log", S::free, 2, &E::command_log},
        {"stats", S::segment, 1, &E::command_stats},
        {"corrupt_wkc", S::segment, 2, &E::command_corrupt_wkc},
        {"phase", S::segment, 1, &E::command_phase},
        {"state", S::slave, 4, &E::command_state},
        {"refuse", S::slave, 4, &E::command_refuse},
        {"link", S::slave, 4, &E::command_link},
        {"sdo_abort", S::slave, 2, &E::command_sdo_abort},
        {"sdo_abort_clear", S::slave, 2, &E::command_sdo_abort_clear},
        {"emergency", S::slave, 3, &E::command_emergency},
        {"eeprom_busy", S::slave, 3, &E::command_eeprom_busy},
        {"eeprom_word", S::slave, 4, &E::command_eeprom_word},
        {"eeprom_nack", S::slave, 3, &E::command_eeprom_nack},
        {"clock_jump", S::slave, 3, &E::command_clock_jump},
        {"clock_drift", S::slave, 3, &E::command_clock_drift},
        {"error_counter", S::slave, 4, &E::command_error_counter},
        {"set", S::slave, 5, &E::command_set},
        {"get", S::slave, 4, &E::command_get},
        {"fault", S::slave, 3, &E::command_fault},
        {"warning", S::slave, 3, &E::command_warning},
        {"restart", S::slave, 2, &E::command_restart},
        {"read", S::slave, 4, &E::command_read},
        {"eeprom", S::slave, 4, &E::command_eeprom},
        {"outputs", S::slave, 2, &E::command_outputs},
        {"sdo_log", S::slave, 2, &E::command_sdo_log},
    };
    for (const Control_Command& command : commands) {
        if (word == command.word) {
            return &command;
        }
    }
    return nullptr;
}

std::string Ecat_Simulator::execute(const std::string& command)
{
    const std::vector<std::string> w = split_words(command);
    if (w.empty()) {
        return "ERR empty command";
    }
    try {
        const Control_Command* found = find_command(w[0]);
        if (found != nullptr && found->scope == Command_Scope::free) {
            want(w, found->words);
            return (this->*found->run)(Command_Call{w, nullptr, 0, 0});
        }
        std::lock_guard<std::mutex> lock(m_segment.mutex());
        const int64_t now = monotonic_ns();
        if (found != nullptr && found->scope == Command_Scope::segment) {
            want(w, found->words);
            return (this->*found->run)(Command_Call{w, nullptr, 0, now});
        }
        want(w, 2);
        const size_t position = slave_position(w[1]);
        if (found == nullptr) {
            throw Command_Error("unknown command " + w[0]);
        }
        want(w, found->words);
        return (this->*found->run)(Command_Call{w, &m_segment.slave(position), position, now});
    } catch (const std::exception& error) {
        return std::string("ERR ") + error.what();
    }
}

size_t Ecat_Simulator::slave_position(const std::string& text)
{
    const int64_t position = parse_number(text);
    if (position < 0 || static_cast<size_t>(position) >= m_segment.size()) {
        throw Command_Error("no slave at position " + text);
    }
    return static_cast<size_t>(position);
}

std::string Ecat_Simulator::command_drop(const Command_Call& call)
{
    const std::vector<std::string>& w = call.words;
    const int64_t only = w.size() > 2 ? static_cast<int64_t>(parse_number(w[2])) : -1;
    if (w.size() > 2 && (only < 0 || only > 0xFFFF)) {
        throw Command_Error("drop <n> [<register>]");
    }
    m_drop_next = 0;
    m_drop_register = static_cast<int32_t>(only);
    m_drop_next = static_cast<uint32_t>(parse_number(w[1]));
    return "OK";
}

std::string Ecat_Simulator::command_drop_fraction(const Command_Call& call)
{
    const double fraction = parse_real(call.words[1]);
    if (fraction < 0 || fraction > 1) {
        throw Command_Error("fraction must be 0..1");
    }
    m_drop_per_million = static_cast<uint32_t>(fraction * 1e6);
    return "OK";
}

std::string Ecat_Simulator::command_delay(const Command_Call& call)
{
    m_delay_us = static_cast<uint32_t>(parse_number(call.words[1]));
    return "OK";
}

std::string Ecat_Simulator::command_log(const Command_Call& call)
{
    const std::string& what = call.words[1];
    const bool all = what == "all";
    if (!all && what != "datagrams" && what != "transitions" && what != "off") {
        throw Command_Error("log datagrams|transitions|all|off");
    }
    m_segment.log().set_enabled(all || what == "datagrams", all || what == "transitions");
    return "OK";
}

std::string Ecat_Simulator::command_stats(const Command_Call&)
{
    return "OK received " + std::to_string(m_received.load()) + " answered " + std::to_string(m_answered.load()) +
           " dropped " + std::to_string(m_dropped.load()) + " invalid " + std::to_string(m_segment.invalid_frames()) +
           " log_lost " + std::to_string(m_segment.log().lost());
}

std::string Ecat_Simulator::command_corrupt_wkc(const Command_Call& call)
{
    m_segment.corrupt_working_counters(static_cast<uint32_t>(parse_number(call.words[1])));
    return "OK";
}

std::string Ecat_Simulator::command_phase(const Command_Call&)
{
    for (size_t i = 0; i < m_segment.size(); ++i) {
        if (m_segment.slave(i).has_dc()) {
            const Phase_Record& phase = m_segment.slave(i).phase();
            return "OK slave " + std::to_string(i) + " count " + std::to_string(phase.count) + " last " +
                   std::to_string(phase.last) + " min " + std::to_string(phase.min) + " max " +
                   std::to_string(phase.max);
        }
    }
    throw Command_Error("no slave with a distributed clock");
}

std::string Ecat_Simulator::command_state(const Command_Call& call)
{
    call.slave->force_state(parse_state(call.words[2]), static_cast<uint16_t>(parse_number(call.words[3])));
    return "OK";
}

std::string Ecat_Simulator::command_refuse(const Command_Call& call)
{
    call.slave->refuse(parse_state(call.words[2]), static_cast<uint16_t>(parse_number(call.words[3])));
    return "OK";
}

std::string Ecat_Simulator::command_link(const Command_Call& call)
{
    const std::vector<std::string>& w = call.words;
    if (w[3] != "up" && w[3] != "down") {
        throw Command_Error("link <pos> <port> up|down");
    }
    if (!m_segment.set_link(call.position, static_cast<int>(parse_number(w[2])), w[3] == "up")) {
        throw Command_Error("no link on that port");
    }
    return "OK";
}

std::string Ecat_Simulator::command_sdo_abort(const Command_Call& call)
{
    const std::vector<std::string>& w = call.words;
    if (call.slave->coe() == nullptr) {
        throw Command_Error("slave has no CoE");
    }
    want(w, 5);
    call.slave->coe()->abort_object(static_cast<uint16_t>(parse_number(w[2])),
                                    w[3] == "*" ? -1 : static_cast<int>(parse_number(w[3])),
                                    static_cast<uint32_t>(parse_number(w[4])));
    return "OK";
}

std::string Ecat_Simulator::command_sdo_abort_clear(const Command_Call& call)
{
    if (call.slave->coe() == nullptr) {
        throw Command_Error("slave has no CoE");
    }
    call.slave->coe()->clear_aborts();
    return "OK";
}

std::string Ecat_Simulator::command_emergency(const Command_Call& call)
{
    const std::vector<std::string>& w = call.words;
    Emergency emergency;
    emergency.code = static_cast<uint16_t>(parse_number(w[2]));
    if (w.size() > 3) {
        emergency.error_register = static_cast<uint8_t>(parse_number(w[3]));
    }
    for (size_t i = 4; i < w.size() && i < 9; ++i) {
        emergency.data[i - 4] = static_cast<uint8_t>(parse_number(w[i]));
    }
    if (!call.slave->send_emergency(emergency)) {
        throw Command_Error("slave has no CoE");
    }
    return "OK";
}

std::string Ecat_Simulator::command_eeprom_busy(const Command_Call& call)
{
    call.slave->set_eeprom_busy(call.now + parse_number(call.words[2]) * 1000);
    return "OK";
}

std::string Ecat_Simulator::command_eeprom_word(const Command_Call& call)
{
    const int64_t address = parse_number(call.words[2]);
    const int64_t value = parse_number(call.words[3]);
    if (address < 0 || static_cast<size_t>(address) >= SII_WORDS || value < 0 || value > 0xFFFF) {
        throw Command_Error("eeprom_word <pos> <word> <value 0..0xFFFF>");
    }
    call.slave->set_sii_word(static_cast<size_t>(address), static_cast<uint16_t>(value));
    return "OK";
}

std::string Ecat_Simulator::command_eeprom_nack(const Command_Call& call)
{
    call.slave->set_eeprom_nack(static_cast<int>(parse_number(call.words[2])));
    return "OK";
}

std::string Ecat_Simulator::command_clock_jump(const Command_Call& call)
{
    call.slave->clock_jump(parse_number(call.words[2]));
    return "OK";
}

std::string Ecat_Simulator::command_clock_drift(const Command_Call& call)
{
    call.slave->clock_drift(parse_real(call.words[2]), call.now);
    return "OK";
}

std::string Ecat_Simulator::command_error_counter(const Command_Call& call)
{
    if (!call.slave->set_error_counter(static_cast<uint16_t>(parse_number(call.words[2])),
                                       static_cast<uint8_t>(parse_number(call.words[3])))) {
        throw Command_Error("not an error counter");
    }
    return "OK";
}

Device& Ecat_Simulator::command_device(const Command_Call& call)
{
    if (call.slave->device() == nullptr) {
        throw Command_Error("slave has no device");
    }
    return *call.slave->device();
}

std::string Ecat_Simulator::command_set(const Command_Call& call)
{
    const std::vector<std::string>& w = call.words;
    Device& device = command_device(call);
    const uint16_t index = static_cast<uint16_t>(parse_number(w[2]));
    const uint8_t sub = static_cast<uint8_t>(parse_number(w[3]));
    if (!device.set_value(index, sub, parse_number(w[4]))) {
        throw Command_Error("no such object");
    }
    return "OK";
}

std::string Ecat_Simulator::command_get(const Command_Call& call)
{
    const std::vector<std::string>& w = call.words;
    Device& device = command_device(call);
    const uint16_t index = static_cast<uint16_t>(parse_number(w[2]));
    const uint8_t sub = static_cast<uint8_t>(parse_number(w[3]));
    int64_t value = 0;
    if (!device.get_value(index, sub, value)) {
        throw Command_Error("no such object");
    }
    return "OK " + std::to_string(value);
}

std::string Ecat_Simulator::command_fault(const Command_Call& call)
{
    Device* device = call.slave->device();
    if (device == nullptr || !device->inject_fault(static_cast<uint16_t>(parse_number(call.words[2])))) {
        throw Command_Error("device has no faults");
    }
    return "OK";
}

std::string Ecat_Simulator::command_warning(const Command_Call& call)
{
    const std::string& setting = call.words[2];
    if (setting != "on" && setting != "off") {
        throw Command_Error("warning <pos> on|off");
    }
    if (call.slave->device() == nullptr || !call.slave->device()->set_warning(setting == "on")) {
        throw Command_Error("device has no warning");
    }
    return "OK";
}

std::string Ecat_Simulator::command_restart(const Command_Call& call)
{
    call.slave->power_up(call.now);
    return "OK";
}

std::string Ecat_Simulator::command_read(const Command_Call& call)
{
    const int64_t address = parse_number(call.words[2]);
    const int64_t length = parse_number(call.words[3]);
    if (address < 0 || address > 0xFFFF || length < 1 || length > 1024) {
        throw Command_Error("address 0..0xFFFF, length 1..1024");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    call.slave->read_memory(static_cast<uint16_t>(address), bytes.data(), bytes.size(), call.now);
    return "OK " + hex_bytes(bytes.data(), bytes.size());
}

std::string Ecat_Simulator::command_eeprom(const Command_Call& call)
{
    const int64_t first_word = parse_number(call.words[2]);
    const int64_t count = parse_number(call.words[3]);
    if (first_word < 0 || count < 1 || static_cast<size_t>(first_word + count) > SII_WORDS) {
        throw Command_Error("words out of range");
    }
    std::string text = "OK";
    char item[8];
    for (int64_t i = 0; i < count; ++i) {
        std::snprintf(item, sizeof item, " %04X", call.slave->sii_word(static_cast<size_t>(first_word + i)));
        text += item;
    }
    return text;
}

std::string Ecat_Simulator::command_outputs(const Command_Call& call)
{
    Slave_Controller& slave = *call.slave;
    const Pdo_Layout& rx = slave.rx_layout();
    std::string text = "OK";
    for (size_t i = 0; i < rx.count; ++i) {
        int64_t value = 0;
        if (rx.entries[i].index != 0 && slave.device() != nullptr &&
            slave.device()->get_value(rx.entries[i].index, rx.entries[i].sub, value)) {
            char item[48];
            std::snprintf(item, sizeof item, " %04X:%02X=%lld", rx.entries[i].index, rx.entries[i].sub,
                          static_cast<long long>(value));
            text += item;
        }
    }
    return text;
}

std::string Ecat_Simulator::command_sdo_log(const Command_Call& call)
{
    const Coe_Server* coe = call.slave->coe();
    if (coe == nullptr) {
        throw Command_Error("slave has no CoE");
    }
    std::string text = "OK " + std::to_string(coe->log_count());
    for (size_t i = 0; i < coe->log_count(); ++i) {
        const Sdo_Log_Entry& entry = coe->log_entry(i);
        char item[96];
        std::snprintf(item, sizeof item, "\n%s %04X:%02X%s size %u abort 0x%08X", entry.upload ? "upload" : "download",
                      entry.index, entry.sub, entry.complete ? " complete" : "", entry.size, entry.abort);
        text += item;
    }
    return text;
}

Sim_Control_Client::Sim_Control_Client(uint16_t port) : m_port(port)
{
    m_fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_fd < 0) {
        throw std::runtime_error(std::string("[Sim_Control_Client][Sim_Control_Client] socket: ") +
                                 std::strerror(errno));
    }
}

Sim_Control_Client::~Sim_Control_Client()
{
    close(m_fd);
}

std::string Sim_Control_Client::request(const std::string& command, std::chrono::milliseconds timeout)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sendto(m_fd, command.data(), command.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        throw std::runtime_error(std::string("[Sim_Control_Client][request] sendto: ") + std::strerror(errno));
    }
    pollfd waiting{m_fd, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(timeout.count())) <= 0) {
        throw std::runtime_error("[Sim_Control_Client][request] no reply to: " + command);
    }
    char buffer[65536];
    const ssize_t size = recv(m_fd, buffer, sizeof buffer, 0);
    if (size < 0) {
        throw std::runtime_error(std::string("[Sim_Control_Client][request] recv: ") + std::strerror(errno));
    }
    return std::string(buffer, static_cast<size_t>(size));
}

}  // namespace ecat_sim
