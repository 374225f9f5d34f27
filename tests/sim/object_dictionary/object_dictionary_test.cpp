#include "object_dictionary.h"

#include <gtest/gtest.h>

#include <vector>

using namespace sim;

namespace {

// A small device: a few variables, a record, one RxPDO mapping and its assignment.
class Object_Dictionary_Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        od.add_var<uint16_t>(0x6040, "controlword", Data_Type::UNSIGNED16, Access::rw, 0, true);
        od.add_var<uint16_t>(0x6041, "statusword", Data_Type::UNSIGNED16, Access::ro, 0x0250, true);
        od.add_var<int32_t>(0x607A, "target position", Data_Type::INTEGER32, Access::rw, -5, true);
        od.add_var<uint32_t>(0x2000, "password", Data_Type::UNSIGNED32, Access::wo, 0);
        od.add_var<int16_t>(0x605A, "quick stop option", Data_Type::INTEGER16, Access::rw, 6);
        od.add_object(0x1018, Object_Code::RECORD, "identity");
        od.add_sub<uint32_t>(0x1018, 1, "vendor", Data_Type::UNSIGNED32, Access::ro, 0x11223344);
        od.add_sub<uint32_t>(0x1018, 2, "product", Data_Type::UNSIGNED32, Access::ro, 0x55667788);
        od.add_object(0x1600, Object_Code::RECORD, "rxpdo", Access::rw, STATE_PRE_OP);
        for (uint8_t sub = 1; sub <= 4; ++sub)
            od.add_sub<uint32_t>(0x1600, sub, "entry", Data_Type::UNSIGNED32, Access::rw, 0, false, STATE_PRE_OP);
        od.set<uint32_t>(0x1600, 1, 0x60400010);
        od.set<uint32_t>(0x1600, 2, 0x607A0020);
        od.set<uint8_t>(0x1600, 0, 2);
        od.add_object(0x1C12, Object_Code::ARRAY, "rx assign", Access::rw, STATE_PRE_OP);
        od.add_sub<uint16_t>(0x1C12, 1, "pdo", Data_Type::UNSIGNED16, Access::rw, 0x1600, false, STATE_PRE_OP);
        od.set_state(STATE_PRE_OP);
    }
    Object_Dictionary od;
};

struct Access_Case {
    const char* what;
    bool write;
    uint16_t index;
    uint8_t subindex;
    std::vector<uint8_t> data;
    Device_State state;
    uint32_t abort;
};

TEST_F(Object_Dictionary_Test, RemoteAccessAnswersTheAbortCodeOfEachFault)
{
    const Access_Case cases[] = {
        {"read of a missing object", false, 0x6099, 0, {}, STATE_PRE_OP, abort_code::NO_OBJECT},
        {"read of a missing subindex", false, 0x1018, 3, {}, STATE_PRE_OP, abort_code::NO_SUBINDEX},
        {"read of a write-only entry", false, 0x2000, 0, {}, STATE_PRE_OP, abort_code::WRITE_ONLY},
        {"write of a read-only entry", true, 0x6041, 0, {1, 0}, STATE_PRE_OP, abort_code::READ_ONLY},
        {"write too short", true, 0x607A, 0, {1, 2}, STATE_PRE_OP, abort_code::LENGTH_MISMATCH},
        {"write too long", true, 0x6040, 0, {1, 2, 3}, STATE_PRE_OP, abort_code::LENGTH_MISMATCH},
        {"write of a missing object", true, 0x6099, 0, {1}, STATE_PRE_OP, abort_code::NO_OBJECT},
        {"write of a missing subindex", true, 0x1600, 9, {0, 0, 0, 0}, STATE_PRE_OP, abort_code::NO_SUBINDEX},
        {"mapping written in OP", true, 0x1600, 0, {0}, STATE_OP, abort_code::DEVICE_STATE},
        {"assignment written in SAFE-OP", true, 0x1C12, 0, {0}, STATE_SAFE_OP, abort_code::DEVICE_STATE},
        {"count above the entries", true, 0x1600, 0, {5}, STATE_PRE_OP, abort_code::VALUE_RANGE},
        {"mapping of a missing object", true, 0x1600, 3, {0x10, 0x00, 0x99, 0x60}, STATE_PRE_OP, abort_code::NO_OBJECT},
        {"mapping of a non-mappable object",
         true,
         0x1600,
         3,
         {0x10, 0x00, 0x5A, 0x60},
         STATE_PRE_OP,
         abort_code::NOT_MAPPABLE},
        {"read-only object in an RxPDO",
         true,
         0x1600,
         3,
         {0x10, 0x00, 0x41, 0x60},
         STATE_PRE_OP,
         abort_code::NOT_MAPPABLE},
        {"mapping with a wrong length",
         true,
         0x1600,
         3,
         {0x20, 0x00, 0x40, 0x60},
         STATE_PRE_OP,
         abort_code::LENGTH_MISMATCH},
        {"count over unset entries", true, 0x1600, 0, {3}, STATE_PRE_OP, abort_code::NONE},
        {"assignment of a TxPDO as RxPDO", true, 0x1C12, 1, {0x00, 0x1A}, STATE_PRE_OP, abort_code::VALUE_RANGE},
        {"plain write", true, 0x6040, 0, {0x0F, 0x00}, STATE_OP, abort_code::NONE},
        {"padding entry", true, 0x1600, 3, {0x08, 0x00, 0x00, 0x00}, STATE_PRE_OP, abort_code::NONE},
    };
    for (const Access_Case& c : cases) {
        od = Object_Dictionary();  // each case on a fresh device
        SetUp();
        od.set_state(c.state);
        std::vector<uint8_t> out;
        const uint32_t abort = c.write ? od.write(c.index, c.subindex, c.data) : od.read(c.index, c.subindex, out);
        EXPECT_EQ(abort, c.abort) << c.what;
    }
}

