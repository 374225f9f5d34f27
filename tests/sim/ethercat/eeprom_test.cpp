// The SII EEPROM behind registers 0x0500-0x050F: contents, read sizes, busy
// time, a checksummed alias write and the error bits.

#include <thread>

#include "test_master.h"

namespace {

// CRC-8 of the SII header: polynomial 0x07, initial 0xFF, no reflection.
uint8_t sii_crc(const std::vector<uint8_t>& bytes)
{
    uint8_t crc = 0xFF;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint8_t>(crc & 0x80 ? (crc << 1) ^ 0x07 : crc << 1);
        }
    }
    return crc;
}

class Eeprom : public Segment_Test {
protected:
    void SetUp() override
    {
        start(
            "slave drive device=dio vendor=0x00ABCDEF product=0x00020402 revision=7 serial=4711 alias=0x0021 "
            "mailbox=0x1000:128,0x1080:128 eeprom_read_us=20000\n"
            "slave wide device=dio eeprom_read_bytes=8\n");
        master().assign_stations(2);
    }
    uint32_t word32(uint16_t station, uint16_t word) { return get_le32(master().eeprom_read(station, word), 0); }
    uint16_t word16(uint16_t station, uint16_t word) { return get_le16(master().eeprom_read(station, word), 0); }
};

}  // namespace

TEST(Sii_Crc, matches_the_published_vector)
{
    EXPECT_EQ(sii_crc({0x91, 0x02, 0x01, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00}), 0x2B);
}

TEST_F(Eeprom, identity_alias_checksum_and_mailbox_words)
{
    EXPECT_EQ(word32(0x1001, 0x0008), 0x00ABCDEFu);
    EXPECT_EQ(word32(0x1001, 0x000A), 0x00020402u);
    EXPECT_EQ(word32(0x1001, 0x000C), 7u);
    EXPECT_EQ(word32(0x1001, 0x000E), 4711u);
    EXPECT_EQ(word16(0x1001, 0x0004), 0x0021);
    EXPECT_EQ(master().fprd16(0x1001, 0x0012), 0x0021) << "the alias register is loaded from word 4";
    std::vector<uint8_t> header;
    for (uint16_t w = 0; w < 7; ++w) {
        for (uint8_t byte : le16(word16(0x1001, w)))
            header.push_back(byte);
    }
    EXPECT_EQ(word16(0x1001, 0x0007), sii_crc(header));
    EXPECT_EQ(word16(0x1001, 0x0018), 0x1000);
    EXPECT_EQ(word16(0x1001, 0x0019), 128);
    EXPECT_EQ(word16(0x1001, 0x001A), 0x1080);
    EXPECT_EQ(word16(0x1001, 0x001B), 128);
    EXPECT_EQ(word16(0x1001, 0x001C) & 0x0004, 0x0004) << "CoE";
}

TEST_F(Eeprom, read_size_and_busy_time)
{
    EXPECT_EQ(master().fprd16(0x1001, 0x0502) & 0x0040, 0) << "4-byte reads";
    EXPECT_EQ(master().fprd16(0x1002, 0x0502) & 0x0040, 0x0040) << "8-byte reads";
    const std::vector<uint8_t> eight = master().eeprom_read(0x1002, 0x0008);
    ASSERT_EQ(eight.size(), 8u);
    EXPECT_EQ(get_le32(eight, 0), 0x00000E51u) << "vendor";
    EXPECT_EQ(get_le32(eight, 4), 0x00000D10u) << "product follows in the same read";

    // A read command keeps the interface busy for the configured 20 ms.
    std::vector<uint8_t> command = {0x00, 0x01};
    for (uint8_t byte : le32(0x0008))
        command.push_back(byte);
    // Taken before the send: the busy time starts when the frame has passed.
    const auto sent = std::chrono::steady_clock::now();
    master().fpwr(0x1001, 0x0502, command);
    EXPECT_EQ(master().fprd16(0x1001, 0x0502) & 0x8000, 0x8000);
    // A second command while busy is ignored.
    command[2] = 0x0A;
    master().fpwr(0x1001, 0x0502, command);
    master().eeprom_wait(0x1001);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(20));
    EXPECT_EQ(master().fprd32(0x1001, 0x0508), 0x00ABCDEFu) << "the first command's word";

    EXPECT_EQ(control("eeprom_busy 1 20000"), "OK");
    EXPECT_EQ(master().fprd16(0x1002, 0x0502) & 0x8000, 0x8000);
}

