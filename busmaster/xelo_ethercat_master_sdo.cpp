// CoE SDO transfers of the master: the CoE init commands of the ENI, the
// blocking uploads and downloads of the command server, and the SDO queue
// served by the SDO manager thread beside the cycle.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "ecm_log.h"
#include "ethercatcoe.h"
#include "xelo_ethercat_master_class.h"

namespace {

constexpr uint32_t SDO_TIMEOUT_US = 70000;
constexpr uint32_t SDO_CODE_READ_TIMEOUT_US = 50000;
constexpr std::size_t SDO_MANAGER_STACK = 0x78000;
constexpr const char* MAILBOX_MUTEX = "m_mailbox_mutex";
constexpr const char* SDO_LIST_MUTEX = "m_sdo_list_mutex";

// The transfer buffer: the data plus room for an abort code.
struct Sdo_Buffer {
    uint8_t bytes[ecm_sdo::BUFFER_SIZE + 4] = {};
};

void check_size_ex(long size)
{
    if (size < 0 || size > ecm_sdo::BUFFER_SIZE)
        throw std::runtime_error("Attention: SDO data size " + std::to_string(size) + " out of 0.." +
                                 std::to_string(ecm_sdo::BUFFER_SIZE));
}

std::string code_char(unsigned char code)
{
    return std::string(1, static_cast<char>(code));
}

}  // namespace

// ---- CoE init commands ---------------------------------------------------------------

uint8_t ECM_Master::manage_and_send_CoE_cmd_ex(const CoE_InitCmd* cmd, uint16_t configadr, uint16_t mbx_l,
                                               uint16_t mbx_wo, uint16_t mbx_ro, uint8_t mbx_cnt)
{
    ecm_log_inf("ECM_Master::manage_and_send_CoE_cmd_ex( ... )");
    uint8_t counter = mbx_cnt;
    const auto index = static_cast<uint16_t>(cmd->index_m_el);
    const auto subindex = static_cast<uint8_t>(cmd->sub_index_m_el);
    int wkc = 0;
    bool sent = false;
    if (cmd->ccs_m_el == CoE_InitCmd::SDO_upload && cmd->has_data_o_el) {
        // Ccs 1: a download to the slave.
        Robust_Mutex mailbox_mutex = ecm_mutex(&m_mailbox_mutex, MAILBOX_MUTEX);
        std::lock_guard<Robust_Mutex> mailbox(mailbox_mutex);
        wkc = ec_SDOwrite_ecm(configadr, mbx_l, mbx_wo, mbx_ro, &counter, index, subindex, cmd->complete_access_o_att,
                              static_cast<int>(cmd->data_o_el.size()), cmd->data_o_el.data(), SDO_TIMEOUT_US);
        sent = true;
    } else if (cmd->ccs_m_el == CoE_InitCmd::SDO_download) {
        // Ccs 2: an upload from the slave, checked against Data.
        int size = cmd->has_data_o_el ? static_cast<int>(cmd->data_o_el.size()) : 0;
        std::vector<uint8_t> buffer(static_cast<std::size_t>(std::max(size, 4)), 0);
        {
            Robust_Mutex mailbox_mutex = ecm_mutex(&m_mailbox_mutex, MAILBOX_MUTEX);
            std::lock_guard<Robust_Mutex> mailbox(mailbox_mutex);
            wkc = ec_SDOread_ecm(configadr, mbx_l, mbx_wo, mbx_ro, &counter, index, subindex, false, &size,
                                 buffer.data(), SDO_TIMEOUT_US);
        }
        sent = true;
        if (wkc > 0) {
            m_last_data_read.assign(buffer.begin(), buffer.begin() + size);
            if (cmd->has_data_o_el && bytes_differ_ex(m_last_data_read, cmd->data_o_el)) {
                set_last_master_error(ECAT_XML_SDO, DATA_NOT_VALIDATE, 0);
                throw std::runtime_error("Attention: read sdo xml data no expected");
            }
        }
    }
    if (sent && wkc > 0)
        return counter;
    set_last_master_error(ECAT_XML_SDO, NO_FRAME_READ, check_slave_active() + ecm_shm::FIRST_SLAVE_NUMBER);
    throw std::runtime_error("Attention: no read sdo xml mailbox");
}

