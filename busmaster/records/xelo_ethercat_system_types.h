#pragma once

// What busmaster shares with its clients: the three shared memories, the
// enumerations whose numbers travel in the command protocol and in the tick
// memory, and the protocol's address, port, version and words.
//
// The memories use natural alignment, no packing. On the 32-bit ARM target
// (pthread_mutex_t 24 B, sem_t 16 B) the sizes are 8216, 5032 and 52 bytes;
// natively the same source gives the same layout with the platform's own
// widths of those two types. Master and clients must be built against this
// one header.

#include <pthread.h>
#include <semaphore.h>

#include <cstddef>
#include <cstdint>

// EtherCAT application-layer states.
enum State_Enum : int32_t {
    NO_STATE = 0,
    INIT_STATE = 1,
    PREOP_STATE = 2,
    SAFEOP_STATE = 4,
    OP_STATE = 8,
};

// State of the master service.
enum Ec_System_State : int32_t {
    SYSTEM_SETUP_FAILED = -1,
    SYSTEM_OFF = 0,
    SYSTEM_SETUP_OK = 1,
    SOCKET_OPENED = 2,
    MASTER_ON = 3,
    MASTER_NOT_STARTED = 4,
    SYSTEM_KILLING = 5,
    MASTER_NOT_STOPPED = 6,
};

// Kind of the master's last error.
enum Ec_Master_Error_Type : int32_t {
    NOT_ERROR_PRESENT = 0,
    XENOMAI_WAIT_PERIOD_TIMEOUT_EXCEEDED = 1,
    NET_INTERFACE_NOT_INITIALIZED = 2,
    NO_SET_VALID_CYCLE_TIME = 3,
    ECAT_STATE = 10,
    ECAT_XML_FILE = 20,
    ECAT_XML_INIT_CMD = 21,
    ECAT_XML_SDO = 22,
    ECAT_XML_STRUCT = 23,
    ECAT_CYCLIC_FRAME = 30,
    PUSH_SDO_FAILED = 40,
    START_DC_FAILED = 50,
};

// Detail of the master's last error.
enum EC_Master_Error_Code : int32_t {
    NULL_CODE = 0,
    NOT_FOUND = 1,
    ACTUAL_STATE_NO_CORRECT = 2,
    SLAVE_NUM_NOT_AGREE = 3,
    NO_FRAME_READ = 4,
    DATA_NOT_VALIDATE = 5,
    WORKCOUNTER_NOT_AGREE = 6,
    DIM_NOT_CORRECT = 7,
    NO_WATCHDOG_CHECK = 8,
};

// What became of the outputs in the last cycle (previus_tick_alert).
enum Master_Alerts : int32_t {
    NULL_ALERT = 0,        // the cycle took the outputs from shm_buf_out
    SHM_OUT_NOT_USED = 1,  // the process-data mutex was busy: sent without the clients' new outputs
};

// The master's last error as clients receive it; the slave is 1001 plus its
// position in the ENI slave list, 0 when none is named.
struct ECM_Error_Struct {
    Ec_Master_Error_Type error_type;
    EC_Master_Error_Code error_code;
    int32_t possible_slave_in_error;
};

namespace ecm_shm {
constexpr const char* PDO_NAME = "/shmem_pdo_ethercat";
constexpr const char* INFO_NAME = "/shmem_info_ethercat";
constexpr const char* TICK_NAME = "/shmem_tick_ethercat";
constexpr unsigned MODE = 0600;
constexpr int PROCESS_DATA_BYTES = 4096;  // each of the two images
constexpr int MAX_SLAVES = 100;           // rows of the slave-info arrays
constexpr int FIRST_SLAVE_NUMBER = 1001;  // how clients number slave 0
}  // namespace ecm_shm

// "/shmem_pdo_ethercat": both images under one mutex.
struct Shared_Pdo_Mem_Region {
    pthread_mutex_t shm_mutex;
    uint8_t shm_buf_in[ecm_shm::PROCESS_DATA_BYTES];   // written by the cyclic thread
    uint8_t shm_buf_out[ecm_shm::PROCESS_DATA_BYTES];  // written by the clients
};

