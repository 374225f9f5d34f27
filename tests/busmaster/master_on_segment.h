// What the in-process busmaster tests on a simulated segment share.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include <memory>
#include <string>

#include "segment_config.h"
#include "simulated_segment.h"
#include "veth_harness.h"
#include "xelo_ethercat_master_class.h"

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

// The demo cell (the I/O module and an Infranor CiA 402 drive) and a master
// of type Master on it, taken to PRE-OP by the ENI at eni from this thread
// at the priority of the master's socket thread.
template <typename Master>
class Demo_Cell_In_Preop : public ::testing::Test {
protected:
    explicit Demo_Cell_In_Preop(const char* eni)
        : m_eni(eni), m_segment(ecat_sim::parse_segment_config(
                                    "slave dio device=dio\nslave drive device=cia402 profile=infranor\n"),
                                simulated_segment_options()),
          m_master(m_segment.master_interface())
    {
    }
    void SetUp() override
    {
        sched_param param{};
        param.sched_priority = 55;
        ASSERT_EQ(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param), 0);
        m_master.set_xml_file_and_leave_no_state_ex(m_eni);
        ASSERT_EQ(m_master.get_master_ethercat_state(), PREOP_STATE);
    }
    std::string sim(const std::string& command) { return m_segment.simulator().execute(command); }

    std::string m_eni;
    ecat_sim::Veth_Segment m_segment;
    Master m_master;
};