// ---- blocking transfers ----------------------------------------------------------------

ECM_Slave& ECM_Master::sdo_slave_ex(uint16_t conf_addr, const char* caller)
{
    ECM_Slave* slave = find_slave(conf_addr);
    if (slave == nullptr)
        throw std::runtime_error(std::string("Attention: ") + caller + " -> no slave with address " +
                                 std::to_string(conf_addr));
    if (!slave->has_mailbox())
        throw std::runtime_error(std::string("Attention: ") + caller +
                                 " -> not mailbox at slave: " + std::to_string(conf_addr));
    return *slave;
}

void ECM_Master::get_data_via_sdo_ex(uint16_t conf_addr, int index, int subindex, int /*size*/,
                                     std::vector<uint8_t>* data)
{
    check_size_ex(static_cast<long>(data->size()));
    Robust_Mutex mailbox_mutex = ecm_mutex(&m_mailbox_mutex, MAILBOX_MUTEX);
    std::lock_guard<Robust_Mutex> mailbox(mailbox_mutex);
    ECM_Slave& slave = sdo_slave_ex(conf_addr, "get_data_via_sdo_ex");
    Sdo_Buffer buffer;
    uint8_t counter = slave.get_mailbox_counter();
    int size = static_cast<int>(data->size());
    const int wkc = ec_SDOread_ecm(conf_addr, slave.get_mailbox_length(), slave.get_mailbox_writeoffset(),
                                   slave.get_mailbox_readoffset(), &counter, static_cast<uint16_t>(index),
                                   static_cast<uint8_t>(subindex), false, &size, buffer.bytes, SDO_TIMEOUT_US);
    slave.set_mailbox_counter(counter);
    if (wkc <= 0)
        throw std::runtime_error("Attention: Frame read workcounter is zero");
    data->assign(buffer.bytes, buffer.bytes + size);
}

void ECM_Master::set_data_via_sdo_ex(uint16_t conf_addr, int index, int subindex, unsigned int size,
                                     std::vector<uint8_t> data)
{
    if (size != data.size())
        throw std::runtime_error("Attention: data size not correct");
    check_size_ex(static_cast<long>(size));
    Robust_Mutex mailbox_mutex = ecm_mutex(&m_mailbox_mutex, MAILBOX_MUTEX);
    std::lock_guard<Robust_Mutex> mailbox(mailbox_mutex);
    ECM_Slave& slave = sdo_slave_ex(conf_addr, "set_data_via_sdo_ex");
    uint8_t counter = slave.get_mailbox_counter();
    const int wkc =
        ec_SDOwrite_ecm(conf_addr, slave.get_mailbox_length(), slave.get_mailbox_writeoffset(),
                        slave.get_mailbox_readoffset(), &counter, static_cast<uint16_t>(index),
                        static_cast<uint8_t>(subindex), false, static_cast<int>(size), data.data(), SDO_TIMEOUT_US);
    slave.set_mailbox_counter(counter);
    if (wkc <= 0)
        throw std::runtime_error("Attention: Frame read workcounter is zero");
}