TEST_F(Object_Dictionary_Test, RefusedWriteLeavesTheValueAndAcceptedOneStoresIt)
{
    EXPECT_EQ(od.write(0x607A, 0, {1, 2}), abort_code::LENGTH_MISMATCH);
    EXPECT_EQ(od.get<int32_t>(0x607A), -5);
    EXPECT_EQ(od.write(0x607A, 0, to_bytes<int32_t>(-123456)), abort_code::NONE);
    std::vector<uint8_t> out;
    ASSERT_EQ(od.read(0x607A, 0, out), abort_code::NONE);
    EXPECT_EQ(from_bytes<int32_t>(out), -123456);
}

TEST_F(Object_Dictionary_Test, WriteCheckMayRefuseAndHookSeesOnlyStoredWrites)
{
    std::vector<uint8_t> seen;
    od.set_write_check(0x605A, [](uint8_t, const std::vector<uint8_t>& value) {
        return from_bytes<int16_t>(value) > 8 ? abort_code::VALUE_RANGE : abort_code::NONE;
    });
    od.set_write_hook(0x605A, [&](uint8_t sub) { seen.push_back(sub); });
    EXPECT_EQ(od.write(0x605A, 0, to_bytes<int16_t>(9)), abort_code::VALUE_RANGE);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(od.get<int16_t>(0x605A), 6);
    EXPECT_EQ(od.write(0x605A, 0, to_bytes<int16_t>(2)), abort_code::NONE);
    EXPECT_EQ(seen, std::vector<uint8_t>{0});
    EXPECT_EQ(od.get<int16_t>(0x605A), 2);
}

