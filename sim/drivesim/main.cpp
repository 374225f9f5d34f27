// drivesim: simulated CiA 402 drives behind rtframe -o.
//
//   drivesim -c <descriptor> [-d] --drive <slave>:<family>[:<switch>,...] ...
//
// family: generic, schneider, omron, infranor, yaskawa, festo, ingenia.
// switches: fault=<code>, ignore_cw, disagree, instant_homing, homing_error,
//   sdo_delay=<ms>, sdo_error=<abort code>, sdo_silent, position=<increments>,
//   home=<increments> (where a search homing finds its switch).
// Prints "[drivesim] running" once bound. Reads commands on standard input,
// or with --control <path> from a named pipe that it creates there, one per
// line, <command> <slave> [arguments]:
//   fault <s> <code> | clear <s> | warning <s> 0|1 | limits <s> <pos> <neg> |
//   safety <s> 0|1 | ignore_cw <s> 0|1 | disagree <s> 0|1 | homing_error <s> 0|1 |
//   sdo <s> <delay ms> <abort code> <silent 0|1> | state <s> | history <s> |
//   object <s> <index> <subindex> (prints the entry's bytes)
// SIGINT or SIGTERM stop it (exit status 0).

#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "drive_sim.h"
#include "stop_flag.h"
#include "xelo_log.h"

namespace {

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    return parts;
}

uint32_t number(const std::string& text)
{
    size_t used = 0;
    const unsigned long value = std::stoul(text, &used, 0);
    if (used != text.size())
        throw std::invalid_argument("not a number: " + text);
    return static_cast<uint32_t>(value);
}

Drive_Sim::Drive_Config parse_drive(const std::string& text)
{
    const std::vector<std::string> parts = split(text, ':');
    if (parts.size() < 2 || parts.size() > 3)
        throw std::invalid_argument("--drive <slave>:<family>[:<switch>,...], got " + text);
    Drive_Sim::Drive_Config config;
    config.slave_address = static_cast<uint16_t>(number(parts[0]));
    config.options.vendor = sim::vendor_from_name(parts[1]);
    if (parts.size() == 3) {
        for (const std::string& item : split(parts[2], ',')) {
            const size_t equal = item.find('=');
            const std::string key = item.substr(0, equal);
            const std::string value = equal == std::string::npos ? "" : item.substr(equal + 1);
            sim::Drive_Options& o = config.options;
            if (key == "fault")
                o.fault_at_power_up = static_cast<uint16_t>(number(value));
            else if (key == "ignore_cw")
                o.ignore_control_word = true;
            else if (key == "disagree")
                o.disagreeing_mode_display = true;
            else if (key == "instant_homing")
                o.instant_homing = true;
            else if (key == "homing_error")
                o.homing_error = true;
            else if (key == "sdo_delay")
                o.sdo_delay = std::chrono::milliseconds(number(value));
            else if (key == "sdo_error")
                o.sdo_abort = number(value);
            else if (key == "sdo_silent")
                o.sdo_silent = true;
            else if (key == "position")
                o.initial_position = std::stoi(value);
            else if (key == "home")
                o.home_switch_position = std::stoi(value);
            else
                throw std::invalid_argument("unknown drive switch: " + item);
        }
    }
    return config;
}

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