void ECM_Master::get_data_via_sdo_and_get_code_ex(uint16_t conf_addr, int index, int subindex, int /*size*/,
                                                  std::vector<uint8_t>* data, unsigned char* code)
{
    check_size_ex(static_cast<long>(data->size()));
    Robust_Mutex mailbox_mutex = ecm_mutex(&m_mailbox_mutex, MAILBOX_MUTEX);
    std::lock_guard<Robust_Mutex> mailbox(mailbox_mutex);
    ECM_Slave& slave = sdo_slave_ex(conf_addr, "get_data_via_sdo_ex_and_get_code_ex");
    Sdo_Buffer buffer;
    uint8_t counter = slave.get_mailbox_counter();
    int size = static_cast<int>(data->size());
    const int wkc = ec_SDOread_get_code_ecm(conf_addr, slave.get_mailbox_length(), slave.get_mailbox_writeoffset(),
                                            slave.get_mailbox_readoffset(), &counter, static_cast<uint16_t>(index),
                                            static_cast<uint8_t>(subindex), false, &size, buffer.bytes,
                                            SDO_CODE_READ_TIMEOUT_US, code);
    slave.set_mailbox_counter(counter);
    if (wkc <= 0 && *code != ecm_sdo::RESULT_FAILED)
        throw std::runtime_error("Attention: get_data_via_sdo_ex_and_get_code_ex -> Frame read workcounter is zero");
    data->assign(buffer.bytes, buffer.bytes + size);
}

void ECM_Master::set_data_via_sdo_and_get_code_ex(uint16_t conf_addr, int index, int subindex, unsigned int size,
                                                  std::vector<uint8_t>* data, unsigned char* code)
{
    if (size != data->size())
        throw std::runtime_error("Attention: data size not correct");
    check_size_ex(static_cast<long>(size));
    Robust_Mutex mailbox_mutex = ecm_mutex(&m_mailbox_mutex, MAILBOX_MUTEX);
    std::lock_guard<Robust_Mutex> mailbox(mailbox_mutex);
    ECM_Slave& slave = sdo_slave_ex(conf_addr, "set_data_via_sdo_ex_and_get_code_ex");
    Sdo_Buffer buffer;
    std::copy(data->begin(), data->end(), buffer.bytes);
    uint8_t abort_code[4] = {0, 0, 0, 0};
    uint8_t counter = slave.get_mailbox_counter();
    const int wkc = ec_SDOwrite_get_code_ecm(conf_addr, slave.get_mailbox_length(), slave.get_mailbox_writeoffset(),
                                             slave.get_mailbox_readoffset(), &counter, static_cast<uint16_t>(index),
                                             static_cast<uint8_t>(subindex), false, static_cast<int>(size),
                                             buffer.bytes, SDO_TIMEOUT_US, code, abort_code);
    slave.set_mailbox_counter(counter);
    if (*code == ecm_sdo::RESULT_FAILED) {
        data->assign(abort_code, abort_code + 4);
        return;
    }
    if (wkc <= 0)
        throw std::runtime_error("Attention: set_data_via_sdo_ex_and_get_code_ex -> Frame read workcounter is zero");
}

void ECM_Master::get_emcy_data_via_sdo(uint16_t conf_addr, int index, int subindex, int size,
                                       std::vector<uint8_t>* data, unsigned char* code)
{
    Robust_Mutex mailbox_mutex = ecm_mutex(&m_mailbox_mutex, MAILBOX_MUTEX);
    std::lock_guard<Robust_Mutex> mailbox(mailbox_mutex);
    ECM_Slave& slave = sdo_slave_ex(conf_addr, "get_emcy_data_via_sdo");
    uint8_t counter = slave.get_mailbox_counter();
    const int wkc = ec_emcy_SDOread_get_code_ecm(conf_addr, slave.get_mailbox_length(), slave.get_mailbox_writeoffset(),
                                                 slave.get_mailbox_readoffset(), &counter, static_cast<uint16_t>(index),
                                                 static_cast<uint8_t>(subindex), false, &size, data->data(),
                                                 SDO_CODE_READ_TIMEOUT_US, code);
    if (wkc <= 0)
        ecm_log_inf("get_emcy_data_via_sdo NO DATA code:" + code_char(*code));
    else
        ecm_log_inf("get_emcy_data_via_sdo DATA PRESENT code:" + code_char(*code));
}

template <typename T>
T ECM_Master::read_reg_with_mbx_ex(uint16_t slave_addr, int index, int subindex)
{
    std::vector<uint8_t> bytes(sizeof(T), 0);
    get_data_via_sdo_ex(slave_addr, index, subindex, static_cast<int>(bytes.size()), &bytes);
    T value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;)
        value = static_cast<T>((value << 8) | bytes[i]);
    return value;
}