TEST_F(Object_Dictionary_Test, CompleteReadFromSubZeroPadsTheCountAndFromSubOneOmitsIt)
{
    std::vector<uint8_t> out;
    ASSERT_EQ(od.read_complete(0x1018, 0, out), abort_code::NONE);
    EXPECT_EQ(out, (std::vector<uint8_t>{2, 0, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
    ASSERT_EQ(od.read_complete(0x1018, 1, out), abort_code::NONE);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
    EXPECT_EQ(od.read_complete(0x6040, 0, out), abort_code::UNSUPPORTED_ACCESS);
    EXPECT_EQ(od.read_complete(0x6099, 0, out), abort_code::NO_OBJECT);
}

TEST_F(Object_Dictionary_Test, CompleteWriteIsAllOrNothing)
{
    // count 1, pad, entry 1 = controlword: accepted
    const std::vector<uint8_t> good = {1, 0, 0x10, 0x00, 0x40, 0x60};
    // count 2 with a second entry that is not mappable: refused, nothing changes
    const std::vector<uint8_t> bad = {2, 0, 0x10, 0x00, 0x40, 0x60, 0x10, 0x00, 0x5A, 0x60};
    EXPECT_EQ(od.write_complete(0x1600, 0, bad), abort_code::NOT_MAPPABLE);
    EXPECT_EQ(od.get<uint8_t>(0x1600, 0), 2);
    EXPECT_EQ(od.get<uint32_t>(0x1600, 2), 0x607A0020u);
    EXPECT_EQ(od.write_complete(0x1600, 0, {1, 0, 0x10}), abort_code::TOO_SHORT);
    EXPECT_EQ(od.write_complete(0x1600, 0, good), abort_code::NONE);
    EXPECT_EQ(od.get<uint8_t>(0x1600, 0), 1);
    EXPECT_EQ(od.get<uint32_t>(0x1600, 1), 0x60400010u);
    od.set_state(STATE_OP);
    EXPECT_EQ(od.write_complete(0x1600, 0, good), abort_code::DEVICE_STATE);
    EXPECT_EQ(od.write_complete(0x1018, 1, std::vector<uint8_t>(8, 0)), abort_code::READ_ONLY);
}

TEST_F(Object_Dictionary_Test, MappingLongerThanTheLimitIsRefused)
{
    od.max_pdo_bits = 40;
    EXPECT_EQ(od.write(0x1600, 3, {0x10, 0x00, 0x40, 0x60}), abort_code::NONE);
    EXPECT_EQ(od.write(0x1600, 0, {3}), abort_code::MAPPING_TOO_LONG);
    EXPECT_EQ(od.get<uint8_t>(0x1600, 0), 2);
}

TEST_F(Object_Dictionary_Test, ProcessImageFollowsTheAssignedMapping)
{
    const auto layout = od.pdo_layout(0x1C12);
    ASSERT_EQ(layout.size(), 2u);
    EXPECT_EQ(layout[1].bit_offset, 16u);
    EXPECT_EQ(Object_Dictionary::image_bytes(layout), 6u);

    uint8_t image[6] = {0x0F, 0x00, 0x78, 0x56, 0x34, 0x12};
    od.unpack_pdo(layout, image, sizeof image);
    EXPECT_EQ(od.get<uint16_t>(0x6040), 0x000F);
    EXPECT_EQ(od.get<int32_t>(0x607A), 0x12345678);

    od.set<int32_t>(0x607A, -2);
    uint8_t out[6] = {};
    od.pack_pdo(layout, out, sizeof out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{0x0F, 0x00, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_THROW(od.pack_pdo(layout, out, 5), std::invalid_argument);

    // With a padding entry in between the target moves one byte up.
    ASSERT_EQ(od.write(0x1600, 2, {0x08, 0x00, 0x00, 0x00}), abort_code::NONE);
    ASSERT_EQ(od.write(0x1600, 3, {0x20, 0x00, 0x7A, 0x60}), abort_code::NONE);
    ASSERT_EQ(od.write(0x1600, 0, {3}), abort_code::NONE);
    const auto padded = od.pdo_layout(0x1C12);
    ASSERT_EQ(padded.size(), 3u);
    EXPECT_EQ(padded[2].bit_offset, 24u);
    EXPECT_EQ(Object_Dictionary::image_bytes(padded), 7u);
}

TEST_F(Object_Dictionary_Test, LocalAccessChecksSizesAndNames)
{
    EXPECT_THROW(od.get<uint32_t>(0x6040), std::invalid_argument);
    EXPECT_THROW(od.set<uint8_t>(0x6040, 0, 1), std::invalid_argument);
    EXPECT_THROW(od.get<uint16_t>(0x6099), std::out_of_range);
    EXPECT_THROW(od.add_var<uint8_t>(0x6040, "again", Data_Type::UNSIGNED8, Access::rw, 0), std::logic_error);
    od.set<uint16_t>(0x6041, 0x1234);  // the device writes its own read-only entries
    EXPECT_EQ(od.get<uint16_t>(0x6041), 0x1234);
}

}  // namespace
