#pragma once

// One simulated EtherCAT slave controller: register file, AL state machine,
// SII EEPROM, sync managers, FMMUs, distributed clock and the device behind it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "coe_server.h"
#include "device.h"
#include "ecat_wire.h"
#include "segment_config.h"

namespace ecat_sim {

class Sim_Log;

constexpr int MAX_PORTS = 4;
constexpr int FMMU_COUNT = 8;
constexpr int SM_COUNT = 8;
constexpr uint8_t RAM_KIB = 8;
constexpr size_t SII_WORDS = 1024;

// Time stamps of one frame at this slave, host monotonic ns (-1: not passed).
struct Frame_Times {
    int64_t port[MAX_PORTS] = {-1, -1, -1, -1};
    int64_t unit = -1;  // at the processing unit
};

struct Phase_Record {
    uint64_t count = 0;
    int64_t last = 0;
    int64_t min = 0;
    int64_t max = 0;
};

class Slave_Controller {
public:
    Slave_Controller(const Slave_Config& config, int position, uint64_t seed, Sim_Log* log);
    Slave_Controller(const Slave_Controller&) = delete;
    Slave_Controller& operator=(const Slave_Controller&) = delete;

    const Slave_Config& config() const { return m_config; }
    int position() const { return m_position; }

    // Power-up: registers reset, EEPROM loaded, INIT.
    void power_up(int64_t now);

    // Topology: physical link on a port (set by the segment).
    void set_link(int port, bool up);
    bool link(int port) const { return m_link[port]; }
    // The frame leaves through this port (loop control and link).
    bool port_open(int port) const;

    // Datagram processing of one frame. Each access returns the working
    // counter this slave adds (0 when not addressed or blocked).
    void begin_frame(const Frame_Times& times);
    bool matches_station(uint16_t adp) const;
    int physical(uint8_t command, uint16_t ado, uint8_t* data, size_t length, bool reader);
    int logical(uint8_t command, uint32_t address, uint8_t* data, size_t length);
    uint16_t irq() const;
    // After the frame: SII command, AL request, mailbox, application cycle.
    void end_frame(bool frame_ok, int64_t now);
    // Between frames: the process-data watchdog, and the device's idle work
    // while no cycle runs.
    void housekeeping(int64_t now);
    // Time in which the simulator did not run is not counted by the
    // process-data watchdog.
    void skip_stall(int64_t ns)
    {
        if (m_wd_armed) {
            m_wd_last += ns;
        }
    }
    bool has_dc() const { return m_config.dc; }
    bool frame_had_process_data() const { return m_frame_logical; }
    // Phase of this frame after SYNC0, kept at the reference clock.
    void record_phase();

    // Scripting.
    void force_state(uint8_t state, uint16_t code);
    void refuse(uint8_t target_state, uint16_t code);  // code 0 clears
    void set_eeprom_busy(int64_t until);
    void set_eeprom_nack(int count) { m_sii_nack = count; }
    void clock_jump(int64_t ns) { m_clock_correction += ns; }
    // A new drift from now on; the clock runs on without a jump.
    void clock_drift(double ppm, int64_t now);
    bool set_error_counter(uint16_t address, uint8_t value);
    Device* device() { return m_device.get(); }
    Coe_Server* coe() { return m_coe.get(); }
    bool send_emergency(const Emergency& emergency);
    void read_memory(uint16_t address, uint8_t* out, size_t length, int64_t now);
    uint16_t sii_word(size_t word) const { return m_sii[word]; }
    // Changes the EEPROM image itself, as a programming tool outside the bus
    // would; the ESC sees it at its next load.
    void set_sii_word(size_t word, uint16_t value) { m_sii[word] = value; }
    const Phase_Record& phase() const { return m_phase; }
    const Pdo_Layout& rx_layout() const { return m_rx; }
    const Pdo_Layout& tx_layout() const { return m_tx; }
    uint8_t al_state() const { return m_state; }
    int64_t local_time(int64_t host_ns) const;
    int64_t system_time(int64_t host_ns) const;
    uint32_t mailbox_dropped() const { return m_queue.dropped(); }

private:
    // The process-data watchdog: SAFE-OP with 0x001B when it expires in OP.
    void watchdog(int64_t now);
    enum class Access_Result { OK, BLOCKED };
    Access_Result check_sm_access(uint16_t address, size_t length, bool write) const;
    void read_bytes(uint16_t address, uint8_t* out, size_t length);
    void write_bytes(uint16_t address, const uint8_t* in, size_t length);
    void refresh(uint16_t address, size_t length);
    bool writable(uint16_t address) const;
    void after_write(uint16_t address, size_t length);
    void after_read(uint16_t address, size_t length);
    bool dc_only(uint16_t address, size_t length) const;