TEST_F(Eeprom, alias_write_with_checksum_is_loaded_at_power_up)
{
    EXPECT_EQ(master().eeprom_write(0x1001, 0x0004, 0x0777) & 0x7800, 0);
    std::vector<uint8_t> header;
    for (uint16_t w = 0; w < 7; ++w) {
        for (uint8_t byte : le16(word16(0x1001, w)))
            header.push_back(byte);
    }
    EXPECT_EQ(master().fprd16(0x1001, 0x0012), 0x0021) << "the register keeps the old alias until power-up";
    EXPECT_EQ(master().eeprom_write(0x1001, 0x0007, sii_crc(header)) & 0x7800, 0);
    EXPECT_EQ(control("restart 0"), "OK");
    master().assign_stations(1);
    EXPECT_EQ(master().fprd16(0x1001, 0x0012), 0x0777);
    EXPECT_EQ(master().fprd16(0x1001, 0x0502) & 0x1800, 0) << "checksum good";
    EXPECT_EQ(master().fprd16(0x1001, 0x0110) & 0x0001, 0x0001) << "EEPROM loaded";
}

TEST_F(Eeprom, a_wrong_checksum_shows_after_power_up)
{
    master().eeprom_write(0x1001, 0x0004, 0x0999);  // word 7 left as it was
    EXPECT_EQ(control("restart 0"), "OK");
    master().assign_stations(1);
    EXPECT_EQ(master().fprd16(0x1001, 0x0502) & 0x1800, 0x1800) << "checksum error, device information not loaded";
    EXPECT_EQ(master().fprd16(0x1001, 0x0110) & 0x0001, 0);
}

TEST_F(Eeprom, error_bits_and_their_clearing)
{
    EXPECT_EQ(master().eeprom_write(0x1001, 0x0004, 0x0001, false) & 0x4000, 0x4000) << "write without enable";
    EXPECT_EQ(word16(0x1001, 0x0004), 0x0021) << "nothing written";
    master().fpwr(0x1001, 0x0502, {0x00, 0x00});
    EXPECT_EQ(master().fprd16(0x1001, 0x0502) & 0x7800, 0) << "command 000 clears the errors";

    EXPECT_EQ(control("eeprom_nack 0 1"), "OK");
    master().eeprom_read(0x1001, 0x0008);
    EXPECT_EQ(master().fprd16(0x1001, 0x0502) & 0x2000, 0x2000) << "missing acknowledge";
    master().fpwr(0x1001, 0x0502, {0x00, 0x00});
    EXPECT_EQ(word32(0x1001, 0x0008), 0x00ABCDEFu);

    master().fpwr(0x1001, 0x0502, {0x00, 0x07});  // not a command
    EXPECT_EQ(master().fprd16(0x1001, 0x0502) & 0x2000, 0x2000);
}

TEST_F(Eeprom, a_word_changed_in_the_image_is_read_and_loaded_at_power_up)
{
    EXPECT_EQ(control("eeprom_word 0 2 0x1234"), "OK");
    EXPECT_EQ(word16(0x1001, 0x0002), 0x1234);
    EXPECT_EQ(master().fprd16(0x1001, 0x0502) & 0x1800, 0) << "no load yet";
    EXPECT_EQ(control("restart 0"), "OK");
    master().assign_stations(1);
    EXPECT_EQ(master().fprd16(0x1001, 0x0502) & 0x1800, 0x1800) << "word 7 no longer matches";
    EXPECT_NE(control("eeprom_word 0 1024 1").rfind("ERR", 0), std::string::npos);
    EXPECT_NE(control("eeprom_word 0 2 0x10000").rfind("ERR", 0), std::string::npos);
}