template unsigned char ECM_Master::read_reg_with_mbx_ex<unsigned char>(uint16_t, int, int);
template unsigned short ECM_Master::read_reg_with_mbx_ex<unsigned short>(uint16_t, int, int);
template unsigned int ECM_Master::read_reg_with_mbx_ex<unsigned int>(uint16_t, int, int);

// ---- the queue -----------------------------------------------------------------------

void ECM_Master::push_sdo_ex(uint16_t conf_addr, int index, int subindex, int size, std::vector<uint8_t> data,
                             unsigned char code)
{
    if (m_actual_ethercat_state != OP_STATE || m_last_error_type != NOT_ERROR_PRESENT) {
        set_last_master_error(PUSH_SDO_FAILED, ACTUAL_STATE_NO_CORRECT, 0);
        throw std::runtime_error("Attention: Push Sdo not permitted in this state !");
    }
    const ECM_Slave* slave = find_slave(conf_addr);
    if (slave != nullptr && !slave->has_mailbox())
        throw std::runtime_error("Attention: Push sdo -> not mailbox at slave: " + std::to_string(conf_addr));
    bool accepted = size >= 0 && size <= ecm_sdo::BUFFER_SIZE && static_cast<std::size_t>(size) == data.size();
    if (accepted && m_control_sdo_code_is_active == 1) {
        if (code == ecm_sdo::EMERGENCY_POLL)
            ecm_log_war("SDO EMCY REQUEST -> TESTING");
        else
            accepted = ecm_sdo::size_of_code(code) == size;
    }
    if (!accepted) {
        set_last_master_error(PUSH_SDO_FAILED, DIM_NOT_CORRECT, 0);
        throw std::runtime_error("Attention: Push sdo code or dim not correct");
    }
    {
        Robust_Mutex sdo_list_mutex = ecm_mutex(&m_sdo_list_mutex, SDO_LIST_MUTEX);
        std::lock_guard<Robust_Mutex> lists(sdo_list_mutex);
        SDOTypemanage request;
        request.conf_addr = conf_addr;
        request.index_el = index;
        request.sub_index_el = subindex;
        request.dim_data_el = size;
        request.sdo_code = code;
        request.data_el = std::move(data);
        m_list_sdo_out.push_back(std::move(request));
    }
    sem_post(&m_sem_list_no_empty);
}

int ECM_Master::pop_sdo_ex(uint16_t* conf_addr, int* index, int* subindex, int* size, std::vector<uint8_t>* data,
                           unsigned char* code)
{
    if (m_actual_ethercat_state != OP_STATE || m_last_error_type != NOT_ERROR_PRESENT)
        throw std::runtime_error("Attention: Pop Sdo not permitted in this state");
    Robust_Mutex sdo_list_mutex = ecm_mutex(&m_sdo_list_mutex, SDO_LIST_MUTEX);
    std::lock_guard<Robust_Mutex> lists(sdo_list_mutex);
    const int waiting = static_cast<int>(m_list_sdo_in.size());
    if (waiting > 0) {
        SDOTypemanage& result = m_list_sdo_in.front();
        *conf_addr = result.conf_addr;
        *index = result.index_el;
        *subindex = result.sub_index_el;
        *size = result.dim_data_el;
        *data = std::move(result.data_el);
        *code = result.sdo_code;
        m_list_sdo_in.pop_front();
    }
    return waiting;
}

void ECM_Master::clear_sdo_lists()
{
    Robust_Mutex sdo_list_mutex = ecm_mutex(&m_sdo_list_mutex, SDO_LIST_MUTEX);
    std::lock_guard<Robust_Mutex> lists(sdo_list_mutex);
    m_list_sdo_out.clear();
    m_list_sdo_in.clear();
    ++m_sdo_list_generation;
}

