#include "segment_config.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ecat_sim {

namespace {

[[noreturn]] void fail(int line, const std::string& text)
{
    throw std::runtime_error("[Segment_Config][parse] line " + std::to_string(line) + ": " + text);
}

uint64_t number(int line, const std::string& key, const std::string& text)
{
    try {
        size_t used = 0;
        const uint64_t value = std::stoull(text, &used, 0);
        if (used != text.size()) {
            fail(line, "bad number for " + key + ": " + text);
        }
        return value;
    } catch (const std::logic_error&) {
        fail(line, "bad number for " + key + ": " + text);
    }
}

double real(int line, const std::string& key, const std::string& text)
{
    try {
        size_t used = 0;
        const double value = std::stod(text, &used);
        if (used != text.size()) {
            fail(line, "bad number for " + key + ": " + text);
        }
        return value;
    } catch (const std::logic_error&) {
        fail(line, "bad number for " + key + ": " + text);
    }
}

void mailbox(int line, const std::string& text, Slave_Config& slave)
{
    uint64_t out_start = 0, out_size = 0, in_start = 0, in_size = 0;
    const auto comma = text.find(',');
    if (comma == std::string::npos) {
        fail(line, "mailbox wants <out start>:<size>,<in start>:<size>");
    }
    for (int half = 0; half < 2; ++half) {
        const std::string part = half == 0 ? text.substr(0, comma) : text.substr(comma + 1);
        const auto colon = part.find(':');
        if (colon == std::string::npos) {
            fail(line, "mailbox wants <out start>:<size>,<in start>:<size>");
        }
        (half == 0 ? out_start : in_start) = number(line, "mailbox", part.substr(0, colon));
        (half == 0 ? out_size : in_size) = number(line, "mailbox", part.substr(colon + 1));
    }
    // Both buffers lie in the process RAM, 0x1000..0x2FFF.
    if (out_size > 1024 || in_size > 1024 || (out_size != 0 && out_size < 16) || (in_size != 0 && in_size < 16) ||
        out_start < 0x1000 || in_start < 0x1000 || out_start + out_size > 0x3000 || in_start + in_size > 0x3000) {
        fail(line, "mailbox out of range (sizes 16..1024, inside 0x1000..0x2FFF)");
    }
    slave.mbx_out_start = static_cast<uint16_t>(out_start);
    slave.mbx_out_size = static_cast<uint16_t>(out_size);
    slave.mbx_in_start = static_cast<uint16_t>(in_start);
    slave.mbx_in_size = static_cast<uint16_t>(in_size);
}

void apply(int line, const std::string& key, const std::string& value, Slave_Config& slave,
           const std::vector<Slave_Config>& earlier, bool& mailbox_given)
{
    if (key == "device") {
        if (value == "none") {
            slave.device = Device_Kind::NONE;
        } else if (value == "dio") {
            slave.device = Device_Kind::DIO;
        } else if (value == "cia402") {
            slave.device = Device_Kind::CIA402;
        } else {
            fail(line, "unknown device " + value);
        }
    } else if (key == "vendor") {
        slave.vendor = static_cast<uint32_t>(number(line, key, value));
        slave.identity_given[0] = true;
    } else if (key == "product") {
        slave.product = static_cast<uint32_t>(number(line, key, value));
        slave.identity_given[1] = true;
    } else if (key == "revision") {
        slave.revision = static_cast<uint32_t>(number(line, key, value));
        slave.identity_given[2] = true;
    } else if (key == "serial") {
        slave.serial = static_cast<uint32_t>(number(line, key, value));
        slave.identity_given[3] = true;
    } else if (key == "profile") {
        static const char* const profiles[] = {"generic", "schneider", "omron",  "infranor",
                                               "yaskawa", "festo",     "ingenia"};
        bool known = false;
        for (const char* profile : profiles) {
            known = known || value == profile;
        }
        if (!known) {
            fail(line, "unknown drive profile " + value);
        }
        slave.profile = value;
    } else if (key == "leaving_op") {
        if (value != "fault" && value != "switch_on_disabled" && value != "ignore") {
            fail(line, "leaving_op must be fault, switch_on_disabled or ignore");
        }
        slave.leaving_op = value;
    } else if (key == "alias") {
        slave.alias = static_cast<uint16_t>(number(line, key, value));
    } else if (key == "ports") {
        slave.ports = static_cast<int>(number(line, key, value));
        if (slave.ports < 1 || slave.ports > 4) {
            fail(line, "ports must be 1..4");
        }
    } else if (key == "previous") {
        const auto colon = value.find(':');
        const std::string name = value.substr(0, colon);
        slave.previous = -1;
        for (size_t i = 0; i < earlier.size(); ++i) {
            if (earlier[i].name == name) {
                slave.previous = static_cast<int>(i);
            }
        }
        if (slave.previous < 0) {
            fail(line, "previous names no earlier slave: " + name);
        }
        slave.previous_port =
            colon == std::string::npos ? 1 : static_cast<int>(number(line, key, value.substr(colon + 1)));
        if (slave.previous_port < 1 || slave.previous_port > 3) {
            fail(line, "previous port must be 1..3");
        }
    } else if (key == "mailbox") {
        mailbox(line, value, slave);
        mailbox_given = true;
    } else if (key == "dc") {
        slave.dc = number(line, key, value) != 0;
    } else if (key == "drift_ppm") {
        slave.drift_ppm = real(line, key, value);
    } else if (key == "clock_offset_ns") {
        slave.clock_offset_ns = static_cast<int64_t>(number(line, key, value));
        slave.clock_offset_set = true;
    } else if (key == "hop_delay_ns") {
        slave.hop_delay_ns = static_cast<uint32_t>(number(line, key, value));
    } else if (key == "watchdog") {
        slave.watchdog = number(line, key, value) != 0;
    } else if (key == "eeprom_read_bytes") {
        slave.eeprom_read_bytes = static_cast<int>(number(line, key, value));
        if (slave.eeprom_read_bytes != 4 && slave.eeprom_read_bytes != 8) {
            fail(line, "eeprom_read_bytes must be 4 or 8");
        }
    } else if (key == "eeprom_read_us") {
        slave.eeprom_read_us = static_cast<uint32_t>(number(line, key, value));
    } else if (key == "eeprom_write_us") {
        slave.eeprom_write_us = static_cast<uint32_t>(number(line, key, value));
    } else if (key == "inputs") {
        slave.dio_inputs = static_cast<int>(number(line, key, value));
    } else if (key == "outputs") {
        slave.dio_outputs = static_cast<int>(number(line, key, value));
    } else if (key == "esc_type") {
        slave.esc_type = static_cast<uint8_t>(number(line, key, value));
    } else {
        fail(line, "unknown key " + key);
    }
}

}  // namespace

