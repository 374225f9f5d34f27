#include "xelo_ethercat_master_socket.h"

#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "ecm_log.h"
#include "ecm_request_arguments.h"
#include "xelo_string_functions.h"

namespace {
// Texts of one memory's creation steps.
struct Shm_Texts {
    const char* start;
    const char* opened;
    const char* open_perror;
    const char* truncate_perror;
    const char* mmap_perror;  // nullptr: the failure is not printed
    const char* mmap_failure;
    const char* mapped;
};

const Shm_Texts PDO_TEXTS{"ECM_Master_Socket::create_and_map_pdo_shared_memory() ",
                          "\t m_shmem_pdo_fd ",
                          "shm_pdo_open",
                          "ftruncate pdo_",
                          nullptr,
                          "Failed to shmem_pdo_mmap -> ",
                          "\t m_shmem_pdo_ptr mappato "};
const Shm_Texts INFO_TEXTS{"ECM_Master_Socket::create_and_map_info_slave_shared_memory() ",
                           "\t m_shmem_info_slave_fd ",
                           "shm_info_slave_open",
                           "ftruncate info_slave_",
                           "mmap info_slave_",
                           "Failed to shmem_info_slave_mmap",
                           "\t m_shmem_info_slave_ptr mappato "};
const Shm_Texts TICK_TEXTS{"ECM_Master_Socket::create_and_map_tick_shared_memory() ",
                           "\t m_shmem_tick_fd ",
                           "shm_tick_open",
                           "ftruncate tick_",
                           "mmap tick_",
                           "Failed to shmem_tick_mmap",
                           "\t m_shmem_tick_ptr mappato "};

// Creates and maps one memory of size bytes. A memory of this name left by
// a killed master is unlinked, not used again: a client may still sleep on
// its semaphore or hold its mutex, which must not be initialised under it.
// The client maps the new memory when it connects again.
void* create_and_map(const char* name, std::size_t size, const Shm_Texts& texts, int* fd, int* status)
{
    ecm_log_inf(texts.start);
    if (shm_unlink(name) != 0 && errno != ENOENT) {
        const int err = errno;
        perror(texts.open_perror);
        throw std::runtime_error(std::string("Failed to shmem_unlink") + std::strerror(err));
    }
    *fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, ecm_shm::MODE);
    if (*fd == -1) {
        const int err = errno;
        perror(texts.open_perror);
        throw std::runtime_error(std::string("Failed to shmem_open") + std::strerror(err));
    }
    ecm_log_inf(texts.opened + std::to_string(*fd));
    *status = ftruncate(*fd, static_cast<off_t>(size));
    if (*status == -1) {
        const int err = errno;
        perror(texts.truncate_perror);
        throw std::runtime_error(std::string("Failed to shmem_ftruncate") + std::strerror(err));
    }
    void* ptr = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, *fd, 0);
    if (ptr == MAP_FAILED) {
        const int err = errno;
        if (texts.mmap_perror != nullptr)
            perror(texts.mmap_perror);
        throw std::runtime_error(std::string(texts.mmap_failure) + std::strerror(err));
    }
    return ptr;
}

bool table_misses(const std::string& word);

// A request line split at "#" (a run of them counts as one): the id before
// it, read as strtol reads it, and the command behind it. A line without a
// "#" is all command with the id 0; "<id>#" alone has an id and no command.
struct Framed_Request {
    long id = 0;
    std::string command;
};

Framed_Request frame_request(const std::string& line)
{
    const std::vector<std::string> pieces =
        XELO_String_Functions::tokenize(line, std::string(1, ecm_protocol::ID_SEPARATOR));
    if (pieces.size() >= 2)
        return {std::strtol(pieces[0].c_str(), nullptr, 10), pieces[1]};
    const bool id_alone = pieces.size() == 1 && line.compare(0, pieces[0].size(), pieces[0]) == 0 &&
                          line.find(ecm_protocol::ID_SEPARATOR) != std::string::npos;
    if (id_alone)
        return {std::strtol(pieces[0].c_str(), nullptr, 10), std::string()};
    return {0, line};
}