// "/shmem_info_ethercat": where each slave's data lies; index i is the
// slave's position in the ENI file.
struct Shared_Slave_Info_Mem_Region {
    pthread_mutex_t shm_mutex;
    int32_t num_of_xml_slaves;
    int32_t num_of_active_slaves;
    uint16_t configaddress[ecm_shm::MAX_SLAVES];
    int32_t has_output[ecm_shm::MAX_SLAVES];
    int32_t num_output[ecm_shm::MAX_SLAVES];
    int32_t out_bytes[ecm_shm::MAX_SLAVES];
    int32_t out_bits[ecm_shm::MAX_SLAVES];
    int32_t out_shm_start_byte[ecm_shm::MAX_SLAVES];
    int32_t out_shm_start_offs_bit[ecm_shm::MAX_SLAVES];
    int32_t has_input[ecm_shm::MAX_SLAVES];
    int32_t num_input[ecm_shm::MAX_SLAVES];
    int32_t in_bytes[ecm_shm::MAX_SLAVES];
    int32_t in_bits[ecm_shm::MAX_SLAVES];
    int32_t in_shm_start_byte[ecm_shm::MAX_SLAVES];
    int32_t in_shm_start_offs_bit[ecm_shm::MAX_SLAVES];
};

// "/shmem_tick_ethercat": the semaphore first and the mutex last.
struct Shared_Tick_Mem_Region {
    sem_t shm_sem_tick_ready;          // posted once per OP cycle when its value is 0
    int32_t tick_count;                // cycles since the client last took it; -1: cycle stopped on a fault
    int32_t client_started_cyclic_op;  // 1 once the client took its first tick
    Master_Alerts previus_tick_alert;
    pthread_mutex_t shm_mutex;  // guards the three fields above
};

// ---- layout checks --------------------------------------------------------
namespace ecm_layout {
constexpr std::size_t round_up(std::size_t value, std::size_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}
constexpr std::size_t MUTEX = sizeof(pthread_mutex_t);
constexpr std::size_t SEM = sizeof(sem_t);
constexpr std::size_t TICK_MUTEX_OFFSET = round_up(SEM + 12, alignof(pthread_mutex_t));
}  // namespace ecm_layout

static_assert(sizeof(State_Enum) == 4 && sizeof(Ec_System_State) == 4 && sizeof(Ec_Master_Error_Type) == 4 &&
                  sizeof(EC_Master_Error_Code) == 4 && sizeof(Master_Alerts) == 4,
              "shared enumerations are 4-byte integers");
static_assert(sizeof(ECM_Error_Struct) == 12, "error record");

static_assert(offsetof(Shared_Pdo_Mem_Region, shm_buf_in) == ecm_layout::MUTEX, "pdo layout");
static_assert(offsetof(Shared_Pdo_Mem_Region, shm_buf_out) == ecm_layout::MUTEX + 4096, "pdo layout");
static_assert(sizeof(Shared_Pdo_Mem_Region) == ecm_layout::round_up(ecm_layout::MUTEX + 8192, alignof(pthread_mutex_t)),
              "pdo size");

static_assert(offsetof(Shared_Slave_Info_Mem_Region, num_of_xml_slaves) == ecm_layout::MUTEX, "info layout");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, configaddress) == ecm_layout::MUTEX + 8, "info layout");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, has_output) == ecm_layout::MUTEX + 208, "info layout");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, has_input) == ecm_layout::MUTEX + 2608, "info layout");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, in_shm_start_offs_bit) == ecm_layout::MUTEX + 4608, "info layout");
static_assert(sizeof(Shared_Slave_Info_Mem_Region) ==
                  ecm_layout::round_up(ecm_layout::MUTEX + 5008, alignof(pthread_mutex_t)),
              "info size");

static_assert(offsetof(Shared_Tick_Mem_Region, tick_count) == ecm_layout::SEM, "tick layout");
static_assert(offsetof(Shared_Tick_Mem_Region, previus_tick_alert) == ecm_layout::SEM + 8, "tick layout");
static_assert(offsetof(Shared_Tick_Mem_Region, shm_mutex) == ecm_layout::TICK_MUTEX_OFFSET, "tick layout");
static_assert(sizeof(Shared_Tick_Mem_Region) ==
                  ecm_layout::round_up(ecm_layout::TICK_MUTEX_OFFSET + ecm_layout::MUTEX, alignof(sem_t)),
              "tick size");

