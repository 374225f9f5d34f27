#pragma once

// A test's own CoE SDO client over the mailbox of Test_Master.

#include "test_master.h"

struct Sdo_Reply {
    bool answered = false;
    uint32_t abort = 0;  // 0: done
    std::vector<uint8_t> data;
    int frames = 0;  // mailbox replies the transfer took
};

class Sdo_Client {
public:
    Sdo_Client(Test_Master& master, uint16_t station, uint16_t out_size = 128, uint16_t in_size = 128)
        : m_master(master), m_station(station), m_out(out_size), m_in(in_size)
    {
    }

    Sdo_Reply upload(uint16_t index, uint8_t sub, bool complete = false);
    Sdo_Reply download(uint16_t index, uint8_t sub, const std::vector<uint8_t>& data, bool complete = false);
    // One request message (CoE, SDO request service) and its reply message.
    std::vector<uint8_t> request(const std::vector<uint8_t>& coe_body);
    std::vector<uint8_t> message(uint8_t type, const std::vector<uint8_t>& body);

private:
    Test_Master& m_master;
    uint16_t m_station;
    uint16_t m_out;
    uint16_t m_in;
};
