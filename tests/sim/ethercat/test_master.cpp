#include "test_master.h"

#include <sys/time.h>

#include <array>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "ethercat_frame.h"

std::vector<uint8_t> le16(uint16_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
}
std::vector<uint8_t> le32(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}
uint16_t get_le16(const std::vector<uint8_t>& b, size_t o)
{
    return static_cast<uint16_t>(b.at(o) | (b.at(o + 1) << 8));
}
uint32_t get_le32(const std::vector<uint8_t>& b, size_t o)
{
    return static_cast<uint32_t>(get_le16(b, o)) | (static_cast<uint32_t>(get_le16(b, o + 2)) << 16);
}

Datagram Datagram::logical(uint8_t command, uint32_t address, std::vector<uint8_t> data)
{
    Datagram d;
    d.command = command;
    d.adp = static_cast<uint16_t>(address);
    d.ado = static_cast<uint16_t>(address >> 16);
    d.data = std::move(data);
    return d;
}

Pcap_Writer::Pcap_Writer(const std::string& path) : m_path(path)
{
    m_file = std::fopen(path.c_str(), "wb");
    if (m_file == nullptr) {
        throw std::runtime_error("cannot write " + path);
    }
    const uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 1};  // version 2.4, Ethernet
    std::fwrite(header, sizeof header, 1, m_file);
}

Pcap_Writer::~Pcap_Writer()
{
    std::fclose(m_file);
}

void Pcap_Writer::write(const uint8_t* frame, size_t size)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    const uint32_t record[4] = {static_cast<uint32_t>(now.tv_sec), static_cast<uint32_t>(now.tv_usec),
                                static_cast<uint32_t>(size), static_cast<uint32_t>(size)};
    std::fwrite(record, sizeof record, 1, m_file);
    std::fwrite(frame, size, 1, m_file);
    std::fflush(m_file);
}

Test_Master::Test_Master(const std::string& interface, Pcap_Writer* capture)
    : m_socket(std::make_unique<ecat_sim::Raw_Ethernet_Socket>(interface)), m_capture(capture)
{
}

std::vector<uint8_t> Test_Master::exchange_raw(const std::vector<uint8_t>& frame, std::chrono::milliseconds timeout)
{
    m_socket->send(frame.data(), frame.size());
    std::vector<uint8_t> reply(1600);
    const size_t size = m_socket->receive(reply.data(), reply.size(), timeout);
    reply.resize(size);
    // The capture holds the answered exchanges: request and reply.
    if (size != 0 && m_capture) {
        m_capture->write(frame.data(), frame.size());
        m_capture->write(reply.data(), reply.size());
    }
    return reply;
}

bool Test_Master::try_exchange(std::vector<Datagram>& datagrams, std::chrono::milliseconds timeout)
{
    Ethercat_Frame built;
    for (const Datagram& d : datagrams) {
        built.add(d.command, d.adp, d.ado, d.data, ++m_index);
    }
    const std::vector<uint8_t>& frame = built.bytes();
    const std::vector<uint8_t> reply = exchange_raw(frame, timeout);
    if (reply.empty()) {
        return false;
    }
    if (reply.size() != frame.size()) {
        throw std::runtime_error("reply of " + std::to_string(reply.size()) + " bytes to a frame of " +
                                 std::to_string(frame.size()));
    }
    size_t pos = Ethercat_Frame::HEADER_BYTES;
    for (Datagram& d : datagrams) {
        d.index = reply[pos + 1];
        d.adp = get_le16(reply, pos + 2);
        d.ado = get_le16(reply, pos + 4);
        d.irq = get_le16(reply, pos + 8);
        std::copy(reply.begin() + static_cast<long>(pos + 10),
                  reply.begin() + static_cast<long>(pos + 10 + d.data.size()), d.data.begin());
        d.wkc = get_le16(reply, pos + 10 + d.data.size());
        pos += 12 + d.data.size();
    }
    return true;
}