std::string number_text(long long value)
{
    return XELO_String_Functions::num2str(value);
}
}  // namespace

ECM_Master_Socket::ECM_Master_Socket(const std::string& xml_base_cfg_file, bool soft_reatime_on,
                                     uint32_t soft_realtime_max_cycle_jitter, uint32_t max_consecutive_frame_faults)
{
    try {
        load_xml_info(xml_base_cfg_file);
        create_and_map_pdo_shared_memory();
        create_and_map_info_slave_shared_memory();
        create_and_map_tick_shared_memory();
        m_ecm_socket_real_udp_server = std::make_unique<ServerSocket_Udp_ex>(m_ecm_user_socket_real_udp_ip_addr.c_str(),
                                                                             m_ecm_user_socket_real_udp_port);
        set_command_server_endpoint(m_ecm_user_socket_real_udp_ip_addr, m_ecm_user_socket_real_udp_port);
        init_ex(m_ecm_net_interface_name, m_shmem_pdo_ptr, m_shmem_info_slave_ptr, m_shmem_tick_ptr);
        if (soft_reatime_on)
            soft_realtime_activate(soft_realtime_max_cycle_jitter);
        set_max_consecutive_frame_faults(max_consecutive_frame_faults);
        m_ecm_system_state = SYSTEM_SETUP_OK;
        m_ecm_system_version = ecm_protocol::SYSTEM_VERSION;
    } catch (const std::exception& e) {
        ecm_log_err(std::string("ECM_Master_Socket error on constructor: ") + e.what());
        m_ecm_system_state = SYSTEM_SETUP_FAILED;
    }
}

// The memories themselves stay for the clients; only this process's
// mappings and descriptors go.
ECM_Master_Socket::~ECM_Master_Socket()
{
    // The cyclic thread uses the memories: it ends before they are unmapped.
    try {
        shutdown_cyclic_frame_ex();
    } catch (const std::exception& e) {
        ecm_log_err(e.what());
    }
    if (m_shmem_pdo_ptr != nullptr)
        munmap(m_shmem_pdo_ptr, sizeof(Shared_Pdo_Mem_Region));
    if (m_shmem_info_slave_ptr != nullptr)
        munmap(m_shmem_info_slave_ptr, sizeof(Shared_Slave_Info_Mem_Region));
    if (m_shmem_tick_ptr != nullptr)
        munmap(m_shmem_tick_ptr, sizeof(Shared_Tick_Mem_Region));
    for (int fd : {m_shmem_pdo_fd, m_shmem_info_slave_fd, m_shmem_tick_fd})
        if (fd >= 0)
            close(fd);
}

void ECM_Master_Socket::load_xml_info(const std::string& xml_cfg_file)
{
    ecm_log_inf("ECM_Master_Socket::load_xml_info() ");
    m_xml_ecm_system.load_ex(xml_cfg_file);
    xmlpp::Node* system_config = m_xml_ecm_system.get_node_ex("SystemConfig");
    xmlpp::Node* cfg = m_xml_ecm_system.get_node_ex("Cfg", system_config);

    if (m_xml_ecm_system.has_unique_element("EtherCATNetInterface", cfg))
        m_ecm_net_interface_name = m_xml_ecm_system.get_element_value_ex<std::string>("EtherCATNetInterface", cfg);
    ecm_log_inf("\t ec_net_interface_name " + m_ecm_net_interface_name);

    if (m_xml_ecm_system.has_unique_element("EtheCATUserSocketIpAddr", cfg))
        m_ecm_user_socket_real_udp_ip_addr =
            m_xml_ecm_system.get_element_value_ex<std::string>("EtheCATUserSocketIpAddr", cfg);
    ecm_log_inf("\t m_ecm_user_socket_ip_addr " + m_ecm_user_socket_real_udp_ip_addr);

    const bool has_port = m_xml_ecm_system.has_unique_element("EtheCATUserSocketPort", cfg);
    if (has_port)
        m_ecm_user_socket_real_udp_port =
            m_xml_ecm_system.get_element_value_ex<int>("EtheCATUserSocketPort", std::dec, cfg);
    ecm_log_inf("\t m_ecm_user_socket_port " + number_text(m_ecm_user_socket_real_udp_port));
    if (!has_port)
        throw std::runtime_error(
            "Error element : EtheCATUserSocketPort => not present in the xml file or is not unique!");
}