Segment_Config parse_segment_config(const std::string& text)
{
    Segment_Config config;
    std::istringstream lines(text);
    std::string raw;
    int line = 0;
    while (std::getline(lines, raw)) {
        ++line;
        const auto hash = raw.find('#');
        std::istringstream words(raw.substr(0, hash));
        std::string word;
        if (!(words >> word)) {
            continue;
        }
        if (word == "control_port") {
            std::string port;
            if (!(words >> port)) {
                fail(line, "control_port wants a number");
            }
            const uint64_t value = number(line, word, port);
            if (value == 0 || value > 0xFFFF) {
                fail(line, "control_port out of range");
            }
            config.control_port = static_cast<uint16_t>(value);
            continue;
        }
        if (word != "slave") {
            fail(line, "unknown statement " + word);
        }
        Slave_Config slave;
        if (!(words >> slave.name)) {
            fail(line, "slave wants a name");
        }
        for (const auto& other : config.slaves) {
            if (other.name == slave.name) {
                fail(line, "duplicate slave name " + slave.name);
            }
        }
        slave.previous = static_cast<int>(config.slaves.size()) - 1;
        slave.serial = static_cast<uint32_t>(config.slaves.size() + 1);
        bool mailbox_given = false;
        while (words >> word) {
            const auto equal = word.find('=');
            if (equal == std::string::npos) {
                fail(line, "expected key=value, got " + word);
            }
            apply(line, word.substr(0, equal), word.substr(equal + 1), slave, config.slaves, mailbox_given);
        }
        if (!mailbox_given && slave.device == Device_Kind::CIA402) {
            slave.mbx_out_start = 0x1000;
            slave.mbx_out_size = 128;
            slave.mbx_in_start = 0x1080;
            slave.mbx_in_size = 128;
        }
        if (slave.product == 0) {
            slave.product = slave.device == Device_Kind::CIA402 ? 0x00000402
                            : slave.device == Device_Kind::DIO  ? 0x00000D10
                                                                : 0x00000001;
        }
        if (slave.dio_inputs < 0 || slave.dio_inputs > 64 || slave.dio_outputs < 0 || slave.dio_outputs > 64) {
            fail(line, "inputs and outputs must be 0..64");
        }
        if (slave.previous >= 0) {
            const Slave_Config& parent = config.slaves[static_cast<size_t>(slave.previous)];
            if (slave.previous_port >= parent.ports) {
                fail(line,
                     "port " + std::to_string(slave.previous_port) + " of " + parent.name + " is not implemented");
            }
            for (const auto& other : config.slaves) {
                if (other.previous == slave.previous && other.previous_port == slave.previous_port) {
                    fail(line, "port " + std::to_string(slave.previous_port) + " of " + parent.name + " is taken");
                }
            }
        }
        config.slaves.push_back(slave);
    }
    if (config.slaves.empty()) {
        throw std::runtime_error("[Segment_Config][parse] no slave");
    }
    for (size_t i = 1; i < config.slaves.size(); ++i) {
        if (config.slaves[i].previous < 0) {
            throw std::runtime_error("[Segment_Config][parse] only the first slave hangs on the master");
        }
    }
    const auto order = processing_order(config);
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] != static_cast<int>(i)) {
            throw std::runtime_error("[Segment_Config][parse] slave " + config.slaves[i].name +
                                     " is not listed in the order frames pass it (expected " +
                                     config.slaves[static_cast<size_t>(order[i])].name + ")");
        }
    }
    return config;
}

Segment_Config load_segment_config(const std::string& path)
{
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error("[Segment_Config][load] cannot open " + path);
    }
    std::stringstream text;
    text << file.rdbuf();
    return parse_segment_config(text.str());
}

namespace {

void visit(const Segment_Config& config, int slave, std::vector<int>& order)
{
    order.push_back(slave);
    static const int two[] = {1};
    static const int three[] = {1, 2};
    static const int four[] = {3, 1, 2};
    const int ports = config.slaves[static_cast<size_t>(slave)].ports;
    const int* sequence = ports == 4 ? four : ports == 3 ? three : two;
    const int count = ports == 4 ? 3 : ports == 3 ? 2 : ports == 2 ? 1 : 0;
    for (int k = 0; k < count; ++k) {
        for (size_t child = 0; child < config.slaves.size(); ++child) {
            if (config.slaves[child].previous == slave && config.slaves[child].previous_port == sequence[k]) {
                visit(config, static_cast<int>(child), order);
            }
        }
    }
}

}  // namespace

std::vector<int> processing_order(const Segment_Config& config)
{
    std::vector<int> order;
    if (!config.slaves.empty()) {
        visit(config, 0, order);
    }
    return order;
}

}  // namespace ecat_sim