void Test_Master::exchange(std::vector<Datagram>& datagrams)
{
    if (!try_exchange(datagrams)) {
        throw std::runtime_error("no reply from the segment");
    }
}

Datagram Test_Master::exchange(Datagram datagram)
{
    std::vector<Datagram> one{std::move(datagram)};
    exchange(one);
    return one[0];
}

Datagram Test_Master::read(uint8_t command, uint16_t adp, uint16_t ado, size_t length)
{
    Datagram d;
    d.command = command;
    d.adp = adp;
    d.ado = ado;
    d.data.assign(length, 0);
    return exchange(d);
}

Datagram Test_Master::write(uint8_t command, uint16_t adp, uint16_t ado, const std::vector<uint8_t>& data)
{
    Datagram d;
    d.command = command;
    d.adp = adp;
    d.ado = ado;
    d.data = data;
    return exchange(d);
}

uint16_t Test_Master::fprd16(uint16_t station, uint16_t ado)
{
    return get_le16(read(4, station, ado, 2).data, 0);
}
uint32_t Test_Master::fprd32(uint16_t station, uint16_t ado)
{
    return get_le32(read(4, station, ado, 4).data, 0);
}
uint64_t Test_Master::fprd64(uint16_t station, uint16_t ado)
{
    const std::vector<uint8_t> data = read(4, station, ado, 8).data;
    return get_le32(data, 0) | (static_cast<uint64_t>(get_le32(data, 4)) << 32);
}
int Test_Master::fpwr(uint16_t station, uint16_t ado, const std::vector<uint8_t>& data)
{
    return write(5, station, ado, data).wkc;
}

void Test_Master::assign_stations(size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const Datagram d = write(2, static_cast<uint16_t>(0 - i), 0x0010, le16(static_cast<uint16_t>(0x1001 + i)));
        if (d.wkc != 1) {
            throw std::runtime_error("station address not taken at position " + std::to_string(i));
        }
    }
}

uint16_t Test_Master::request_state(uint16_t station, uint16_t control)
{
    fpwr(station, 0x0120, le16(control));
    return fprd16(station, 0x0130);
}

void Test_Master::set_sm(uint16_t station, int n, uint16_t start, uint16_t length, uint8_t control, bool enable)
{
    const uint16_t base = static_cast<uint16_t>(0x0800 + 8 * n);
    fpwr(station, static_cast<uint16_t>(base + 6), {0});
    std::vector<uint8_t> record = le16(start);
    const auto size = le16(length);
    record.insert(record.end(), size.begin(), size.end());
    record.push_back(control);
    record.push_back(0);
    record.push_back(enable ? 1 : 0);
    record.push_back(0);
    fpwr(station, base, record);
}

void Test_Master::set_fmmu(uint16_t station, int n, uint32_t logical, uint16_t length, uint8_t start_bit,
                           uint8_t stop_bit, uint16_t physical, uint8_t physical_bit, uint8_t type)
{
    std::vector<uint8_t> record = le32(logical);
    for (uint8_t byte : le16(length))
        record.push_back(byte);
    record.push_back(start_bit);
    record.push_back(stop_bit);
    for (uint8_t byte : le16(physical))
        record.push_back(byte);
    record.push_back(physical_bit);
    record.push_back(type);
    record.push_back(1);
    record.push_back(0);
    record.push_back(0);
    record.push_back(0);
    fpwr(station, static_cast<uint16_t>(0x0600 + 16 * n), record);
}

uint16_t Test_Master::to_preop(uint16_t station, uint16_t out_start, uint16_t out_size, uint16_t in_start,
                               uint16_t in_size)
{
    set_sm(station, 0, out_start, out_size, 0x26, true);
    set_sm(station, 1, in_start, in_size, 0x22, true);
    return request_state(station, 2);
}