void ECM_Master_Socket::create_and_map_pdo_shared_memory()
{
    m_shmem_pdo_ptr =
        static_cast<Shared_Pdo_Mem_Region*>(create_and_map(ecm_shm::PDO_NAME, sizeof(Shared_Pdo_Mem_Region), PDO_TEXTS,
                                                           &m_shmem_pdo_fd, &m_shmem_pdo_status));
    init_pthread_mutex_ex(&m_shmem_pdo_ptr->shm_mutex, true, true, true);
    ecm_log_inf(PDO_TEXTS.mapped);
}

void ECM_Master_Socket::create_and_map_info_slave_shared_memory()
{
    m_shmem_info_slave_ptr = static_cast<Shared_Slave_Info_Mem_Region*>(
        create_and_map(ecm_shm::INFO_NAME, sizeof(Shared_Slave_Info_Mem_Region), INFO_TEXTS, &m_shmem_info_slave_fd,
                       &m_shmem_info_slave_status));
    init_pthread_mutex_ex(&m_shmem_info_slave_ptr->shm_mutex, true, true, true);
    ecm_log_inf(INFO_TEXTS.mapped);
}

void ECM_Master_Socket::create_and_map_tick_shared_memory()
{
    m_shmem_tick_ptr =
        static_cast<Shared_Tick_Mem_Region*>(create_and_map(ecm_shm::TICK_NAME, sizeof(Shared_Tick_Mem_Region),
                                                            TICK_TEXTS, &m_shmem_tick_fd, &m_shmem_tick_status));
    if (sem_init(&m_shmem_tick_ptr->shm_sem_tick_ready, 1, 0) != 0) {
        ecm_log_inf("\t Failed to shm_sem_tick_ready...try to destroy and re-init ");
        if (sem_destroy(&m_shmem_tick_ptr->shm_sem_tick_ready) != 0)
            throw std::runtime_error(std::string("Failed to sem_destroy ") + std::strerror(errno));
        if (sem_init(&m_shmem_tick_ptr->shm_sem_tick_ready, 1, 0) != 0)
            throw std::runtime_error(std::string("Failed to sem_init again... ") + std::strerror(errno));
    }
    init_pthread_mutex_ex(&m_shmem_tick_ptr->shm_mutex, true, true, true);
    ecm_log_inf(TICK_TEXTS.mapped);
}

void ECM_Master_Socket::set_gap_minimo_ns(uint32_t gap_min_ns)
{
    ECM_Master::set_gap_minimo_ns(gap_min_ns);
}

void ECM_Master_Socket::open_socket_real_udp()
{
    try {
        ecm_log_inf("ECM_Master_Socket wait_client_connect()");
        m_ecm_system_state = SOCKET_OPENED;
        m_is_ecm_real_udp_socket_active = true;
    } catch (const std::exception&) {
        close_connection_with_client_real_udp();
        throw std::runtime_error("Attention: no accept connection or no delay socket set");
    }
}

void ECM_Master_Socket::wait_request_real_udp()
{
    if (!m_ecm_socket_real_udp_server)
        throw std::runtime_error("Attention: ECM_Master_Socket -> error read from socket");
    try {
        *m_ecm_socket_real_udp_server >> m_ecm_socket_request_read_real_udp;
        m_request_too_long = m_ecm_socket_real_udp_server->last_read_was_truncated();
        m_request_terminated = m_ecm_socket_real_udp_server->last_line_was_terminated();
    } catch (const std::exception&) {
        throw std::runtime_error("Attention: ECM_Master_Socket -> error read from socket");
    }
}

