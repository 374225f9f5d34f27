#include "xelo_framework_shadows_logger.h"

#include <semaphore.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "framework_stopped.h"
#include "xelo_framework.h"
#include "xelo_log.h"

namespace {
constexpr long RETRY_PAUSE_MS = 1000;
constexpr float RECEIVE_TIMEOUT_MS = 1.0f;
constexpr long START_WAIT_SLICE_NS = 10000000;

struct File_Closer {
    void operator()(FILE* file) const { std::fclose(file); }
};
}  // namespace

void XELO_Framework_ex::start_logging_queue_reader_thread()
{
    log_inf("XELO_Framework_ex::start_queue_logger_manager (...) ");
    m_logging_thread.start_ex(QueueReaderThreadStartup, this, "fw_queueread");
}

void* QueueReaderThreadStartup(void* framework)
{
    auto* self = static_cast<XELO_Framework_ex*>(framework);
    set_own_fifo_priority_or_exit(1, "Failed to set Queue Reader Thread Priority");
    try {
        self->open_logging_queue_reader_ex();
        // Released by the real-time thread once the segments exist.
        for (;;) {
            timespec deadline{};
            clock_gettime(CLOCK_REALTIME, &deadline);
            deadline.tv_nsec += START_WAIT_SLICE_NS;
            if (deadline.tv_nsec >= 1000000000L) {
                deadline.tv_sec += 1;
                deadline.tv_nsec -= 1000000000L;
            }
            if (sem_timedwait(self->m_sem_start_queue_reading.get(), &deadline) == 0)
                break;
            if (errno != ETIMEDOUT && errno != EINTR) {
                log_err(std::string("start_logging_queue_thread() -> Failed to sem_wait m_sem_start_queue_reading "
                                    "--> errno: ") +
                        std::strerror(errno));
                throw std::runtime_error("Failed to sem_wait m_sem_start_queue_reading");
            }
            self->m_rt_log.drain();
            if (self->m_stop.is_set())
                throw Framework_Stopped();
        }
        self->queue_read_run_ex();
        return nullptr;  // stopped
    } catch (const Framework_Stopped&) {
        return nullptr;
    } catch (const std::exception& error) {
        log_err(error.what());
        self->m_stop.sleep_for(RETRY_PAUSE_MS);
    }
    log_err("LOGGING QUEUE THREAD EXITING!!...");
    return nullptr;
}

void XELO_Framework_ex::open_logging_queue_reader_ex()
{
    for (;;) {
        try {
            m_xeno_logging_queue_reader.open_ex(true, FRAMEWORK_QUEUE_MESSAGE_SIZE, FRAMEWORK_QUEUE_CAPACITY);
            break;
        } catch (const std::exception& error) {
            log_err(error.what());
        }
        if (m_stop.sleep_for(RETRY_PAUSE_MS))
            throw Framework_Stopped();
    }
    m_logging_queue_created.store(true, std::memory_order_release);
    log_inf(std::string("[QueueReaderThreadStartup] ") + FRAMEWORK_QUEUE_NAME + " created!!");
    log_inf("[QueueReaderThreadStartup]      rt queue max msg number  :: " +
            std::to_string(m_xeno_logging_queue_reader.get_queue_max_msg_number_ex()));
    log_inf("[QueueReaderThreadStartup]      rt queue max msg size    :: " +
            std::to_string(m_xeno_logging_queue_reader.get_queue_max_msg_size_ex()));
    log_inf("[QueueReaderThreadStartup]      rt queue curr msg number :: " +
            std::to_string(m_xeno_logging_queue_reader.get_queue_current_msg_number_ex()));
}

// Every message becomes one line of the log file; the file is flushed
// whenever the queue runs idle, so that it can be read while rtframe runs.
void XELO_Framework_ex::queue_read_run_ex()
{
    std::unique_ptr<FILE, File_Closer> file(std::fopen(FRAMEWORK_LOGGER_FILE, "w"));
    if (!file)
        throw std::runtime_error(std::string("[QueueReaderThreadStartup] cannot open the log file ") +
                                 FRAMEWORK_LOGGER_FILE + " --> " + std::strerror(errno));
    bool unflushed = false;
    std::ostringstream line;
    while (!m_stop.is_set()) {
        m_rt_log.drain();
        try {
            Posix_Queue_Msg message;
            if (!m_xeno_logging_queue_reader.recv_queue_msg_ex(&message, RECEIVE_TIMEOUT_MS)) {
                if (unflushed)
                    std::fflush(file.get());
                unflushed = false;
                continue;
            }
            line.str(std::string());
            line << message;
            std::fprintf(file.get(), "%s\n", line.str().c_str());
            unflushed = true;
        } catch (const std::exception& error) {
            log_err(error.what());
            throw std::runtime_error(error.what());
        }
    }
}
