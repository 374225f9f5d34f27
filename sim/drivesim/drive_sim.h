#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "async_responder.h"
#include "cia402_drive.h"
#include "xelo_framework_shm_manager.h"

// Simulated CiA 402 drives behind a framework that runs without a master
// (rtframe -o, where slave variables are virtual and any client may write
// them). One model per slave address of the application descriptor:
//   - the descriptor's slave outputs of that address (control word, targets)
//     are read from the framework each tick and unpacked into the drive's
//     RxPDO at their byte/bit offsets; its slave inputs (status word, actual
//     values, error code) are packed from the TxPDO and written back, so the
//     descriptor's offsets must follow the drive's default PDO mapping;
//   - its asynchronous variables are served from the drive's object
//     dictionary (index, subindex and data dimension of the descriptor)
//     through the asynchronous responder, with the drive's SDO switches;
//   - the drive steps once per framework tick (dt = master cycle).
// Changes of control word and power state are logged, one line each:
//   "[drivesim] slave <a> cw 0x<cw>"
//   "[drivesim] slave <a> state <power state> sw 0x<sw>"
class Drive_Sim {
public:
    struct Drive_Config {
        uint16_t slave_address = 0;
        sim::Drive_Options options;
    };

    // Reads the descriptor (develop: split files under its local_path) and
    // builds the drives; throws std::runtime_error when a slave has no
    // variable in the descriptor or a variable does not fit the drive's PDOs.
    Drive_Sim(const std::string& descriptor_path, bool develop, const std::vector<Drive_Config>& drives);
    ~Drive_Sim();  // stops and joins the cycle
    Drive_Sim(const Drive_Sim&) = delete;
    Drive_Sim& operator=(const Drive_Sim&) = delete;

    // Attaches to the running framework, binds every variable and starts the
    // cycle (FIFO priority when allowed).
    void start_ex();
    void stop();

    // Runs f on the drive of a slave under the simulation's lock.
    template <typename F>
    auto with_drive(uint16_t slave_address, F f)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return f(drive_ex(slave_address).model);
    }
    // Applies the drive's SDO delay and silence to the responder (after a change).
    void apply_sdo_behaviour_ex(uint16_t slave_address);
    std::vector<uint16_t> slave_addresses() const;
    // Why the cycle stopped, empty while it runs.
    std::string failure() const;

private:
    struct Cyclic_Binding {
        std::string label;
        Type_Definition type = UNDEFINED_TYPE_FSM;
        uint32_t bit_offset = 0;
        uint32_t byte_dim = 0;
        int id = -1;  // input id (from the master side) or output id (to it)
    };
    struct Async_Binding {
        std::string label;
        bool input = true;
        uint16_t index = 0;
        uint8_t subindex = 0;
        uint32_t dimension = 0;
    };
    struct Drive {
        explicit Drive(const sim::Drive_Options& options) : model(options) {}
        uint16_t address = 0;
        sim::Cia402_Drive model;
        std::vector<Cyclic_Binding> from_master;  // slave outputs: RxPDO
        std::vector<Cyclic_Binding> to_master;    // slave inputs: TxPDO
        std::vector<Async_Binding> async;
        std::vector<sim::Pdo_Entry> rx_used, tx_layout;
        std::vector<uint8_t> rx_image, tx_image;
        uint16_t last_cw = 0;
        sim::Power_State last_state = sim::Power_State::NOT_READY_TO_SWITCH_ON;
        bool reported = false;
    };

    Drive& drive_ex(uint16_t slave_address);
    void load_descriptor_ex(const std::string& path, bool develop);
    void bind_ex();
    void run();
    void cycle_ex(double dt);
    void read_from_master_ex(Drive& drive);
    void write_to_master_ex(Drive& drive);
    void report(Drive& drive);

    std::vector<std::unique_ptr<Drive>> m_drives;
    Framework_Shared_Memory_Manager m_framework;
    std::unique_ptr<Async_Responder> m_responder;
    mutable std::mutex m_lock;  // the drives
    std::atomic<bool> m_stop{false};
    std::string m_failure;
    std::thread m_thread;
};