void ECM_Master_Socket::execute_request_and_reply_real_udp()
{
    m_reply_real_udp = ecm_protocol::REPLY_ERROR;
    const Framed_Request request = frame_request(m_ecm_socket_request_read_real_udp);
    m_ecm_socket_request_read_real_udp = request.command;
    std::istringstream stream(m_ecm_socket_request_read_real_udp);
    std::string word;
    stream >> word;

    // Never act on a request that arrived cut, without its line end or without a word.
    std::string refusal;
    if (m_request_too_long)
        refusal = "longer than " + number_text(Socket_Udp::LINE_BUFFER) + " bytes";
    else if (!m_request_terminated)
        refusal = "without its line end";
    else if (word.empty())
        refusal = "without a command word";
    if (refusal.empty())
        dispatch_request_ex(word, stream);
    else
        ecm_log_war("ECM_Master_Socket: request " + refusal + " refused");
    *m_ecm_socket_real_udp_server << number_text(request.id) + ecm_protocol::ID_SEPARATOR + m_reply_real_udp;
}

void ECM_Master_Socket::dispatch_request_ex(const std::string& word, std::istream& args)
{
    m_is_critical_request_real_udp = true;
    try {
        const auto& table = command_table();
        const auto handler = table.find(word);
        if (handler == table.end()) {
            // A stray or mistyped word is only refused, in every state: ending
            // the connection would take the slaves to INIT and clear the master.
            m_is_critical_request_real_udp = false;
            throw std::runtime_error("Request not found in EtherCAT Master Socket API! [ " + word);
        }
        m_reply_real_udp = (this->*(handler->second))(args);
    } catch (const std::exception& e) {
        if (m_is_critical_request_real_udp)
            throw std::runtime_error(std::string("Attention: execution request not possible -> ") + e.what());
        if (table_misses(word))
            ecm_log_war(std::string("ECM_Master_Socket: ") + e.what() + " -> reply_error");
    }
}

void ECM_Master_Socket::close_connection_with_client_real_udp()
{
    // The configuration goes even when the slaves could not be taken to INIT.
    try {
        go_to_next_state_ex(INIT_STATE);
    } catch (const std::exception& e) {
        ecm_log_err(std::string("ECM_Master_Socket close_connection_with_client error: ") + e.what());
    }
    try {
        clear_system();
    } catch (const std::exception& e) {
        ecm_log_err(std::string("ECM_Master_Socket close_connection_with_client error: ") + e.what());
    }
    m_is_ecm_real_udp_socket_active = false;
}

void ECM_Master_Socket::get_master_last_error(ECM_Error_Struct* error) const
{
    get_last_error(&error->error_type, &error->error_code, &error->possible_slave_in_error);
}

