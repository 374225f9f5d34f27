// Byte-array variables: slices, texts and whole or partial writes.

#include "framework_input.h"
#include "framework_output.h"
#include "objects_fixture.h"

namespace {
const std::string DIM_CHECK = "[Framework_Variable][check_dim_internal_ex] t_bytes byte array invalid ";
using Bytes = std::vector<uint8_t>;
}  // namespace

class Framework_Byte_Arrays : public Objects_Test {
protected:
    void SetUp() override
    {
        Objects_Test::SetUp();
        writer.setup_ex(manager.get());
        reader.setup_ex(manager.get());
    }

    // Writes the whole array and waits until the input shows it.
    void send(const Bytes& bytes)
    {
        writer.set_value_ex(bytes, true, 0);
        cycle_until([&] { return reader.get_value_ex<Bytes>() == bytes; }, *manager, writer, reader);
    }

    Framework_Output writer{"t_bytes"};
    Framework_Input reader{"t_bytes"};
};

TEST_F(Framework_Byte_Arrays, TextsEndAtTheFirstZeroByte)
{
    writer.set_value_ex<std::string>("abc");
    cycle_until([&] { return reader.get_value_ex<std::string>() == "abc"; }, *manager, writer, reader);
    EXPECT_EQ(reader.get_value_ex<Bytes>(), (Bytes{'a', 'b', 'c', 0, 0, 0, 0, 0}));

    send(Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
    EXPECT_EQ(reader.get_value_ex<std::string>(), "abcdefgh");
    EXPECT_EQ(reader.get_value_ex<std::string>(2, 1), "bc");
    EXPECT_EQ(reader.get_value_ex<Bytes>(3, 5), (Bytes{'f', 'g', 'h'}));
    EXPECT_EQ(reader.get_previous_value_ex<std::string>(0, 0), "abc");
    EXPECT_EQ(reader.get_previous_value_ex<std::string>(2, 1), "bc");
}

TEST_F(Framework_Byte_Arrays, SlicesMustLieInsideTheArray)
{
    const Bytes sent{1, 2, 3, 4, 5, 6, 7, 8};
    send(sent);
    EXPECT_EQ(reader.get_value_ex<Bytes>(8, 0), sent);
    EXPECT_EQ(reader.get_value_ex<Bytes>(0, 0), sent);
    EXPECT_EQ(reader.get_value_ex<Bytes>(1, 7), Bytes{8});

    const std::string rule_1 = DIM_CHECK + "dimension! given :: ";
    const std::string rule_2 = DIM_CHECK + "offset! given :: ";
    const std::string rule_3 = DIM_CHECK + "dimension & offset combination! given dim :: ";
    // a reader takes dimension 0 for the whole array; a writer gives its value's size
    const struct {
        uint32_t dimension;
        uint32_t offset;
        std::string read_refusal;
        std::string write_refusal;
    } cases[] = {
        {9, 0, rule_1 + "9, required >= 1 && <= 8", rule_1 + "9, required >= 1 && <= 8"},
        {1, 8, rule_2 + "8, required >= 0 && <= 7", rule_2 + "8, required >= 0 && <= 7"},
        {8, 1, rule_3 + "8, given offset :: 1. required dim + offset <= 8",
         rule_3 + "8, given offset :: 1. required dim + offset <= 8"},
        {0, 1, rule_3 + "8, given offset :: 1. required dim + offset <= 8", rule_1 + "0, required >= 1 && <= 8"},
        {2, 0xFFFFFFFFu, rule_2 + "4294967295, required >= 0 && <= 7", rule_2 + "4294967295, required >= 0 && <= 7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(thrown_text([&] { reader.get_value_ex<std::string>(c.dimension, c.offset); }), c.read_refusal)
            << c.dimension << " at " << c.offset;
        EXPECT_EQ(thrown_text([&] { writer.set_value_ex(Bytes(c.dimension, 0xEE), false, c.offset); }), c.write_refusal)
            << c.dimension << " at " << c.offset;
    }
    EXPECT_EQ(thrown_text([&] { writer.set_value_ex<std::string>(""); }), rule_1 + "0, required >= 1 && <= 8");
    EXPECT_EQ(writer.get_value_to_set_ex<Bytes>(), sent) << "refused writes change nothing";
}

TEST_F(Framework_Byte_Arrays, PartialWritesKeepOrClearTheOtherBytes)
{
    const Bytes full(8, 0xFF);
    const Bytes part{1, 2, 3};
    writer.set_value_ex(full, true, 0);
    writer.set_value_ex(part, false, 2);
    EXPECT_EQ(writer.get_value_to_set_ex<Bytes>(), (Bytes{0xFF, 0xFF, 1, 2, 3, 0xFF, 0xFF, 0xFF}));
    writer.set_value_ex(part, true, 2);
    EXPECT_EQ(writer.get_value_to_set_ex<Bytes>(), (Bytes{0, 0, 1, 2, 3, 0, 0, 0}));
    writer.set_value_ex(std::string("xy"), false, 6);
    EXPECT_EQ(writer.get_value_to_set_ex<std::string>(3, 5), "") << "a text ends at its first zero byte";
    EXPECT_EQ(writer.get_value_to_set_ex<std::string>(2, 6), "xy");

    cycle_until([&] { return reader.get_value_ex<Bytes>() == Bytes{0, 0, 1, 2, 3, 0, 'x', 'y'}; }, *manager, writer,
                reader);
    EXPECT_EQ(output_byte("t_bytes", 6), 'x');
}
