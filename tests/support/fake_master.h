#pragma once

// A stand-in for busmaster made of its real records: the three shared
// memories created by the test, and a scripted command server on the
// protocol's address and port that expects a list of requests and answers
// each with a canned reply.

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "xelo_ethercat_system_types.h"

// The three memories as busmaster creates them (process-shared, robust,
// priority-inheriting mutexes; a process-shared tick semaphore at 0),
// unlinked again by the destructor.
class Fake_Master_Memories {
public:
    Fake_Master_Memories();
    ~Fake_Master_Memories();
    Fake_Master_Memories(const Fake_Master_Memories&) = delete;
    Fake_Master_Memories& operator=(const Fake_Master_Memories&) = delete;

    Shared_Pdo_Mem_Region& pdo() { return *m_pdo; }
    Shared_Slave_Info_Mem_Region& info() { return *m_info; }
    Shared_Tick_Mem_Region& tick_region() { return *m_tick; }

    // Slave counts and the configured addresses 1001, 1002, ...
    void set_slave_counts(int configured, int active);
    // Where the slave at position j has its inputs or outputs; start byte -1:
    // no place. entries: its number of process-data entries.
    void set_inputs(int j, int start_byte, int start_bit, int bytes, int bits, int entries = 1);
    void set_outputs(int j, int start_byte, int start_bit, int bytes, int bits, int entries = 1);
    // One master cycle: adds to tick_count and posts the semaphore when it is 0.
    void tick(int cycles = 1);
    // The cycle stopped on a fault.
    void stop_cycle();

private:
    Shared_Pdo_Mem_Region* m_pdo = nullptr;
    Shared_Slave_Info_Mem_Region* m_info = nullptr;
    Shared_Tick_Mem_Region* m_tick = nullptr;
};

// Creates one memory of exactly bytes (for the size check of the client);
// the file descriptor stays with the caller, who closes it.
int create_memory_of_size(const char* name, std::size_t bytes);

// One request the fake master expects and how it answers.
struct Master_Step {
    std::string request;   // the text after "<id>#", the newline included
    std::string reply;     // sent as "<id>#" + reply + "\n"
    bool answer = true;    // false: the request gets no reply
    int stale_before = 0;  // replies with other ids sent ahead of the right one
    bool repeat = false;   // served again for every further request of the same text
};

// The command server: one thread serving the steps in order on 127.0.0.1,
// port 500. finish() ends it and tells what went wrong: a request other than
// the step's, a step left unused, a request beyond the script.
class Scripted_Master {
public:
    explicit Scripted_Master(std::vector<Master_Step> steps);
    ~Scripted_Master();
    Scripted_Master(const Scripted_Master&) = delete;
    Scripted_Master& operator=(const Scripted_Master&) = delete;

    // Adds steps while the server runs (served after the earlier ones).
    void add(std::vector<Master_Step> steps);
    // Stops the server; the problems found, empty when the script was played
    // exactly.
    std::vector<std::string> finish();
    // Every datagram received so far, as received.
    std::vector<std::string> datagrams() const;
    // Number of steps served so far.
    std::size_t served() const { return m_served.load(); }

private:
    void serve();

    int m_fd = -1;
    mutable std::mutex m_mutex;
    std::vector<Master_Step> m_steps;
    std::vector<std::string> m_datagrams;
    std::vector<std::string> m_problems;
    std::atomic<std::size_t> m_served{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// The hook's handshake: the version request answered 32.
Master_Step version_step(const std::string& version = "32");