const std::map<std::string, ECM_Master_Socket::Handler>& ECM_Master_Socket::command_table()
{
    namespace p = ecm_protocol;
    static const std::map<std::string, Handler> table{
        {p::GET_SYSTEM_STATE, &ECM_Master_Socket::get_system_state},
        {p::GET_SYSTEM_VERSION, &ECM_Master_Socket::get_system_version},
        {p::GET_LAST_SYSTEM_ERROR, &ECM_Master_Socket::get_last_system_error},
        {p::GET_FRAME_RESEND_INFO, &ECM_Master_Socket::get_frame_resend_info_exec},
        {p::GET_MASTER_ETHERCAT_STATE, &ECM_Master_Socket::get_master_ethercat_state_exec},
        {p::GET_OP_CYCLE_TIME, &ECM_Master_Socket::get_op_cycle_time_exec},
        {p::REQUEST_TIMER_INFO_RESET, &ECM_Master_Socket::request_timer_info_reset_exec},
        {p::CLOSE_CONNECTION, &ECM_Master_Socket::close_connection_exec},
        {p::GET_MASTER_TIME_INFO, &ECM_Master_Socket::get_master_time_info_exec},
        {p::GET_MASTER_TIME_INFO_FIRST_FRAME, &ECM_Master_Socket::get_master_time_info_first_frame_exec},
        {p::GET_MASTER_TIME_SLOT_INFO, &ECM_Master_Socket::get_master_slot_time_info_exec},
        {p::GET_MASTER_JITTER_INFO, &ECM_Master_Socket::get_master_jitter_time_info_exec},
        {p::GET_FRAME_GAP_TIME_INFO, &ECM_Master_Socket::get_frame_gap_time_info_exec},
        {p::START_ETHERCAT_MASTER, &ECM_Master_Socket::start_ec_master},
        {p::RESTART_MASTER_COMUNICATION_WITH_SLAVE, &ECM_Master_Socket::restart_master_comunication_with_slave},
        {p::STOP_ETHERCAT_MASTER, &ECM_Master_Socket::stop_ec_master},
        {p::GO_INTO_NEXT_STATE, &ECM_Master_Socket::go_to_next_state_exec},
        {p::GET_SLAVES_NUMBER, &ECM_Master_Socket::get_slaves_number_exec},
        {p::GET_SLAVE_STATE_INFO, &ECM_Master_Socket::get_slave_state_info_exec},
        {p::GET_SLAVE_ADDRESS, &ECM_Master_Socket::get_slave_address_exec},
        {p::GET_SLAVE_ERRORS_COUNTERS, &ECM_Master_Socket::get_slave_errors_counters_exec},
        {p::GET_SLAVE_EEPROM_INFO, &ECM_Master_Socket::get_slave_eeprom_info},
        {p::GET_SLAVE_INPUT_INDEX, &ECM_Master_Socket::get_slave_input_index_exec},
        {p::GET_SLAVE_INPUT_SUBINDEX, &ECM_Master_Socket::get_slave_input_subindex_exec},
        {p::GET_SLAVE_INPUT_BITLENGTH, &ECM_Master_Socket::get_slave_input_bitlength_exec},
        {p::GET_SLAVE_OUTPUT_INDEX, &ECM_Master_Socket::get_slave_output_index_exec},
        {p::GET_SLAVE_OUTPUT_SUBINDEX, &ECM_Master_Socket::get_slave_output_subindex_exec},
        {p::GET_SLAVE_OUTPUT_BITLENGTH, &ECM_Master_Socket::get_slave_output_bitlength_exec},
        {p::GET_DATA_VIA_SDO, &ECM_Master_Socket::get_data_via_sdo_exec},
        {p::SET_DATA_VIA_SDO, &ECM_Master_Socket::set_data_via_sdo_exec},
        {p::PUSH_SDO_INTO_QUEUE, &ECM_Master_Socket::push_sdo_exec},
        {p::POP_SDO_FROM_QUEUE, &ECM_Master_Socket::pop_sdo_exec},
        {p::WRITE_INTO_EEPROM_CONFIG_ALIAS, &ECM_Master_Socket::write_config_alias_into_eeprom_slave_exec},
        {p::AUTO_INCR_SLAVE_INFO, &ECM_Master_Socket::auto_incr_slave_info_exec},
        {p::CHECK_SLAVES_LINK, &ECM_Master_Socket::check_slaves_link_exec},
        {p::SET_OP_CYCLE_TIME, &ECM_Master_Socket::set_op_cycle_time_exec},
        {p::SET_WATCHDOG_ON, &ECM_Master_Socket::set_watchdog_on_exec},
        {p::SET_WATCHDOG_OFF, &ECM_Master_Socket::set_watchdog_off_exec},
    };
    return table;
}

namespace {
bool table_misses(const std::string& word)
{
    return ECM_Master_Socket::has_command(word) == false;
}
}  // namespace

bool ECM_Master_Socket::has_command(const std::string& word)
{
    return command_table().count(word) != 0;
}

// ---- cycle settings ----------------------------------------------------------------