void ECM_Master::execute_sdo_request(SDOTypemanage& request)
{
    // A failed transfer answers 0x80 with 4 data bytes: the slave's abort
    // code, or 0 when there was no abort.
    auto failed = [&request](const uint8_t* abort_code) {
        request.sdo_code = ecm_sdo::RESULT_FAILED;
        request.data_el.assign(abort_code, abort_code + 4);
        request.dim_data_el = 4;
    };
    static const uint8_t no_abort[4] = {0, 0, 0, 0};
    ECM_Slave* slave = find_slave(request.conf_addr);
    if (slave == nullptr || !slave->has_mailbox()) {
        ecm_log_err("ECM_Master::run_sdo_manager_ex: no slave with a mailbox at address " +
                    std::to_string(request.conf_addr));
        failed(no_abort);
        return;
    }
    const auto index = static_cast<uint16_t>(request.index_el);
    const auto subindex = static_cast<uint8_t>(request.sub_index_el);
    uint8_t counter = slave->get_mailbox_counter();
    if (request.sdo_code == ecm_sdo::EMERGENCY_POLL) {
        int size = request.dim_data_el;
        ec_emcy_SDOread_get_code_ecm(request.conf_addr, slave->get_mailbox_length(), slave->get_mailbox_writeoffset(),
                                     slave->get_mailbox_readoffset(), &counter, index, subindex, false, &size, nullptr,
                                     SDO_CODE_READ_TIMEOUT_US, &request.sdo_code);
        ecm_log_inf(std::string("get_emcy_data_via_sdo ") + (request.sdo_code ? "DATA PRESENT" : "NO DATA") +
                    " code:" + code_char(request.sdo_code));
    }
    if (request.dim_data_el < 0 || request.dim_data_el > ecm_sdo::BUFFER_SIZE ||
        request.data_el.size() != static_cast<std::size_t>(request.dim_data_el)) {
        if (request.sdo_code & (ecm_sdo::DOWNLOAD_BIT | ecm_sdo::UPLOAD_BIT))
            failed(no_abort);
        return;
    }
    Sdo_Buffer buffer;
    if (request.sdo_code & ecm_sdo::DOWNLOAD_BIT) {
        std::copy(request.data_el.begin(), request.data_el.end(), buffer.bytes);
        uint8_t abort_code[4] = {0, 0, 0, 0};
        ec_SDOwrite_get_code_ecm(request.conf_addr, slave->get_mailbox_length(), slave->get_mailbox_writeoffset(),
                                 slave->get_mailbox_readoffset(), &counter, index, subindex, false, request.dim_data_el,
                                 buffer.bytes, SDO_TIMEOUT_US, &request.sdo_code, abort_code);
        if (request.sdo_code == ecm_sdo::RESULT_FAILED)
            failed(abort_code);
    } else if (request.sdo_code & ecm_sdo::UPLOAD_BIT) {
        int size = request.dim_data_el;
        const int wkc =
            ec_SDOread_get_code_ecm(request.conf_addr, slave->get_mailbox_length(), slave->get_mailbox_writeoffset(),
                                    slave->get_mailbox_readoffset(), &counter, index, subindex, false, &size,
                                    buffer.bytes, SDO_CODE_READ_TIMEOUT_US, &request.sdo_code);
        if (wkc > 0) {
            // A shorter object keeps the request's size; its missing high bytes are 0.
            std::fill(buffer.bytes + size, buffer.bytes + ecm_sdo::BUFFER_SIZE, 0);
            request.data_el.assign(buffer.bytes, buffer.bytes + request.dim_data_el);
        } else {
            failed(buffer.bytes);
        }
    }
    slave->set_mailbox_counter(counter);
}

// ---- the SDO manager thread ------------------------------------------------------------

