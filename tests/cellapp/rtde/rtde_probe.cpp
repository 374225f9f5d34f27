// Drives rtde_client::RTDE from the command line, one step per argument, and
// prints one line per step: the tests play the controller and check both the
// bytes they receive and what the client makes of their replies.
//   rtde_probe [--reply-timeout-ms N] HOST PORT STEP...
//   version | controller_version | inputs:N1,N2 | outputs:FREQ:N1,N2 | start |
//   pause | receive | data | disconnect | connect |
//   send:watchdog:RECIPE | send:std_digital_out:RECIPE:MASK:VALUE |
//   send:input_double:RECIPE:VALUE | send:input_int:RECIPE:VALUE |
//   send:movej:RECIPE:ASYNC:V1,V2,...
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "rtde.h"

namespace {
using rtde_client::RTDE;

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> items;
    if (text.empty())
        return items;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, separator);)
        items.push_back(item);
    return items;
}

std::string hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char b[4];
    for (uint8_t byte : bytes) {
        std::snprintf(b, sizeof(b), "%02X", byte);
        text += b;
    }
    return text;
}

void step(RTDE& client, const std::string& word)
{
    const std::vector<std::string> part = split(word, ':');
    const std::string& verb = part.at(0);
    if (verb == "connect") {
        client.connect();
        std::printf("connect ok\n");
    } else if (verb == "version") {
        std::printf("version %d\n", client.negotiateProtocolVersion() ? 1 : 0);
    } else if (verb == "controller_version") {
        const auto v = client.getControllerVersion();
        std::printf("controller_version %u.%u.%u.%u\n", std::get<0>(v), std::get<1>(v), std::get<2>(v), std::get<3>(v));
    } else if (verb == "inputs") {
        client.sendInputSetup(split(part.size() > 1 ? part[1] : "", ','));
        std::printf("inputs ok\n");
    } else if (verb == "outputs") {
        const bool ok = client.sendOutputSetup(split(part.size() > 2 ? part[2] : "", ','), std::stod(part.at(1)));
        std::string types;
        for (const std::string& type : client.getOutputTypes())
            types += (types.empty() ? "" : "|") + type;
        std::printf("outputs %d %s\n", ok ? 1 : 0, types.c_str());
    } else if (verb == "start") {
        client.sendStart();
        std::printf("start %d\n", client.isStarted() ? 1 : 0);
    } else if (verb == "pause") {
        client.sendPause();
        std::printf("pause connected=%d started=%d\n", client.isConnected() ? 1 : 0, client.isStarted() ? 1 : 0);
    } else if (verb == "receive") {
        client.receive();
        std::printf("receive started=%d\n", client.isStarted() ? 1 : 0);
    } else if (verb == "data") {
        std::printf("data %s\n", hex(client.receiveData()).c_str());
    } else if (verb == "disconnect") {
        client.disconnect();
        std::printf("disconnect ok\n");
    } else if (verb == "send") {
        RTDE::RobotCommand command;
        const std::string& kind = part.at(1);
        command.recipe_id_ = static_cast<uint8_t>(std::stoi(part.at(2)));
        if (kind == "watchdog") {
            command.type_ = RTDE::RobotCommand::WATCHDOG;
        } else if (kind == "std_digital_out") {
            command.type_ = RTDE::RobotCommand::SET_STD_DIGITAL_OUT;
            command.std_digital_out_mask_ = static_cast<uint8_t>(std::stoi(part.at(3)));
            command.std_digital_out_ = static_cast<uint8_t>(std::stoi(part.at(4)));
        } else if (kind == "input_double") {
            command.type_ = RTDE::RobotCommand::SET_INPUT_DOUBLE_REGISTER;
            command.reg_double_val_ = std::stod(part.at(3));
        } else if (kind == "input_int") {
            command.type_ = RTDE::RobotCommand::SET_INPUT_INT_REGISTER;
            command.reg_int_val_ = std::stoi(part.at(3));
        } else if (kind == "movej") {
            command.type_ = RTDE::RobotCommand::MOVEJ;
            command.async_ = std::stoi(part.at(3));
            for (const std::string& v : split(part.at(4), ','))
                command.val_.push_back(std::stod(v));
        } else {
            throw std::runtime_error("unknown command kind " + kind);
        }
        client.send(command);
        std::printf("send ok\n");
    } else {
        throw std::runtime_error("unknown step " + word);
    }
}
}  // namespace

int main(int argc, char** argv)
{
    // --reply-timeout-ms N: the client's reply limit instead of its default.
    int first = 1;
    std::chrono::milliseconds reply_timeout(RTDE::REPLY_TIMEOUT_MS);
    if (argc > 2 && std::string(argv[1]) == "--reply-timeout-ms") {
        reply_timeout = std::chrono::milliseconds(std::atoi(argv[2]));
        first = 3;
    }
    if (argc < first + 2) {
        std::fprintf(stderr, "usage: %s [--reply-timeout-ms N] HOST PORT STEP...\n", argv[0]);
        return 2;
    }
    RTDE client(argv[first], std::atoi(argv[first + 1]), false, reply_timeout);
    try {
        client.connect();
        std::printf("connect ok\n");
        std::fflush(stdout);
        for (int i = first + 2; i < argc; ++i) {
            step(client, argv[i]);
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::printf("error %s\n", e.what());
        return 3;
    }
    return 0;
}
