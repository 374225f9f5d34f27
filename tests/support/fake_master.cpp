#include "fake_master.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace {
template <typename Record>
Record* create_memory(const char* name)
{
    shm_unlink(name);
    const int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, ecm_shm::MODE);
    if (fd == -1)
        throw std::runtime_error(std::string("shm_open ") + name + ": " + std::strerror(errno));
    if (ftruncate(fd, sizeof(Record)) != 0) {
        close(fd);
        throw std::runtime_error(std::string("ftruncate ") + name + ": " + std::strerror(errno));
    }
    void* data = mmap(nullptr, sizeof(Record), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (data == MAP_FAILED)
        throw std::runtime_error(std::string("mmap ") + name + ": " + std::strerror(errno));
    return static_cast<Record*>(data);
}

void init_master_mutex(pthread_mutex_t* mutex)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_setprotocol(&attr, PTHREAD_PRIO_INHERIT);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
    const int rc = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0)
        throw std::runtime_error(std::string("pthread_mutex_init: ") + std::strerror(rc));
}
}  // namespace

Fake_Master_Memories::Fake_Master_Memories()
{
    m_pdo = create_memory<Shared_Pdo_Mem_Region>(ecm_shm::PDO_NAME);
    m_info = create_memory<Shared_Slave_Info_Mem_Region>(ecm_shm::INFO_NAME);
    m_tick = create_memory<Shared_Tick_Mem_Region>(ecm_shm::TICK_NAME);
    init_master_mutex(&m_pdo->shm_mutex);
    init_master_mutex(&m_info->shm_mutex);
    init_master_mutex(&m_tick->shm_mutex);
    if (sem_init(&m_tick->shm_sem_tick_ready, 1, 0) != 0)
        throw std::runtime_error("sem_init of the tick semaphore");
    for (int j = 0; j < ecm_shm::MAX_SLAVES; ++j) {
        m_info->configaddress[j] = static_cast<uint16_t>(ecm_shm::FIRST_SLAVE_NUMBER + j);
        m_info->in_shm_start_byte[j] = -1;
        m_info->out_shm_start_byte[j] = -1;
    }
}

Fake_Master_Memories::~Fake_Master_Memories()
{
    munmap(m_pdo, sizeof(*m_pdo));
    munmap(m_info, sizeof(*m_info));
    munmap(m_tick, sizeof(*m_tick));
    shm_unlink(ecm_shm::PDO_NAME);
    shm_unlink(ecm_shm::INFO_NAME);
    shm_unlink(ecm_shm::TICK_NAME);
}

void Fake_Master_Memories::set_slave_counts(int configured, int active)
{
    m_info->num_of_xml_slaves = configured;
    m_info->num_of_active_slaves = active;
}

void Fake_Master_Memories::set_inputs(int j, int start_byte, int start_bit, int bytes, int bits, int entries)
{
    m_info->has_input[j] = 1;
    m_info->num_input[j] = entries;
    m_info->in_shm_start_byte[j] = start_byte;
    m_info->in_shm_start_offs_bit[j] = start_bit;
    m_info->in_bytes[j] = bytes;
    m_info->in_bits[j] = bits;
}

void Fake_Master_Memories::set_outputs(int j, int start_byte, int start_bit, int bytes, int bits, int entries)
{
    m_info->has_output[j] = 1;
    m_info->num_output[j] = entries;
    m_info->out_shm_start_byte[j] = start_byte;
    m_info->out_shm_start_offs_bit[j] = start_bit;
    m_info->out_bytes[j] = bytes;
    m_info->out_bits[j] = bits;
}

void Fake_Master_Memories::tick(int cycles)
{
    pthread_mutex_lock(&m_tick->shm_mutex);
    if (m_tick->tick_count != -1)
        m_tick->tick_count += cycles;
    pthread_mutex_unlock(&m_tick->shm_mutex);
    int value = 0;
    sem_getvalue(&m_tick->shm_sem_tick_ready, &value);
    if (value == 0)
        sem_post(&m_tick->shm_sem_tick_ready);
}