void Test_Master::mailbox_send(uint16_t station, const std::vector<uint8_t>& message, uint16_t start, uint16_t size)
{
    std::vector<uint8_t> padded = message;
    padded.resize(size, 0);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if ((read(4, station, 0x0805, 1).data[0] & 0x08) == 0) {
            if (fpwr(station, start, padded) != 1) {
                throw std::runtime_error("mailbox write not taken");
            }
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    throw std::runtime_error("write mailbox stays full");
}

std::vector<uint8_t> Test_Master::mailbox_receive(uint16_t station, uint16_t start, uint16_t size,
                                                  std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (read(4, station, 0x080D, 1).data[0] & 0x08) {
            const Datagram d = read(4, station, start, size);
            if (d.wkc != 1) {
                throw std::runtime_error("full read mailbox not readable");
            }
            return d.data;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return {};
}

uint16_t Test_Master::eeprom_wait(uint16_t station)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const uint16_t status = fprd16(station, 0x0502);
        if ((status & 0x8000) == 0) {
            return status;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    throw std::runtime_error("EEPROM stays busy");
}

std::vector<uint8_t> Test_Master::eeprom_read(uint16_t station, uint16_t word)
{
    eeprom_wait(station);
    std::vector<uint8_t> command = {0x00, 0x01};
    for (uint8_t byte : le32(word))
        command.push_back(byte);
    fpwr(station, 0x0502, command);
    const uint16_t status = eeprom_wait(station);
    return read(4, station, 0x0508, (status & 0x0040) ? 8 : 4).data;
}

uint16_t Test_Master::eeprom_write(uint16_t station, uint16_t word, uint16_t value, bool enable)
{
    eeprom_wait(station);
    fpwr(station, 0x0508, le16(value));
    std::vector<uint8_t> command = {static_cast<uint8_t>(enable ? 0x01 : 0x00), 0x02};
    for (uint8_t byte : le32(word))
        command.push_back(byte);
    fpwr(station, 0x0502, command);
    return eeprom_wait(station);
}

bool tshark_available()
{
    return std::system("command -v tshark >/dev/null 2>&1") == 0;
}

std::string tshark_problems(const std::string& path, int& frames_decoded)
{
    frames_decoded = 0;
    const std::string command = "tshark -r '" + path + "' -V 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return "cannot run tshark";
    }
    std::string problems;
    std::array<char, 4096> line{};
    while (std::fgets(line.data(), static_cast<int>(line.size()), pipe) != nullptr) {
        const std::string text = line.data();
        if (text.rfind("Frame ", 0) == 0) {
            ++frames_decoded;
        }
        if (text.find("Malformed") != std::string::npos || text.find("Expert Info (Error") != std::string::npos ||
            text.find("tshark:") != std::string::npos) {
            problems += "frame " + std::to_string(frames_decoded) + ": " + text;
        }
    }
    const int status = pclose(pipe);
    if (status != 0) {
        problems += "tshark ended with status " + std::to_string(status) + "\n";
    }
    return problems;
}

void Segment_Test::start(const std::string& config_text, ecat_sim::Sim_Options options)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name) {
        if (c == '/')
            c = '_';
    }
    m_capture = std::make_unique<Pcap_Writer>("/tmp/" + name + ".pcap");
    m_segment = std::make_unique<ecat_sim::Veth_Segment>(ecat_sim::parse_segment_config(config_text), options);
    m_master = std::make_unique<Test_Master>(m_segment->master_interface(), m_capture.get());
    m_control = std::make_unique<ecat_sim::Sim_Control_Client>(m_segment->simulator().control_port());
}

void Segment_Test::TearDown()
{
    m_control.reset();
    m_master.reset();
    m_segment.reset();
    if (!m_capture) {
        return;
    }
    const std::string path = m_capture->path();
    m_capture.reset();
    if (!tshark_available()) {
        return;
    }
    int frames = 0;
    const std::string problems = tshark_problems(path, frames);
    EXPECT_EQ(problems, "") << "tshark finds faults in " << path;
}
