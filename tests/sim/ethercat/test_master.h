#pragma once

// The master's side of the simulator tests: hand-built EtherCAT frames sent
// over the veth pair, replies decoded here (independently of the
// simulator's own decoder), every exchange kept in a capture file for tshark.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "veth_harness.h"

struct Datagram {
    uint8_t command = 0;
    uint16_t adp = 0;
    uint16_t ado = 0;
    std::vector<uint8_t> data;
    uint16_t wkc = 0;
    uint16_t irq = 0;
    uint8_t index = 0;

    static Datagram logical(uint8_t command, uint32_t address, std::vector<uint8_t> data);
};

// Writes a capture file (pcap, Ethernet link type) of frames.
class Pcap_Writer {
public:
    explicit Pcap_Writer(const std::string& path);
    ~Pcap_Writer();
    Pcap_Writer(const Pcap_Writer&) = delete;
    Pcap_Writer& operator=(const Pcap_Writer&) = delete;
    void write(const uint8_t* frame, size_t size);
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    FILE* m_file = nullptr;
};

class Test_Master {
public:
    Test_Master(const std::string& interface, Pcap_Writer* capture);

    // One frame with these datagrams; the reply decoded into them. False
    // when nothing came back within the time-out.
    [[nodiscard]] bool try_exchange(std::vector<Datagram>& datagrams,
                                    std::chrono::milliseconds timeout = std::chrono::milliseconds(200));
    // The same; a missing reply fails the test (throws).
    void exchange(std::vector<Datagram>& datagrams);
    Datagram exchange(Datagram datagram);
    // Raw frame exchange: the reply, empty when none came back.
    std::vector<uint8_t> exchange_raw(const std::vector<uint8_t>& frame,
                                      std::chrono::milliseconds timeout = std::chrono::milliseconds(200));

    // Single-datagram helpers.
    Datagram read(uint8_t command, uint16_t adp, uint16_t ado, size_t length);
    Datagram write(uint8_t command, uint16_t adp, uint16_t ado, const std::vector<uint8_t>& data);
    uint16_t fprd16(uint16_t station, uint16_t ado);
    uint32_t fprd32(uint16_t station, uint16_t ado);
    uint64_t fprd64(uint16_t station, uint16_t ado);
    int fpwr(uint16_t station, uint16_t ado, const std::vector<uint8_t>& data);

    // Station addresses 0x1001.. by position, as a master does first.
    void assign_stations(size_t count);
    // Requests a state; the AL status (state, error bit) that follows.
    uint16_t request_state(uint16_t station, uint16_t control);
    // Mailbox sync managers as the EEPROM gives them, then PRE-OP.
    uint16_t to_preop(uint16_t station, uint16_t out_start = 0x1000, uint16_t out_size = 128,
                      uint16_t in_start = 0x1080, uint16_t in_size = 128);
    // A sync manager record.
    void set_sm(uint16_t station, int n, uint16_t start, uint16_t length, uint8_t control, bool enable);
    void set_fmmu(uint16_t station, int n, uint32_t logical, uint16_t length, uint8_t start_bit, uint8_t stop_bit,
                  uint16_t physical, uint8_t physical_bit, uint8_t type);

    // Mailbox: writes the message (padded to the mailbox size) and reads the
    // reply once the read mailbox is full; empty on time-out.
    void mailbox_send(uint16_t station, const std::vector<uint8_t>& message, uint16_t start = 0x1000,
                      uint16_t size = 128);
    std::vector<uint8_t> mailbox_receive(uint16_t station, uint16_t start = 0x1080, uint16_t size = 128,
                                         std::chrono::milliseconds timeout = std::chrono::milliseconds(500));

    // SII word read through 0x0500..0x050F: 4 or 8 bytes of data.
    std::vector<uint8_t> eeprom_read(uint16_t station, uint16_t word);
    // The status word after the write has finished.
    uint16_t eeprom_write(uint16_t station, uint16_t word, uint16_t value, bool enable = true);
    uint16_t eeprom_wait(uint16_t station);

private:
    std::unique_ptr<ecat_sim::Raw_Ethernet_Socket> m_socket;
    Pcap_Writer* m_capture;
    uint8_t m_index = 0;
    uint8_t m_mailbox_counter = 0;

public:
    uint8_t next_mailbox_counter()
    {
        m_mailbox_counter = static_cast<uint8_t>(m_mailbox_counter >= 7 ? 1 : m_mailbox_counter + 1);
        return m_mailbox_counter;
    }
};

// A segment on a veth pair, a master on the other end, and at the end the
// check that tshark decodes every captured frame without a malformed mark.
class Segment_Test : public ::testing::Test {
protected:
    void start(const std::string& config_text,
               ecat_sim::Sim_Options options = ecat_sim::Veth_Segment::default_options());
    void TearDown() override;

    std::unique_ptr<Pcap_Writer> m_capture;
    std::unique_ptr<ecat_sim::Veth_Segment> m_segment;
    std::unique_ptr<Test_Master> m_master;
    std::unique_ptr<ecat_sim::Sim_Control_Client> m_control;

    Test_Master& master() { return *m_master; }
    std::string control(const std::string& command) { return m_control->request(command); }
};

// tshark over a capture: the lines that mark a malformed or erroneous
// decode; empty when clean. Skips (returns "") when tshark is missing.
std::string tshark_problems(const std::string& path, int& frames_decoded);
bool tshark_available();

// Little-endian helpers of the tests.
std::vector<uint8_t> le16(uint16_t value);
std::vector<uint8_t> le32(uint32_t value);
uint16_t get_le16(const std::vector<uint8_t>& bytes, size_t offset);
uint32_t get_le32(const std::vector<uint8_t>& bytes, size_t offset);