void ECM_Master::start_extra_sdo_manager_ex()
{
    ecm_log_inf("ECM_Master::start_extra_sdo_manager ( ... )");
    if (m_sdomanager_run)
        return;
    if (!m_sem_list_no_empty_ready) {
        if (sem_init(&m_sem_list_no_empty, 0, 0) != 0) {
            ecm_log_inf("\tFailed to sem_init...try to destroy");
            if (sem_destroy(&m_sem_list_no_empty) != 0)
                throw std::runtime_error(std::string("Failed to sem_destroy ") + std::strerror(errno));
            if (sem_init(&m_sem_list_no_empty, 0, 0) != 0)
                throw std::runtime_error(std::string("Failed to sem_init again... ") + std::strerror(errno));
        }
        m_sem_list_no_empty_ready = true;
    }
    ecm_log_inf("sem m_sem_list_no_empty mappato");
    ecm_log_inf("sem m_sem_op_thread_have_priority mappato");
    m_sdo_manager_stop.clear();
    m_sdomanager_run = true;
    try {
        m_sdo_manager_thread.start_ex(SDOmanagerThreadStartup, this, "xelo_sdo_manager", SDO_MANAGER_STACK);
    } catch (const Thread_Error& error) {
        m_sdomanager_run = false;
        throw std::runtime_error(std::string("Failed to create sdo manager Thread") + std::strerror(error.code()));
    } catch (const std::exception&) {
        m_sdomanager_run = m_sdo_manager_thread.is_started();
        throw;
    }
}

void* ECM_Master::SDOmanagerThreadStartup(void* master)
{
    if (set_fifo_priority(sched_get_priority_max(SCHED_FIFO) - 5) != 0)
        ecm_log_err("-- pthread_setschedparam error!!!");
    static_cast<ECM_Master*>(master)->run_sdo_manager_ex();
    return nullptr;
}

void ECM_Master::run_sdo_manager_ex()
{
    while (!m_sdo_manager_stop.is_set()) {
        if (sem_wait(&m_sem_list_no_empty) != 0)
            continue;  // EINTR
        if (m_sdo_manager_stop.is_set())
            break;
        try {
            SDOTypemanage request;
            uint64_t generation = 0;
            {
                Robust_Mutex sdo_list_mutex = ecm_mutex(&m_sdo_list_mutex, SDO_LIST_MUTEX);
                std::lock_guard<Robust_Mutex> lists(sdo_list_mutex);
                if (m_list_sdo_out.empty())
                    continue;
                request = m_list_sdo_out.front();
                generation = m_sdo_list_generation;
            }
            {
                // The slave list changes only under this mutex (clear_system).
                Robust_Mutex mailbox_mutex = ecm_mutex(&m_mailbox_mutex, MAILBOX_MUTEX);
                std::lock_guard<Robust_Mutex> mailbox(mailbox_mutex);
                {
                    Robust_Mutex sdo_list_mutex = ecm_mutex(&m_sdo_list_mutex, SDO_LIST_MUTEX);
                    std::lock_guard<Robust_Mutex> lists(sdo_list_mutex);
                    if (generation != m_sdo_list_generation)
                        continue;  // the lists were emptied meanwhile
                }
                execute_sdo_request(request);
            }
            Robust_Mutex sdo_list_mutex = ecm_mutex(&m_sdo_list_mutex, SDO_LIST_MUTEX);
            std::lock_guard<Robust_Mutex> lists(sdo_list_mutex);
            if (generation == m_sdo_list_generation) {
                m_list_sdo_out.pop_front();
                m_list_sdo_in.push_back(std::move(request));
            }
        } catch (const std::exception& e) {
            ecm_log_err(std::string("ECM_Master::run_sdo_manager_ex: ") + e.what());
        }
    }
    ecm_log_inf("--- Delete xelo_sdo_manager thread ---");
}

void ECM_Master::stop_sdo_manager()
{
    if (!m_sdomanager_run)
        return;
    m_sdo_manager_stop.request();
    sem_post(&m_sem_list_no_empty);
    try {
        m_sdo_manager_thread.join_ex();
    } catch (const std::exception& e) {
        ecm_log_err(std::string("ECM_Master::stop_sdo_manager: ") + e.what());
    }
    m_sdomanager_run = false;
}
