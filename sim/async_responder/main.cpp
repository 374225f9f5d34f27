// Answers the asynchronous requests of a running framework for the script
// tests, as a master's SDO service would (rtframe -o serves none).
//
//   async_responder [LABEL:SETTING[,SETTING...] ...]
//
// Settings per variable: value=HEX (the bytes a read answers, in memory
// order, at most 8), delay=MS (time before answering), fail=CODE (answer
// with the error flag and this code), never (take requests, never answer).
//
// Prints "ready" once it serves. Then answers one line per command read on
// standard input (the log lines of the segment helpers go to standard error):
//   reads LABEL    -> "reads LABEL <reads served>"
//   written LABEL  -> "written LABEL <writes served> <HEX of the last value written>"
// Ends on end of input, SIGTERM, SIGINT or the death of its parent; exit
// status 1 when the service failed.

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "async_responder.h"
#include "stop_flag.h"

namespace {
constexpr int STOP_LOOK_MS = 50;

std::vector<uint8_t> bytes_of_hex_ex(const std::string& hex)
{
    if (hex.size() % 2 != 0)
        throw std::invalid_argument("odd number of hex digits: " + hex);
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string hex_of(const std::vector<uint8_t>& bytes)
{
    std::string hex;
    char digits[3];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof(digits), "%02x", byte);
        hex += digits;
    }
    return hex;
}

// LABEL:SETTING,SETTING...
void configure_ex(Async_Responder& responder, const std::string& argument)
{
    const std::size_t colon = argument.find(':');
    if (colon == std::string::npos)
        throw std::invalid_argument("expected LABEL:SETTING[,SETTING...], got " + argument);
    const std::string label = argument.substr(0, colon);
    Async_Responder::Behaviour behaviour;
    std::istringstream settings(argument.substr(colon + 1));
    std::string setting;
    while (std::getline(settings, setting, ',')) {
        const std::size_t equal = setting.find('=');
        const std::string key = setting.substr(0, equal);
        const std::string value = equal == std::string::npos ? "" : setting.substr(equal + 1);
        if (key == "value")
            responder.set_input_value(label, bytes_of_hex_ex(value));
        else if (key == "delay")
            behaviour.delay = std::chrono::milliseconds(std::stol(value));
        else if (key == "fail") {
            behaviour.fail = true;
            behaviour.error_code = static_cast<uint32_t>(std::stoul(value));
        } else if (key == "never")
            behaviour.never_answer = true;
        else
            throw std::invalid_argument("unknown setting " + setting);
    }
    responder.set_behaviour(label, behaviour);
}

std::string answer_ex(const Async_Responder& responder, const std::string& line)
{
    std::istringstream words(line);
    std::string command, label;
    words >> command >> label;
    if (command == "reads")
        return "reads " + label + " " + std::to_string(responder.reads_served(label));
    if (command == "written")
        return "written " + label + " " + std::to_string(responder.writes_served(label)) + " " +
               hex_of(responder.last_written(label));
    throw std::invalid_argument("unknown command: " + line);
}

void say(FILE* protocol, const std::string& line)
{
    std::fprintf(protocol, "%s\n", line.c_str());
    std::fflush(protocol);
}

// Serves commands until end of input or a stop signal, which it looks for
// between waits for input of at most STOP_LOOK_MS.
void serve_commands_ex(const Async_Responder& responder, FILE* protocol)
{
    std::string pending;
    for (;;) {
        if (wait_for_stop_signal(0) != 0)
            return;
        pollfd watched{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&watched, 1, STOP_LOOK_MS);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        if (ready == 0)
            continue;
        char buffer[256];
        const ssize_t count = read(STDIN_FILENO, buffer, sizeof(buffer));
        if (count <= 0)
            return;
        pending.append(buffer, static_cast<std::size_t>(count));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::string failure = responder.failure();
            if (!failure.empty())
                throw std::runtime_error(failure);
            say(protocol, answer_ex(responder, pending.substr(0, end)));
        }
    }
}
}  // namespace

int main(int argc, char** argv)
{
    // Blocked before any thread starts, so that only the command loop takes them.
    block_stop_signals();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Standard output carries only the answers; everything else goes to standard error.
    FILE* protocol = fdopen(dup(STDOUT_FILENO), "w");
    if (protocol == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::perror("[async_responder] set-up");
        return 1;
    }
    try {
        Async_Responder responder;
        for (int i = 1; i < argc; ++i)
            configure_ex(responder, argv[i]);
        say(protocol, "ready");
        serve_commands_ex(responder, protocol);
        const std::string failure = responder.failure();
        if (!failure.empty())
            throw std::runtime_error(failure);
    } catch (const std::exception& e) {
        std::cerr << "[async_responder] " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
