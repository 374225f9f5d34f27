// The frame path of the segment in this process, on the test's own clock: a
// cyclic frame through the slave controllers and an I/O module in OP
// allocates nothing (the drive model's step allocates in its object
// dictionary's typed set, which lies outside this code; a segment with a
// drive is not held to this), an over-long datagram is refused, and the
// process-data watchdog counts only the time the simulator ran.

#include <gtest/gtest.h>

#include "allocation_hooks.h"
#include "ethercat_frame.h"
#include "segment.h"

namespace {

class Frames {
public:
    explicit Frames(ecat_sim::Segment& segment) : m_segment(segment) {}
    // One frame of datagrams {command, adp, ado, data}; the working counters.
    std::vector<uint16_t> run(std::vector<std::tuple<uint8_t, uint16_t, uint16_t, std::vector<uint8_t>>> datagrams)
    {
        Ethercat_Frame frame;
        for (const auto& [command, adp, ado, data] : datagrams) {
            frame.add(command, adp, ado, data);
        }
        m_time += 1000000;
        EXPECT_TRUE(m_segment.process(frame.bytes().data(), frame.size(), m_time));
        std::vector<uint16_t> counters;
        for (size_t i = 0; i < datagrams.size(); ++i) {
            counters.push_back(frame.working_counter(frame.bytes().data(), i));
        }
        return counters;
    }
    uint16_t one(uint8_t command, uint16_t adp, uint16_t ado, std::vector<uint8_t> data)
    {
        return run({{command, adp, ado, std::move(data)}})[0];
    }
    int64_t time() const { return m_time; }

private:
    ecat_sim::Segment& m_segment;
    int64_t m_time = 1000000000;
};

std::vector<uint8_t> sm(uint16_t start, uint16_t length, uint8_t control)
{
    return {static_cast<uint8_t>(start),
            static_cast<uint8_t>(start >> 8),
            static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8),
            control,
            0,
            1,
            0};
}

std::vector<uint8_t> fmmu(uint32_t logical, uint16_t length, uint16_t physical, uint8_t type)
{
    return {static_cast<uint8_t>(logical),
            static_cast<uint8_t>(logical >> 8),
            static_cast<uint8_t>(logical >> 16),
            static_cast<uint8_t>(logical >> 24),
            static_cast<uint8_t>(length),
            static_cast<uint8_t>(length >> 8),
            0,
            7,
            static_cast<uint8_t>(physical),
            static_cast<uint8_t>(physical >> 8),
            0,
            type,
            1,
            0,
            0,
            0};
}

}  // namespace

TEST(Segment_Frames, a_cyclic_frame_in_op_allocates_nothing)
{
    ecat_sim::Segment segment(ecat_sim::parse_segment_config(
                                  "slave wide device=dio inputs=64 outputs=64 mailbox=0x1000:128,0x1080:128\n"
                                  "slave io device=dio\n"),
                              1);
    Frames frames(segment);
    frames.one(2, 0x0000, 0x0010, {0x01, 0x10});
    frames.one(2, 0xFFFF, 0x0010, {0x02, 0x10});
    frames.one(5, 0x1001, 0x0800, sm(0x1000, 128, 0x26));
    frames.one(5, 0x1001, 0x0808, sm(0x1080, 128, 0x22));
    frames.one(5, 0x1001, 0x0810, sm(0x1100, 8, 0x64));
    frames.one(5, 0x1001, 0x0818, sm(0x1180, 8, 0x20));
    frames.one(5, 0x1001, 0x0600, fmmu(0, 8, 0x1100, 2));
    frames.one(5, 0x1001, 0x0610, fmmu(8, 8, 0x1180, 1));
    frames.one(5, 0x1002, 0x0800, sm(0x1000, 1, 0x64));
    frames.one(5, 0x1002, 0x0808, sm(0x1080, 1, 0x20));
    frames.one(5, 0x1002, 0x0600, fmmu(16, 1, 0x1000, 2));
    frames.one(5, 0x1002, 0x0610, fmmu(17, 1, 0x1080, 1));
    for (uint8_t state : {2, 4}) {
        EXPECT_EQ(frames.one(8, 0, 0x0120, {state, 0}), 2);
    }
    std::vector<uint8_t> outputs(18, 0);
    outputs[0] = 0x06;
    outputs[16] = 0x81;
    const std::tuple<uint8_t, uint16_t, uint16_t, std::vector<uint8_t>> lrw{12, 0, 0, outputs};
    const std::tuple<uint8_t, uint16_t, uint16_t, std::vector<uint8_t>> frmw{14, 0x1001, 0x0910, {0, 0, 0, 0}};
    const std::tuple<uint8_t, uint16_t, uint16_t, std::vector<uint8_t>> brd{7, 0, 0x0130, {0, 0}};
    frames.run({lrw});
    EXPECT_EQ(frames.one(8, 0, 0x0120, {8, 0}), 2);
    ASSERT_EQ(frames.run({brd})[0], 2);

    // The frame is built outside the count; processing it is what is counted.
    std::vector<uint8_t> frame = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 1, 1, 1, 1, 1, 0x88, 0xA4, 0, 0};
    for (const auto* datagram : {&lrw, &frmw, &brd}) {
        const auto& [command, adp, ado, data] = *datagram;
        frame.push_back(command);
        frame.push_back(0);
        const uint16_t length = static_cast<uint16_t>(data.size() | (datagram != &brd ? 0x8000 : 0));
        for (uint16_t word : {adp, ado, length, uint16_t{0}}) {
            frame.push_back(static_cast<uint8_t>(word));
            frame.push_back(static_cast<uint8_t>(word >> 8));
        }
        frame.insert(frame.end(), data.begin(), data.end());
        frame.push_back(0);
        frame.push_back(0);
    }
    frame[14] = static_cast<uint8_t>(frame.size() - 16);
    frame[15] = 0x10;
    std::vector<uint8_t> work = frame;
    int64_t now = frames.time();
    {
        Allocation_Count count;
        for (int i = 0; i < 200; ++i) {
            std::copy(frame.begin(), frame.end(), work.begin());
            now += 1000000;
            segment.process(work.data(), work.size(), now);
            segment.housekeeping(now);
        }
        EXPECT_EQ(count.count(), 0);
    }
    const size_t wkc_lrw = 16 + 10 + 18;
    EXPECT_EQ(work[wkc_lrw] | (work[wkc_lrw + 1] << 8), 6) << "both slaves read and write";
    EXPECT_EQ(work[16 + 10 + 16], 0x81) << "outputs of the second slave pass";
    int64_t value = 0;
    ASSERT_TRUE(segment.slave(0).device()->get_value(0x7000, 2, value));
    EXPECT_EQ(value, 1) << "0x06 drives channels 2 and 3 of the first slave";
    ASSERT_TRUE(segment.slave(1).device()->get_value(0x7000, 8, value));
    EXPECT_EQ(value, 1);
}