void execute(Drive_Sim& simulation, const std::string& line)
{
    std::istringstream words(line);
    std::string command, slave_text;
    if (!(words >> command))
        return;
    if (!(words >> slave_text))
        throw std::invalid_argument("missing slave address");
    const uint16_t slave = static_cast<uint16_t>(number(slave_text));
    std::vector<uint32_t> args;
    for (std::string word; words >> word;)
        args.push_back(number(word));
    auto need = [&](size_t n) {
        if (args.size() != n)
            throw std::invalid_argument(command + " takes " + std::to_string(n) + " arguments");
    };
    if (command == "fault") {
        need(1);
        simulation.with_drive(slave, [&](sim::Cia402_Drive& d) { d.inject_fault(static_cast<uint16_t>(args[0])); });
    } else if (command == "clear") {
        need(0);
        simulation.with_drive(slave, [&](sim::Cia402_Drive& d) { d.clear_fault_cause(); });
    } else if (command == "warning") {
        need(1);
        simulation.with_drive(slave, [&](sim::Cia402_Drive& d) { d.set_warning_limit(args[0] != 0); });
    } else if (command == "limits") {
        need(2);
        simulation.with_drive(slave, [&](sim::Cia402_Drive& d) { d.set_limit_inputs(args[0] != 0, args[1] != 0); });
    } else if (command == "safety") {
        need(1);
        simulation.with_drive(slave, [&](sim::Cia402_Drive& d) { d.set_safety_active(args[0] != 0); });
    } else if (command == "ignore_cw") {
        need(1);
        simulation.with_drive(slave, [&](sim::Cia402_Drive& d) { d.set_ignore_control_word(args[0] != 0); });
    } else if (command == "disagree") {
        need(1);
        simulation.with_drive(slave, [&](sim::Cia402_Drive& d) { d.set_disagreeing_mode_display(args[0] != 0); });
    } else if (command == "homing_error") {
        need(1);
        simulation.with_drive(slave, [&](sim::Cia402_Drive& d) { d.set_homing_error(args[0] != 0); });
    } else if (command == "sdo") {
        need(3);
        simulation.with_drive(slave, [&](sim::Cia402_Drive& d) {
            d.set_sdo_behaviour(std::chrono::milliseconds(args[0]), args[1], args[2] != 0);
        });
        simulation.apply_sdo_behaviour_ex(slave);
    } else if (command == "state") {
        need(0);
        const std::string text = simulation.with_drive(slave, [&](sim::Cia402_Drive& d) {
            return std::string(sim::power_state_name(d.power_state())) + " sw " + hex(d.status_word()) + " cw " +
                   hex(d.control_word()) + " mode " + std::to_string(d.mode_display()) + " pos " +
                   std::to_string(d.position()) + " vel " + std::to_string(d.velocity()) + " error " +
                   hex(d.error_code());
        });
        log_inf("[drivesim] slave " + std::to_string(slave) + " " + text);
        return;
    } else if (command == "object") {
        need(2);
        const std::string text = simulation.with_drive(slave, [&](sim::Cia402_Drive& d) {
            std::string bytes_text;
            for (uint8_t byte :
                 d.dictionary().get_bytes(static_cast<uint16_t>(args[0]), static_cast<uint8_t>(args[1]))) {
                char hex_byte[8];
                std::snprintf(hex_byte, sizeof hex_byte, " %02x", byte);
                bytes_text += hex_byte;
            }
            return bytes_text;
        });
        log_inf("[drivesim] slave " + std::to_string(slave) + " object " + hex(args[0]) + ":" +
                std::to_string(args[1]) + text);
        return;
    } else if (command == "history") {
        need(0);
        const std::string text = simulation.with_drive(slave, [&](sim::Cia402_Drive& d) {
            std::string words_text;
            for (uint16_t cw : d.control_word_history())
                words_text += " " + hex(cw);
            return words_text;
        });
        log_inf("[drivesim] slave " + std::to_string(slave) + " cw history" + text);
        return;
    } else {
        throw std::invalid_argument("unknown command " + command);
    }
    log_inf("[drivesim] done :: " + line);
}

std::atomic<bool> stopping{false};

void read_commands(Drive_Sim& simulation, int input)
{
    std::string pending;
    while (!stopping) {
        pollfd fd{input, POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = read(input, buffer, sizeof buffer);
        if (n <= 0)
            return;  // no more commands
        pending.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            try {
                execute(simulation, line);
            } catch (const std::exception& e) {
                log_err("[drivesim] command refused :: " + line + " :: " + e.what());
            }
        }
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    const option options[] = {{"config-file", required_argument, nullptr, 'c'},
                              {"develop", no_argument, nullptr, 'd'},
                              {"drive", required_argument, nullptr, 'r'},
                              {"control", required_argument, nullptr, 'p'},
                              {nullptr, 0, nullptr, 0}};
    std::string descriptor;
    std::string control;
    bool develop = false;
    std::vector<Drive_Sim::Drive_Config> drives;
    try {
        for (int option; (option = getopt_long(argc, argv, "c:dr:p:", options, nullptr)) != -1;) {
            switch (option) {
            case 'p': control = optarg; break;
            case 'c': descriptor = optarg; break;
            case 'd': develop = true; break;
            case 'r': drives.push_back(parse_drive(optarg)); break;
            default: throw std::invalid_argument("unknown option");
            }
        }
        if (descriptor.empty() || drives.empty())
            throw std::invalid_argument("usage: drivesim -c <descriptor> [-d] --drive <slave>:<family>[:switches] ...");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "[drivesim] %s\n", e.what());
        return 2;
    }

    block_stop_signals();

    try {
        Drive_Sim simulation(descriptor, develop, drives);
        simulation.start_ex();
        int input = STDIN_FILENO;
        if (!control.empty()) {
            if (mkfifo(control.c_str(), 0600) != 0 && errno != EEXIST)
                throw std::runtime_error("mkfifo " + control + ": " + std::strerror(errno));
            // Opened for writing too, so that a writer closing it is no end of input.
            input = open(control.c_str(), O_RDWR | O_CLOEXEC);
            if (input == -1)
                throw std::runtime_error("open " + control + ": " + std::strerror(errno));
        }
        std::thread commands([&simulation, input] { read_commands(simulation, input); });
        log_inf("[drivesim] running");
        wait_for_stop_signal(-1);
        stopping = true;
        commands.join();
        if (input != STDIN_FILENO)
            close(input);
        simulation.stop();
        const std::string failure = simulation.failure();
        if (!failure.empty()) {
            log_err("[drivesim] stopped after a failure :: " + failure);
            return 1;
        }
    } catch (const std::exception& e) {
        log_err(std::string("[drivesim] ") + e.what());
        return 1;
    }
    return 0;
}