void Fake_Master_Memories::stop_cycle()
{
    pthread_mutex_lock(&m_tick->shm_mutex);
    m_tick->tick_count = -1;
    pthread_mutex_unlock(&m_tick->shm_mutex);
    int value = 0;
    sem_getvalue(&m_tick->shm_sem_tick_ready, &value);
    if (value == 0)
        sem_post(&m_tick->shm_sem_tick_ready);
}

int create_memory_of_size(const char* name, std::size_t bytes)
{
    shm_unlink(name);
    const int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, ecm_shm::MODE);
    if (fd == -1 || ftruncate(fd, static_cast<off_t>(bytes)) != 0)
        throw std::runtime_error(std::string("memory ") + name + ": " + std::strerror(errno));
    return fd;
}

Master_Step version_step(const std::string& version)
{
    return {std::string(ecm_protocol::GET_SYSTEM_VERSION) + "\n", version};
}

Scripted_Master::Scripted_Master(std::vector<Master_Step> steps) : m_steps(std::move(steps))
{
    m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd == -1)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int yes = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(ecm_protocol::PORT);
    inet_pton(AF_INET, ecm_protocol::CLIENT_ADDRESS, &address.sin_addr);
    if (bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        const int err = errno;
        close(m_fd);
        throw std::runtime_error(std::string("bind to the master's port: ") + std::strerror(err));
    }
    m_thread = std::thread([this] { serve(); });
}

Scripted_Master::~Scripted_Master()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd != -1)
        close(m_fd);
}

void Scripted_Master::add(std::vector<Master_Step> steps)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    for (Master_Step& step : steps)
        m_steps.push_back(std::move(step));
}

std::vector<std::string> Scripted_Master::datagrams() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_datagrams;
}

void Scripted_Master::serve()
{
    char buffer[2048];
    while (!m_stop) {
        pollfd wait{m_fd, POLLIN, 0};
        if (poll(&wait, 1, 5) <= 0)
            continue;
        sockaddr_in sender{};
        socklen_t sender_length = sizeof(sender);
        const ssize_t received =
            recvfrom(m_fd, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&sender), &sender_length);
        if (received < 0)
            continue;
        const std::string datagram(buffer, static_cast<std::size_t>(received));
        Master_Step step;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_datagrams.push_back(datagram);
            std::size_t index = m_served.load();
            const std::size_t separator = datagram.find('#');
            const std::string request = separator == std::string::npos ? datagram : datagram.substr(separator + 1);
            // A repeated step that was served stays current while its
            // request comes again.
            if (index > 0 && m_steps[index - 1].repeat && m_steps[index - 1].request == request)
                index = --m_served;
            if (index >= m_steps.size()) {
                m_problems.push_back("request beyond the script: \"" + datagram + "\"");
                continue;
            }
            step = m_steps[index];
        }
        const std::size_t hash = datagram.find('#');
        const std::string id = hash == std::string::npos ? "" : datagram.substr(0, hash);
        const std::string text = hash == std::string::npos ? datagram : datagram.substr(hash + 1);
        if (text != step.request) {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_problems.push_back("step " + std::to_string(m_served.load()) + ": expected \"" + step.request +
                                 "\", received \"" + datagram + "\"");
        }
        if (step.answer) {
            const long number = id.empty() ? 0 : std::strtol(id.c_str(), nullptr, 10);
            for (int k = 1; k <= step.stale_before; ++k) {
                const std::string stale = std::to_string((number + 1000 - k) % 1000) + "#stale\n";
                sendto(m_fd, stale.data(), stale.size(), 0, reinterpret_cast<sockaddr*>(&sender), sender_length);
            }
            const std::string reply = id + "#" + step.reply + "\n";
            sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&sender), sender_length);
        }
        ++m_served;
    }
}

std::vector<std::string> Scripted_Master::finish()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<std::string> problems = m_problems;
    // Requests already sent but not read: beyond the script as well.
    char buffer[2048];
    for (;;) {
        const ssize_t received = recv(m_fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (received < 0)
            break;
        problems.push_back("request beyond the script: \"" + std::string(buffer, static_cast<std::size_t>(received)) +
                           "\"");
    }
    for (std::size_t k = m_served.load(); k < m_steps.size(); ++k)
        problems.push_back("step " + std::to_string(k) + " unused: \"" + m_steps[k].request + "\"");
    return problems;
}
