// What the in-process busmaster tests on a simulated segment share.
#pragma once

#include <pthread.h>

#include <memory>
#include <string>

#include "veth_harness.h"
#include "xelo_ethercat_master_class.h"

// The simulator at SCHED_FIFO 60: the master waits 1 ms for each reply.
inline ecat_sim::Sim_Options segment_options()
{
    ecat_sim::Sim_Options options = ecat_sim::Veth_Segment::default_options();
    options.priority = 60;
    return options;
}

// A master object on memories of its own (no shared memory), opened on the
// interface; tests derive from it to reach its protected members.
class Private_Memory_Master : public ECM_Master {
public:
    explicit Private_Memory_Master(const std::string& interface)
    {
        init_pthread_mutex_ex(&m_pdo->shm_mutex, true, true, true);
        init_pthread_mutex_ex(&m_info->shm_mutex, true, true, true);
        init_pthread_mutex_ex(&m_tick->shm_mutex, true, true, true);
        init_ex(interface, m_pdo.get(), m_info.get(), m_tick.get());
    }

private:
    std::unique_ptr<Shared_Pdo_Mem_Region> m_pdo = std::make_unique<Shared_Pdo_Mem_Region>();
    std::unique_ptr<Shared_Slave_Info_Mem_Region> m_info = std::make_unique<Shared_Slave_Info_Mem_Region>();
    std::unique_ptr<Shared_Tick_Mem_Region> m_tick = std::make_unique<Shared_Tick_Mem_Region>();
};