std::string ECM_Master_Socket::set_op_cycle_time_exec(std::istream& args)
{
    try {
        set_op_cycle_time_ex(read_int_argument_ex(args, "cycle_time"));
        return ecm_protocol::REPLY_OK;
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on set_op_cycle_time_exec ") + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}

std::string ECM_Master_Socket::set_watchdog_on_exec(std::istream& args)
{
    try {
        set_watchdog_on_ex(read_int_argument_ex(args, "cycles"));
        return ecm_protocol::REPLY_OK;
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on set_watchdog_on_exec ") + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}

std::string ECM_Master_Socket::set_watchdog_off_exec(std::istream& /*args*/)
{
    try {
        set_watchdog_off_ex();
        return ecm_protocol::REPLY_OK;
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on set_watchdog_off_exec ") + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}

std::string ECM_Master_Socket::get_system_version(std::istream& /*args*/)
{
    return number_text(m_ecm_system_version);
}

std::string ECM_Master_Socket::get_system_state(std::istream& /*args*/)
{
    return number_text(m_ecm_system_state);
}

std::string ECM_Master_Socket::get_last_system_error(std::istream& /*args*/)
{
    Ec_Master_Error_Type type = NOT_ERROR_PRESENT;
    EC_Master_Error_Code code = NULL_CODE;
    int slave = 0;
    get_last_error(&type, &code, &slave);
    return "4 " + number_text(type) + " " + number_text(code) + " " + number_text(slave);
}

std::string ECM_Master_Socket::get_frame_resend_info_exec(std::istream& /*args*/)
{
    return "3 " + number_text(get_frame_resend_num()) + " " + number_text(get_consecutive_frame_resend_max());
}

std::string ECM_Master_Socket::get_master_ethercat_state_exec(std::istream& /*args*/)
{
    return number_text(get_master_ethercat_state());
}

std::string ECM_Master_Socket::get_op_cycle_time_exec(std::istream& /*args*/)
{
    return number_text(get_cycle_op_time());
}

std::string ECM_Master_Socket::request_timer_info_reset_exec(std::istream& /*args*/)
{
    request_timer_info_reset();
    return ecm_protocol::REPLY_OK;
}

std::string ECM_Master_Socket::close_connection_exec(std::istream& /*args*/)
{
    close_connection_with_client_real_udp();
    return m_reply_real_udp;  // the default reply stands
}

void ECM_Master_Socket::require_operational_ex(const char* refusal)
{
    m_is_critical_request_real_udp = false;
    if (get_master_ethercat_state() != OP_STATE)
        throw std::runtime_error(refusal);
}

std::string ECM_Master_Socket::get_master_slot_time_info_exec(std::istream& /*args*/)
{
    require_operational_ex(
        "Attention: ECM_Master_Socket -> get_master_slot_info_exec error: master not in operational");
    return "4 " + number_text(get_master_time_slot_actual_ns()) + " " + number_text(get_master_time_slot_min_ns()) +
           " " + number_text(get_master_time_slot_max_ns());
}

std::string ECM_Master_Socket::get_master_jitter_time_info_exec(std::istream& /*args*/)
{
    require_operational_ex(
        "Attention: ECM_Master_Socket -> get_master_jitter_info_exec error: master not in operational");
    return "4 " + number_text(get_jitter_frame_ns()) + " " + number_text(get_jitter_frame_min_ns()) + " " +
           number_text(get_jitter_frame_max_ns());
}

std::string ECM_Master_Socket::get_frame_gap_time_info_exec(std::istream& /*args*/)
{
    require_operational_ex(
        "Attention: ECM_Master_Socket -> get_frame_gap_time_info_exec error: master not in operational");
    return "4 " + number_text(get_gap_frame_to_prev_sync0_ns()) + " " +
           number_text(get_gap_frame_to_prev_sync0_min_ns()) + " " + number_text(get_gap_frame_to_prev_sync0_max_ns());
}

std::string ECM_Master_Socket::get_master_time_info_first_frame_exec(std::istream& /*args*/)
{
    require_operational_ex(
        "Attention: ECM_Master_Socket -> get_master_time_info_first_frame error: master not in operational");
    // Printed as signed 32-bit numbers, as every value not marked unsigned.
    return "5 " + number_text(static_cast<int32_t>(get_first_frame_dc_slave_ref_clock_ns())) + " " +
           number_text(static_cast<int32_t>(get_first_frame_dc_next_sync_time_ns())) + " " +
           number_text(static_cast<int32_t>(get_first_frame_dc_frame_send_time_ns())) + " " +
           number_text(static_cast<int32_t>(get_first_frame_dc_resto_ns()));
}

std::string ECM_Master_Socket::get_master_time_info_exec(std::istream& /*args*/)
{
    require_operational_ex(
        "Attention: ECM_Master_Socket -> get_master_time_info_exec error: master not in operational");
    return "6 " + number_text(get_master_time_slot_actual_ns()) + " " + number_text(get_master_time_slot_max_ns()) +
           " " + number_text(get_master_time_slot_resend_max_ns()) + " " + number_text(get_jitter_frame_ns()) + " " +
           number_text(get_jitter_frame_max_ns());
}

// ---- lifecycle and state ------------------------------------------------------

std::string ECM_Master_Socket::start_failure_reply()
{
    m_ecm_system_state = MASTER_NOT_STARTED;
    return get_xml_data_status_flag() ? "start_only_valid_xml_data" : "ethercat_master_not_started";
}

std::string ECM_Master_Socket::start_ec_master(std::istream& args)
{
    std::string path;
    try {
        path = read_word_argument_ex(args, "eni_file");
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on start_ec_master ") + e.what());
        return start_failure_reply();
    }
    ecm_log_inf("ECM_Master_Socket start_ecm_master() with " + path);
    take_running_network_to_init("Error on start_ec_master ");
    try {
        clear_system();
        set_xml_file_and_leave_no_state_ex(path);
        m_ecm_system_state = MASTER_ON;
        return "started";
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on start_ec_master ") + e.what());
        return start_failure_reply();
    }
}

void ECM_Master_Socket::take_running_network_to_init(const char* handler)
{
    try {
        // INIT stops and joins the cyclic thread.
        if (get_master_ethercat_state() != NO_STATE)
            go_to_next_state_ex(INIT_STATE);
    } catch (const std::exception& e) {
        ecm_log_err(std::string(handler) + e.what());
        shutdown_cyclic_frame_ex();
    }
}

std::string ECM_Master_Socket::restart_master_comunication_with_slave(std::istream& /*args*/)
{
    ecm_log_inf("ECM_Master_Socket restart_master_comunication_with_slave");
    take_running_network_to_init("Error on restart_master_comunication_with_slave ");
    try {
        start_slave_comunication_ex();
        m_ecm_system_state = MASTER_ON;
        return "restart_master_comunication_ok";
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on restart_master_comunication_with_slave ") + e.what());
        return start_failure_reply();
    }
}

std::string ECM_Master_Socket::stop_ec_master(std::istream& /*args*/)
{
    ecm_log_inf("ECM_Master_Socket::stop_ecm_master()");
    try {
        go_to_next_state_ex(INIT_STATE);
        clear_system();
        m_ecm_system_state = SOCKET_OPENED;
        return "stopped";
    } catch (const std::exception&) {
        m_ecm_system_state = MASTER_NOT_STOPPED;
        clear_system();
        return "ethercat_master_not_stopped";
    }
}

std::string ECM_Master_Socket::go_to_next_state_exec(std::istream& args)
{
    std::string requested = "?";
    try {
        const int state = read_int_argument_ex(args, "state");
        requested = number_text(state);
        ecm_log_inf("ECM_Master_Socket::go_to_next_state_exec() ");
        go_to_next_state_ex(static_cast<State_Enum>(state));
        return ecm_protocol::REPLY_OK;
    } catch (const std::exception& e) {
        ecm_log_err("Error on go_to_next_state_exec " + requested + " -> " + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}

// ---- slave queries ----------------------------------------------------------------

std::string ECM_Master_Socket::get_slaves_number_exec(std::istream& /*args*/)
{
    return number_text(get_slaves_number());
}

std::string ECM_Master_Socket::get_slave_state_info_exec(std::istream& args)
{
    m_is_critical_request_real_udp = false;
    const int address = read_int_argument_ex(args, "slave");
    std::string reply = "4 " + number_text(get_slave_state_request_ex(address));
    reply += " " + number_text(get_slave_state_actual_ex(address));
    reply += " " + number_text(get_slave_state_error_code_ex(address));
    return reply;
}

std::string ECM_Master_Socket::get_slave_address_exec(std::istream& args)
{
    m_is_critical_request_real_udp = false;
    return number_text(get_slave_address(read_word_argument_ex(args, "name")));
}

std::string ECM_Master_Socket::get_slave_errors_counters_exec(std::istream& args)
{
    m_is_critical_request_real_udp = false;
    const int address = read_int_argument_ex(args, "slave");
    std::string reply = "5 " + number_text(get_slave_port_in_rx_error_request_ex(address));
    reply += " " + number_text(get_slave_port_out_rx_error_request_ex(address));
    reply += " " + number_text(get_slave_port_in_fw_error_request_ex(address));
    reply += " " + number_text(get_slave_port_out_fw_error_request_ex(address));
    return reply;
}

std::string ECM_Master_Socket::get_slave_eeprom_info(std::istream& args)
{
    m_is_critical_request_real_udp = false;
    const int address = read_int_argument_ex(args, "slave");
    std::string reply = "5 " + number_text(static_cast<int32_t>(get_slave_vendor_id(address)));
    reply += " " + number_text(static_cast<int32_t>(get_slave_product_code(address)));
    reply += " " + number_text(static_cast<int32_t>(get_slave_serial_number(address)));
    reply += " " + number_text(get_slave_configured_alias(address));
    return reply;
}

namespace {
// One process-data entry query: not critical, its own ERR line on failure.
template <typename Query>
std::string pdo_entry_reply(bool* critical, std::istream& args, const char* prefix, Query query)
{
    *critical = false;
    try {
        const int address = read_int_argument_ex(args, "slave");
        const int entry = read_int_argument_ex(args, "entry");
        return XELO_String_Functions::num2str(static_cast<long long>(query(address, entry)));
    } catch (const std::exception& e) {
        ecm_log_err(std::string(prefix) + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}
}  // namespace

std::string ECM_Master_Socket::get_slave_input_index_exec(std::istream& args)
{
    return pdo_entry_reply(&m_is_critical_request_real_udp, args, "Error on get_slave_input_index_exec ",
                           [this](int a, int n) { return get_slave_input_index_ex(a, n); });
}
std::string ECM_Master_Socket::get_slave_input_subindex_exec(std::istream& args)
{
    return pdo_entry_reply(&m_is_critical_request_real_udp, args, "Error on get_slave_input_subindex_exec ",
                           [this](int a, int n) { return get_slave_input_subindex_ex(a, n); });
}
std::string ECM_Master_Socket::get_slave_input_bitlength_exec(std::istream& args)
{
    return pdo_entry_reply(&m_is_critical_request_real_udp, args, "Error on get_slave_input_bitlength_exec ",
                           [this](int a, int n) { return get_slave_input_bitlength_ex(a, n); });
}
std::string ECM_Master_Socket::get_slave_output_index_exec(std::istream& args)
{
    return pdo_entry_reply(&m_is_critical_request_real_udp, args, "Error on get_slave_output_index_exec ",
                           [this](int a, int n) { return get_slave_output_index_ex(a, n); });
}
std::string ECM_Master_Socket::get_slave_output_subindex_exec(std::istream& args)
{
    return pdo_entry_reply(&m_is_critical_request_real_udp, args, "Error on get_slave_output_subindex_exec ",
                           [this](int a, int n) { return get_slave_output_subindex_ex(a, n); });
}
std::string ECM_Master_Socket::get_slave_output_bitlength_exec(std::istream& args)
{
    return pdo_entry_reply(&m_is_critical_request_real_udp, args, "Error on get_slave_output_bitlength_exec ",
                           [this](int a, int n) { return get_slave_output_bitlength_ex(a, n); });
}
