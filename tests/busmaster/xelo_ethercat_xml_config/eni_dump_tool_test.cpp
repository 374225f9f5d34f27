// tools/eni_dump: the model dump followed by the summary lines, and the
// reader's error with status 1 for a file it refuses.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "eni_test_support.h"

namespace {

struct Tool_Run {
    int status;
    std::string out;
    std::string err;
};

Tool_Run run_eni_dump(const Eni_Temp_Dir& dir, const std::string& arguments)
{
    const std::string out = dir.path() + "/stdout";
    const std::string err = dir.path() + "/stderr";
    const std::string command = std::string(ENI_DUMP_BINARY) + " " + arguments + " >" + out + " 2>" + err;
    const int result = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(result)) << command;
    return {WEXITSTATUS(result), read_file(out), read_file(err)};
}

TEST(Eni_Dump_Tool, DemoCellSummary)
{
    Eni_Temp_Dir dir;
    const std::string file = std::string(CELL_EXAMPLES_DIR) + "/busmaster/demo_cell_eni.xml";
    const Tool_Run run = run_eni_dump(dir, "'" + file + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::string golden = read_file(std::string(ENI_FIXTURES_DIR) + "/golden/demo_cell_eni.dump");
    EXPECT_EQ(run.out, golden +
                           "slaves 2\n"
                           "slave 1 DIO 8/8 (bit-packed) vendor 0x00000E11 product 0x00080808 revision 0x00010000 "
                           "phys 1001\n"
                           "slave 2 Axis 1 (CiA 402 drive) vendor 0x00000082 product 0x00000300 revision "
                           "0x00010000 phys 1002\n"
                           "image in 72 out 72\n"
                           "frames 1 cmds 3\n");
}

TEST(Eni_Dump_Tool, IdentityAboveTheSignedRangeAndAbsentImage)
{
    Eni_Temp_Dir dir;
    const std::string file =
        dir.write("eni.xml", eni_document(eni_slave("", "#xE0000002") + eni_slave("", "4294967295"), "",
                                          "<Frame/><Frame><Cmd><Cmd>7</Cmd><Ado>0</Ado><InputOffs>0</InputOffs>"
                                          "<OutputOffs>0</OutputOffs></Cmd></Frame>",
                                          "<Outputs><ByteSize>#x10</ByteSize></Outputs>"));
    const Tool_Run run = run_eni_dump(dir, file);
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, ::testing::EndsWith("slaves 2\n"
                                             "slave 1 s vendor 0xE0000002 product 0x00000001 revision 0x00000000 "
                                             "phys 1001\n"
                                             "slave 2 s vendor 0xFFFFFFFF product 0x00000001 revision 0x00000000 "
                                             "phys 1001\n"
                                             "image in 0 out 16\n"
                                             "frames 2 cmds 1\n"));
}

// A file as an engineering tool exports it: split texts and mailbox
// sections without command lists.
TEST(Eni_Dump_Tool, ExportedShapesAreLoadedAndSummarised)
{
    Eni_Temp_Dir dir;
    const std::string mailbox =
        "<Mailbox><Send><Start>4096</Start><Length>128</Length></Send><Recv><Start>4224</Start>"
        "<Length>128</Length></Recv><Protocol>AoE</Protocol><Protocol>EoE</Protocol><AoE><NetId>1.2.3.4.1.1</NetId>"
        "</AoE><EoE/><FoE/><VoE/></Mailbox>"
        "<InitCmds><InitCmd><Transition> <![CDATA[PS]]></Transition><Comment> <![CDATA[EoE init command]]>"
        "</Comment><Cmd>5</Cmd><Adp>1001</Adp><Ado>#x120</Ado><Data>02<![CDATA[00]]></Data></InitCmd></InitCmds>";
    std::string slave = eni_slave(mailbox, "<![CDATA[#x82]]>");
    slave.replace(slave.find("<Name>s</Name>"), 14, "<Name><![CDATA[Drive]]> 1</Name>");
    const std::string file =
        dir.write("eni.xml",
                  eni_document(slave, "",
                               "<Frame><Cmd><State><![CDATA[OP]]></State><Cmd>12</Cmd><Addr>#x01000000</Addr>"
                               "<DataLength>4</DataLength><InputOffs>16</InputOffs><OutputOffs>16</OutputOffs>"
                               "</Cmd></Frame>",
                               "<Inputs><ByteSize>4</ByteSize></Inputs><Outputs><ByteSize> <![CDATA[2]]>"
                               "</ByteSize></Outputs>"));
    const Tool_Run run = run_eni_dump(dir, file);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.out, ::testing::HasSubstr("<Comment> EoE init command</Comment>\n"));
    EXPECT_THAT(run.out, ::testing::EndsWith("slaves 1\n"
                                             "slave 1 Drive 1 vendor 0x00000082 product 0x00000001 revision 0x00000000 "
                                             "phys 1001\n"
                                             "image in 4 out 2\n"
                                             "frames 1 cmds 1\n"));
}

TEST(Eni_Dump_Tool, RefusedFilesEndWithStatus1)
{
    Eni_Temp_Dir dir;
    const std::string missing_name = dir.write("no_name.xml", eni_document(eni_slave("").replace(13, 14, "")));
    Tool_Run run = run_eni_dump(dir, missing_name);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, not_unique("Name") + "\n");

    const std::string garbage = dir.write("garbage.xml", "not xml");
    run = run_eni_dump(dir, garbage);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, ::testing::StartsWith("Could not parse file : " + garbage + " desc = "));

    run = run_eni_dump(dir, "");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "usage: eni_dump FILE\n");
}

}  // namespace
