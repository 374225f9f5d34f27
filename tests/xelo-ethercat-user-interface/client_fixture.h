#pragma once

// A client hooked to a fake master: the memories exist, the command server
// answers the handshake, and (with started()) the master runs a bus of the
// given slave counts.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_master.h"
#include "xelo_ethercat_user_interface.h"

inline std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

class Hooked_Client : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_master = std::make_unique<Scripted_Master>(std::vector<Master_Step>{version_step()});
        ASSERT_EQ(preliminary_hook(1081), 32);
    }
    void TearDown() override
    {
        const std::vector<std::string> problems = m_master->finish();
        EXPECT_TRUE(problems.empty()) << joined(problems);
    }
    // The master started on an ENI file with these slave counts.
    void started(int configured = 3, int active = 3)
    {
        m_memories.set_slave_counts(configured, active);
        m_master->add({{"start_ethercat_master /tmp/cell.xml\n", "started"}});
        ASSERT_EQ(open_connection_with_master("/tmp/cell.xml"), 0);
    }
    // Serves the steps and checks that all were used.
    void expect(std::vector<Master_Step> steps) { m_master->add(std::move(steps)); }

    Fake_Master_Memories m_memories;
    std::unique_ptr<Scripted_Master> m_master;
};
