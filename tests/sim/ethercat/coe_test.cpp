// CoE over the mailbox: SDO transfers of every kind both ways, aborts,
// emergencies, mailbox error replies and the repeat request.

#include <thread>

#include "sdo_client.h"

namespace {

const char* const SEGMENT =
    "slave io-module-with-a-long-name device=dio outputs=8 mailbox=0x1000:128,0x1080:128\n"
    "slave small-mailbox-io-module-name device=dio outputs=8 mailbox=0x1000:32,0x1080:32\n";

class Coe : public Segment_Test {
protected:
    void SetUp() override
    {
        start(SEGMENT);
        master().assign_stations(2);
        ASSERT_EQ(master().to_preop(0x1001), 0x0002);
        ASSERT_EQ(master().to_preop(0x1002, 0x1000, 32, 0x1080, 32), 0x0002);
        m_big = std::make_unique<Sdo_Client>(master(), 0x1001);
        m_small = std::make_unique<Sdo_Client>(master(), 0x1002, 32, 32);
    }
    Sdo_Client& big() { return *m_big; }
    Sdo_Client& small() { return *m_small; }
    std::unique_ptr<Sdo_Client> m_big;
    std::unique_ptr<Sdo_Client> m_small;
};

std::vector<uint8_t> bytes_of(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

// 0x1600 as complete access: count, padding byte, eight 1-bit entries of 0x7000.
std::vector<uint8_t> mapping_image(uint8_t first_sub)
{
    std::vector<uint8_t> image = {8, 0};
    for (uint8_t i = 0; i < 8; ++i) {
        const auto entry = le32(0x70000001u | (static_cast<uint32_t>(first_sub + i) << 8));
        image.insert(image.end(), entry.begin(), entry.end());
    }
    return image;
}

}  // namespace

TEST_F(Coe, expedited_both_ways)
{
    const Sdo_Reply vendor = big().upload(0x1018, 1);
    ASSERT_TRUE(vendor.answered);
    EXPECT_EQ(vendor.abort, 0u);
    EXPECT_EQ(vendor.data, le32(0x00000E51));
    const Sdo_Reply count = big().upload(0x1018, 0);
    EXPECT_EQ(count.data, std::vector<uint8_t>{4});
    EXPECT_EQ(big().download(0x1C32, 1, le16(2)).abort, 0u);
    EXPECT_EQ(big().upload(0x1C32, 1).data, le16(2));
}

TEST_F(Coe, normal_transfers_both_ways)
{
    const Sdo_Reply name = big().upload(0x1008, 0);
    EXPECT_EQ(name.data, bytes_of("io-module-with-a-long-name"));
    EXPECT_EQ(name.frames, 1);
    const Sdo_Reply mapping = big().upload(0x1600, 0, true);
    EXPECT_EQ(mapping.data, mapping_image(1));
    // Complete access writes the whole mapping at once: reversed channels.
    std::vector<uint8_t> reversed = {8, 0};
    for (uint8_t i = 0; i < 8; ++i) {
        const auto entry = le32(0x70000001u | (static_cast<uint32_t>(8 - i) << 8));
        reversed.insert(reversed.end(), entry.begin(), entry.end());
    }
    const Sdo_Reply written = big().download(0x1600, 0, reversed, true);
    EXPECT_EQ(written.abort, 0u);
    EXPECT_EQ(written.frames, 1);
    EXPECT_EQ(big().upload(0x1600, 1).data, le32(0x70000801));
}

TEST_F(Coe, segmented_transfers_both_ways)
{
    const Sdo_Reply name = small().upload(0x1008, 0);
    EXPECT_EQ(name.data, bytes_of("small-mailbox-io-module-name"));
    EXPECT_GT(name.frames, 1) << "a 32-byte mailbox needs segments";
    std::vector<uint8_t> image = mapping_image(1);
    std::swap(image[2], image[6]);  // first two entries swapped: subs 2, 1, 3, ...
    const Sdo_Reply written = small().download(0x1600, 0, image, true);
    EXPECT_EQ(written.abort, 0u);
    EXPECT_GT(written.frames, 1);
    const Sdo_Reply back = small().upload(0x1600, 0, true);
    EXPECT_EQ(back.data, image);
    EXPECT_GT(back.frames, 1);
}

TEST_F(Coe, aborts_carry_their_codes)
{
    const struct {
        const char* what;
        bool upload;
        uint16_t index;
        uint8_t sub;
        std::vector<uint8_t> data;
        uint32_t abort;
    } cases[] = {
        {"no object", true, 0x2000, 0, {}, 0x06020000},
        {"no subindex", true, 0x1018, 9, {}, 0x06090011},
        {"read only", false, 0x1018, 1, le32(1), 0x06010002},
        {"length", false, 0x1C32, 2, le16(1), 0x06070010},
        {"count above the entries", false, 0x1C12, 0, {5}, 0x06090030},
    };
    for (const auto& c : cases) {
        const Sdo_Reply reply = c.upload ? big().upload(c.index, c.sub) : big().download(c.index, c.sub, c.data);
        EXPECT_TRUE(reply.answered) << c.what;
        EXPECT_EQ(reply.abort, c.abort) << c.what;
    }
    // Scripted: every access to the object is refused.
    EXPECT_EQ(control("sdo_abort 0 0x1C33 * 0x08000020"), "OK");
    EXPECT_EQ(big().upload(0x1C33, 5).abort, 0x08000020u);
    EXPECT_EQ(big().upload(0x1C32, 5).abort, 0u);
    EXPECT_EQ(control("sdo_abort_clear 0"), "OK");
    EXPECT_EQ(big().upload(0x1C33, 5).abort, 0u);
    // A segment without a transfer.
    const std::vector<uint8_t> reply = big().request({0x00, 0x20, 0x60, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_GE(reply.size(), 16u);
    EXPECT_EQ(reply[8], 0x80);
    EXPECT_EQ(get_le32(reply, 12), 0x05040001u);
    const std::string log = control("sdo_log 0");
    EXPECT_NE(log.find("upload 2000:00 size 0 abort 0x06020000"), std::string::npos) << log;
}

TEST_F(Coe, mapping_is_writable_in_pre_op_only)
{
    master().set_sm(0x1001, 2, 0x1100, 1, 0x64, true);
    master().set_sm(0x1001, 3, 0x1180, 1, 0x20, true);
    ASSERT_EQ(master().request_state(0x1001, 0x0004), 0x0004);
    EXPECT_EQ(big().download(0x1C12, 0, {0}).abort, 0x08000022u);
    EXPECT_EQ(big().download(0x1600, 1, le32(0x70000201)).abort, 0x08000022u);
    EXPECT_EQ(big().upload(0x1600, 1).abort, 0u) << "reading is fine";
}

TEST_F(Coe, emergency_on_demand)
{
    EXPECT_EQ(control("emergency 0 0x2310 0x03 1 2 3 4 5"), "OK");
    const std::vector<uint8_t> message = master().mailbox_receive(0x1001);
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(get_le16(message, 0), 10);
    EXPECT_EQ(message[5] & 0x0F, 3) << "CoE";
    EXPECT_EQ(message[7] >> 4, 1) << "emergency service";
    EXPECT_EQ(get_le16(message, 8), 0x2310);
    EXPECT_EQ(message[10], 0x03);
    EXPECT_EQ(std::vector<uint8_t>(message.begin() + 11, message.begin() + 16), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(master().mailbox_receive(0x1001, 0x1080, 128, std::chrono::milliseconds(20)).empty())
        << "the read mailbox is empty once read";
}

TEST_F(Coe, unsupported_protocol_gets_a_mailbox_error_reply)
{
    master().mailbox_send(0x1001, big().message(0x05, {0x01, 0x00, 0x00, 0x00}));  // SoE
    const std::vector<uint8_t> reply = master().mailbox_receive(0x1001);
    ASSERT_GE(reply.size(), 10u);
    EXPECT_EQ(reply[5] & 0x0F, 0) << "mailbox error reply";
    EXPECT_EQ(get_le16(reply, 6), 0x0001);
    EXPECT_EQ(get_le16(reply, 8), 2) << "unsupported protocol";
}

TEST_F(Coe, blocked_mailboxes_do_not_count)
{
    // Reading an empty read mailbox, and writing a full write mailbox, are refused.
    EXPECT_EQ(master().read(4, 0x1001, 0x1080, 128).wkc, 0);
    EXPECT_EQ(control("emergency 0 0x1000"), "OK");
    ASSERT_NE(master().read(4, 0x1001, 0x080D, 1).data[0] & 0x08, 0);
    EXPECT_EQ(master().read(4, 0x1001, 0x1080, 128).wkc, 1);
    EXPECT_EQ(master().read(4, 0x1001, 0x1080, 128).wkc, 0) << "emptied by the complete read";
}

TEST_F(Coe, repeat_request_puts_the_last_message_back)
{
    master().mailbox_send(0x1001, big().message(3, {0x00, 0x20, 0x40, 0x18, 0x10, 0x02, 0, 0, 0, 0}));
    const std::vector<uint8_t> first = master().mailbox_receive(0x1001);
    ASSERT_FALSE(first.empty());
    // Toggle the repeat request (0x080E bit 1) and wait for the acknowledge (0x080F bit 1).
    const uint8_t activate = master().read(4, 0x1001, 0x080E, 1).data[0];
    master().fpwr(0x1001, 0x080E, {static_cast<uint8_t>(activate ^ 0x02)});
    bool acknowledged = false;
    for (int i = 0; i < 100 && !acknowledged; ++i) {
        acknowledged = ((master().read(4, 0x1001, 0x080F, 1).data[0] ^ activate) & 0x02) != 0;
    }
    EXPECT_TRUE(acknowledged);
    EXPECT_EQ(master().mailbox_receive(0x1001), first);
}

// A master may move a sync manager anywhere once it is disabled; a read
// mailbox that would reach past the memory is left empty.
TEST_F(Coe, a_mailbox_moved_past_the_memory_stays_empty)
{
    master().set_sm(0x1001, 1, 0xFFF0, 128, 0x22, true);
    EXPECT_EQ(control("emergency 0 0x1000"), "OK");
    EXPECT_EQ(master().read(4, 0x1001, 0x080D, 1).data[0] & 0x08, 0);
    master().set_sm(0x1001, 1, 0x1080, 128, 0x22, true);
    EXPECT_EQ(control("emergency 0 0x2000"), "OK");
    const std::vector<uint8_t> message = master().mailbox_receive(0x1001);
    ASSERT_GE(message.size(), 10u);
    EXPECT_EQ(get_le16(message, 8), 0x1000) << "the waiting emergency comes first";
}

// The counter tells a message sent again from a new one: a repeated counter
// is dropped, until the mailbox goes off in INIT and a new master's first
// message may carry any counter.
TEST_F(Coe, a_repeated_counter_is_a_duplicate_until_init)
{
    const std::vector<uint8_t> upload = big().message(3, {0x00, 0x20, 0x40, 0x18, 0x10, 0x01, 0, 0, 0, 0});
    master().mailbox_send(0x1001, upload);
    EXPECT_FALSE(master().mailbox_receive(0x1001).empty());
    master().mailbox_send(0x1001, upload);
    EXPECT_EQ(master().read(4, 0x1001, 0x080D, 1).data[0] & 0x08, 0) << "the duplicate got an answer";

    ASSERT_EQ(master().request_state(0x1001, 0x0001), 0x0001);
    ASSERT_EQ(master().to_preop(0x1001), 0x0002);
    master().mailbox_send(0x1001, upload);
    EXPECT_FALSE(master().mailbox_receive(0x1001).empty()) << "the first message after INIT was dropped";
}