// ---- command protocol -----------------------------------------------------
// One datagram per request, "<id>#<command word> <arguments>\n", answered by
// one datagram "<id>#<reply>\n" to the sender.
namespace ecm_protocol {
constexpr const char* CLIENT_ADDRESS = "127.0.0.1";  // where clients reach the master
constexpr int PORT = 500;
constexpr int SYSTEM_VERSION = 32;  // clients refuse any other
constexpr char ID_SEPARATOR = '#';
constexpr char LINE_END = '\n';
constexpr int DATAGRAM_BYTES = 500;  // longest request or reply datagram

constexpr const char* REPLY_OK = "reply_ok";
constexpr const char* REPLY_ERROR = "reply_error";

// Command words.
constexpr const char* START_ETHERCAT_MASTER = "start_ethercat_master";
constexpr const char* RESTART_MASTER_COMUNICATION_WITH_SLAVE = "restart_master_comunication_with_slave";
constexpr const char* STOP_ETHERCAT_MASTER = "stop_ethercat_master";
constexpr const char* GET_SYSTEM_STATE = "get_system_state";
constexpr const char* GET_SYSTEM_VERSION = "get_system_version";
constexpr const char* GET_LAST_SYSTEM_ERROR = "get_last_system_error";
constexpr const char* GET_FRAME_RESEND_INFO = "get_frame_resend_info";
constexpr const char* GET_MASTER_ETHERCAT_STATE = "get_master_ethercat_state";
constexpr const char* GET_SLAVES_NUMBER = "get_slaves_number";
constexpr const char* GET_SLAVE_ADDRESS = "get_slave_address";
constexpr const char* GET_SLAVE_STATE_INFO = "get_slave_state_info";
constexpr const char* GET_SLAVE_ERRORS_COUNTERS = "get_slave_errors_counters";
constexpr const char* GET_SLAVE_EEPROM_INFO = "get_slave_eeprom_info";
constexpr const char* GO_INTO_NEXT_STATE = "go_into_next_state";
constexpr const char* SET_OP_CYCLE_TIME = "set_op_cycle_time";
constexpr const char* GET_OP_CYCLE_TIME = "get_op_cycle_time";
constexpr const char* GET_SLAVE_INPUT_INDEX = "get_slave_input_index";
constexpr const char* GET_SLAVE_INPUT_SUBINDEX = "get_slave_input_subindex";
constexpr const char* GET_SLAVE_INPUT_BITLENGTH = "get_slave_input_bitlength";
constexpr const char* GET_SLAVE_OUTPUT_INDEX = "get_slave_output_index";
constexpr const char* GET_SLAVE_OUTPUT_SUBINDEX = "get_slave_output_subindex";
constexpr const char* GET_SLAVE_OUTPUT_BITLENGTH = "get_slave_output_bitlength";
constexpr const char* SET_DATA_VIA_SDO = "set_data_via_sdo";
constexpr const char* GET_DATA_VIA_SDO = "get_data_via_sdo";
constexpr const char* GET_MASTER_TIME_INFO = "get_master_time_info";
constexpr const char* GET_MASTER_TIME_INFO_FIRST_FRAME = "get_master_time_info_first_frame";
constexpr const char* GET_MASTER_TIME_SLOT_INFO = "get_master_time_slot_info";
constexpr const char* GET_MASTER_JITTER_INFO = "get_master_jitter_info";
constexpr const char* GET_FRAME_GAP_TIME_INFO = "get_frame_gap_time_info";
constexpr const char* PUSH_SDO_INTO_QUEUE = "push_sdo_into_queue";
constexpr const char* POP_SDO_FROM_QUEUE = "pop_sdo_from_queue";
constexpr const char* REQUEST_TIMER_INFO_RESET = "request_timer_info_reset";
constexpr const char* CLOSE_CONNECTION = "close_connection";
constexpr const char* SET_WATCHDOG_ON = "set_watchdog_on";
constexpr const char* SET_WATCHDOG_OFF = "set_watchdog_off";
constexpr const char* WRITE_INTO_EEPROM_CONFIG_ALIAS = "write_into_eeprom_config_alias";
constexpr const char* AUTO_INCR_SLAVE_INFO = "auto_incr_slave_info";
constexpr const char* CHECK_SLAVES_LINK = "check_slaves_link";
}  // namespace ecm_protocol