// A datagram longer than the 1486 bytes a frame can carry is a broken frame:
// nothing is processed and nothing goes back, whatever the buffer holds.
TEST(Segment_Frames, an_over_long_datagram_is_refused)
{
    ecat_sim::Segment segment(ecat_sim::parse_segment_config("slave io device=dio\n"), 1);
    for (const size_t length : {size_t{1486}, size_t{1487}}) {
        std::vector<uint8_t> frame = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 1, 1, 1, 1, 1, 0x88, 0xA4};
        const size_t total = 12 + length;
        frame.push_back(static_cast<uint8_t>(total));
        frame.push_back(static_cast<uint8_t>(0x10 | (total >> 8)));
        const std::vector<uint8_t> header = {
            8, 0, 0, 0, 0x00, 0x10, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 0, 0};
        frame.insert(frame.end(), header.begin(), header.end());
        frame.resize(frame.size() + length + 2, 0xAB);
        frame[frame.size() - 2] = 0;
        frame[frame.size() - 1] = 0;
        const bool answered = segment.process(frame.data(), frame.size(), 1000);
        EXPECT_EQ(answered, length == 1486) << length;
        if (answered) {
            EXPECT_EQ(frame[frame.size() - 2], 1) << "BWR into RAM counts";
        }
    }
    EXPECT_EQ(segment.invalid_frames(), 1u);
}

// The process-data watchdog (100 ms by default) counts the time the simulator
// ran: a master that stops sending expires it, while a stall of the simulator
// itself (the whole machine stopped, the master with it) is not counted; the
// watchdog still expires 100 ms after it.
TEST(Segment_Frames, the_watchdog_does_not_count_a_stall_of_the_simulator)
{
    constexpr int64_t MS = 1000000;
    struct Case {
        const char* name;
        int64_t stall;
        int state_200_ms_after_outputs;
    };
    for (const Case& c : {Case{"master_stops_sending", 0, 0x04}, Case{"simulator_held_off", 150 * MS, 0x08}}) {
        SCOPED_TRACE(c.name);
        ecat_sim::Segment segment(ecat_sim::parse_segment_config("slave io device=dio\n"), 1);
        Frames frames(segment);
        frames.one(2, 0x0000, 0x0010, {0x01, 0x10});
        frames.one(5, 0x1001, 0x0800, sm(0x1000, 1, 0x64));  // outputs, watchdog on
        frames.one(5, 0x1001, 0x0808, sm(0x1080, 1, 0x20));
        for (uint8_t state : {2, 4, 8}) {
            frames.one(5, 0x1001, 0x1000, {0x01});
            ASSERT_EQ(frames.one(5, 0x1001, 0x0120, {state, 0}), 1);
            ASSERT_EQ(int{segment.slave(0).al_state()}, state);
        }
        frames.one(5, 0x1001, 0x1000, {0x01});
        const int64_t written = frames.time();

        segment.skip_stall(c.stall);
        segment.housekeeping(written + 200 * MS);
        EXPECT_EQ(int{segment.slave(0).al_state()}, c.state_200_ms_after_outputs);
        segment.housekeeping(written + c.stall + 110 * MS);
        EXPECT_EQ(int{segment.slave(0).al_state()}, 0x04);
        uint8_t code[2] = {};
        segment.slave(0).read_memory(0x0134, code, sizeof code, written + c.stall + 110 * MS);
        EXPECT_EQ(code[0] | code[1] << 8, 0x001B);
    }
}