    void sii_load();
    void sii_command(uint16_t value);
    void sii_complete(int64_t now);
    void al_request(uint16_t control);
    void enter(uint8_t state, uint16_t code, bool error);
    uint16_t check_transition(uint8_t from, uint8_t to);
    uint16_t check_mailbox_sms() const;
    uint16_t check_process_sms();
    void mailbox_end_frame();
    void load_read_mailbox();
    void dc_latch();
    void dc_steer(const uint8_t* data, size_t length);
    uint64_t next_sync0(int64_t system) const;
    void update_sm_status(int n);
    uint8_t* sm(int n) { return &m_mem[reg::SM_BASE + reg::SM_SIZE * n]; }
    const uint8_t* sm(int n) const { return &m_mem[reg::SM_BASE + reg::SM_SIZE * n]; }
    bool sm_enabled(int n) const { return (sm(n)[sm::ACTIVATE] & sm::ACTIVATE_ENABLE) != 0; }
    uint16_t sm_start(int n) const { return get16(sm(n) + sm::START); }
    uint16_t sm_length(int n) const { return get16(sm(n) + sm::LENGTH); }
    uint8_t sm_control(int n) const { return sm(n)[sm::CONTROL]; }
    // The area lies inside the memory (the master may set any start and length).
    bool sm_fits(int n) const { return sm_start(n) + static_cast<uint32_t>(sm_length(n)) <= 0x10000u; }
    void publish_al();

    const Slave_Config m_config;
    const int m_position;
    Sim_Log* m_log;
    std::vector<uint8_t> m_mem;
    std::vector<uint16_t> m_sii;
    std::unique_ptr<Device> m_device;
    std::unique_ptr<Coe_Server> m_coe;
    Mailbox_Queue m_queue;
    uint8_t m_last_sent[MAX_MAILBOX] = {};
    size_t m_last_sent_size = 0;
    uint8_t m_last_counter = 0;
    int m_out_sm = -1;  // process-data sync managers
    int m_in_sm = -1;
    Pdo_Layout m_rx;
    Pdo_Layout m_tx;
    std::vector<uint8_t> m_outputs;          // the outputs buffer the device works with
    std::vector<uint8_t> m_unplaced_inputs;  // inputs while the input SM does not fit the layout
    bool m_outputs_valid = false;
    bool m_outputs_received = false;

    bool m_link[MAX_PORTS] = {};
    bool m_auto_closed[MAX_PORTS] = {};

    uint8_t m_state = AL_INIT;
    bool m_error = false;
    uint16_t m_code = 0;
    bool m_al_written = false;
    uint8_t m_refuse_state[16] = {};
    uint16_t m_refuse_code[16] = {};

    // SII interface
    bool m_sii_written = false;
    uint16_t m_sii_written_value = 0;
    int m_sii_pending = 0;  // command running until m_sii_done
    int64_t m_sii_done = 0;
    int64_t m_sii_busy_until = 0;
    int m_sii_nack = 0;

    // Distributed clock
    int64_t m_clock_offset = 0;
    int64_t m_clock_correction = 0;
    double m_drift_ppm = 0;
    int64_t m_drift_origin = 0;
    uint64_t m_dc_start = 0;
    Frame_Times m_times;
    bool m_latch = false;
    Phase_Record m_phase;

    // Process-data watchdog
    int64_t m_wd_last = 0;
    bool m_wd_armed = false;
    int64_t m_last_cycle = 0;  // the device's last cycle

    // Per-frame bookkeeping
    bool m_sm_last_written[SM_COUNT] = {};
    bool m_sm_last_read[SM_COUNT] = {};
    uint8_t m_repeat_seen = 0;
    bool m_frame_logical = false;
    int64_t m_now = 0;
};

}  // namespace ecat_sim
