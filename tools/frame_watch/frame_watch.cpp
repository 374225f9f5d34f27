// frame_watch: a small client of a running rtframe that shows the process
// image moving. It takes an application slot, writes a counter into the
// given outputs on every wake-up and prints the given inputs, the framework
// tick and the status variables, then detaches after the given time.
//
//   frame_watch [--seconds N] [--period-ms P] [--count OUTPUT]... [--show INPUT]...
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "quiet_stdout.h"
#include "thin_client.h"

namespace {
struct Options {
    long seconds = 5;
    long period_ms = 200;
    std::vector<std::string> counted;
    std::vector<std::string> shown;
};

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--seconds")
            options.seconds = std::atol(value);
        else if (flag == "--period-ms")
            options.period_ms = std::atol(value);
        else if (flag == "--count")
            options.counted.emplace_back(value);
        else if (flag == "--show")
            options.shown.emplace_back(value);
        else
            return false;
    }
    return argc % 2 == 1 && options.seconds > 0 && options.period_ms > 0;
}

std::string value_text(const std::vector<uint8_t>& image, const Shared_Application_Data_Struct& record)
{
    const uint8_t* at = image.data() + record.byte_offs;
    char text[64];
    auto scalar = [at](auto zero) {
        decltype(zero) value;
        std::memcpy(&value, at, sizeof(value));
        return value;
    };
    switch (record.type) {
    case BIT_FSM: return ((at[0] >> record.bit_offs) & 1) != (record.is_negated != 0) ? "1" : "0";
    case INT8_FSM: return std::to_string(scalar(int8_t{}));
    case UINT8_FSM: return std::to_string(scalar(uint8_t{}));
    case INT16_FSM: return std::to_string(scalar(int16_t{}));
    case UINT16_FSM: return std::to_string(scalar(uint16_t{}));
    case INT32_FSM: return std::to_string(scalar(int32_t{}));
    case UINT32_FSM: return std::to_string(scalar(uint32_t{}));
    case INT64_FSM: return std::to_string(scalar(int64_t{}));
    case UINT64_FSM: return std::to_string(scalar(uint64_t{}));
    case FLOAT_FSM: std::snprintf(text, sizeof(text), "%g", static_cast<double>(scalar(float{}))); return text;
    case DOUBLE_FSM: std::snprintf(text, sizeof(text), "%g", scalar(double{})); return text;
    default:
        return "\"" +
               std::string(reinterpret_cast<const char*>(at),
                           strnlen(reinterpret_cast<const char*>(at), record.byte_dim)) +
               "\"";
    }
}

// The counter in the output's own type (a bit output toggles).
void write_counter(Thin_Client& client, const std::string& name, uint64_t counter)
{
    const Shared_Application_Data_Struct& record = client.output_record(name);
    switch (record.type) {
    case BIT_FSM: client.set_output_bit(name, counter % 2 != 0); break;
    case INT8_FSM:
    case UINT8_FSM: client.set_output(name, static_cast<uint8_t>(counter)); break;
    case INT16_FSM:
    case UINT16_FSM: client.set_output(name, static_cast<uint16_t>(counter)); break;
    case INT32_FSM:
    case UINT32_FSM: client.set_output(name, static_cast<uint32_t>(counter)); break;
    case FLOAT_FSM: client.set_output(name, static_cast<float>(counter)); break;
    case DOUBLE_FSM: client.set_output(name, static_cast<double>(counter)); break;
    default: client.set_output(name, counter); break;
    }
}
}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: frame_watch [--seconds N] [--period-ms P] [--count OUTPUT]... [--show INPUT]...\n");
        return EXIT_FAILURE;
    }
    try {
        if (!Thin_Client::wait_until_ready(std::chrono::seconds(30))) {
            std::fprintf(stderr, "frame_watch: no running rtframe found\n");
            return EXIT_FAILURE;
        }
        std::unique_ptr<Thin_Client> attached;
        {
            Quiet_Stdout quiet;
            attached = std::make_unique<Thin_Client>();
        }
        Thin_Client& client = *attached;
        const uint32_t cycle_ns = client.info().master_cycle_time;
        const uint32_t period = static_cast<uint32_t>(std::max<long long>(1, options.period_ms * 1000000LL / cycle_ns));
        const int slot = client.take_slot("frame_watch", period);
        for (const std::string& name : options.counted)
            client.take_output(name);
        std::printf("frame_watch: application %d, woken every %" PRIu32 " ticks of %" PRIu32 " us\n", slot, period,
                    cycle_ns / 1000);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
        uint64_t counter = 0;
        while (std::chrono::steady_clock::now() < end) {
            uint32_t tick = 0;
            // The server's first tick follows its start-up pause.
            const auto timeout = std::chrono::seconds(counter == 0 ? 5 : 2);
            if (!client.wait_wakeup(timeout, &tick)) {
                std::printf("frame_watch: no wake-up in time\n");
                return EXIT_FAILURE;
            }
            ++counter;
            for (const std::string& name : options.counted)
                write_counter(client, name, counter);
            const std::vector<uint8_t> image = client.inputs();
            std::string line = "tick " + std::to_string(tick) + "  online " +
                               value_text(image, client.input_record("is_ethercat_master_online")) + "  " +
                               value_text(image, client.input_record("last_ethercat_master_error_msg"));
            for (const std::string& name : options.shown)
                line += "  " + name + "=" + value_text(image, client.input_record(name));
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "frame_watch: %s\n", error.what());
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
