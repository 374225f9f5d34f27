// Loads a generated ENI file of 100 drive slaves (process data, CoE init
// commands, register init commands, clocks, process-image variables) into
// the ENI model and prints median and p99 beside a bare libxml++ parse of
// the same file, measured in the same run.

#include <libxml++/libxml++.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "xelo_ethercat_cfg.h"

namespace {

constexpr int SLAVES = 100;
constexpr int RUNS = 101;

void write_register_cmd(std::ostream& out, const char* transition, const char* comment, int cmd, int adp,
                        const char* ado, const char* data, bool validate)
{
    out << "        <InitCmd>\n          <Transition>" << transition << "</Transition>\n          <Comment><![CDATA["
        << comment << "]]></Comment>\n          <Cmd>" << cmd << "</Cmd>\n          <Adp>" << adp
        << "</Adp>\n          <Ado>" << ado << "</Ado>\n";
    if (validate)
        out << "          <DataLength>2</DataLength>\n";
    else
        out << "          <Data>" << data << "</Data>\n";
    out << "          <Cnt>1</Cnt>\n          <Retries>3</Retries>\n";
    if (validate)
        out << "          <Validate>\n            <Data>" << data
            << "</Data>\n            <DataMask>1f00</DataMask>\n            <Timeout>3000</Timeout>\n"
               "          </Validate>\n";
    out << "        </InitCmd>\n";
}

void write_entry(std::ostream& out, const char* index, int bits, const char* name, const char* type)
{
    out << "          <Entry>\n            <Index>" << index << "</Index>\n            <SubIndex>0</SubIndex>\n"
        << "            <BitLen>" << bits << "</BitLen>\n            <Name>" << name << "</Name>\n"
        << "            <DataType>" << type << "</DataType>\n          </Entry>\n";
}

void write_coe_cmd(std::ostream& out, const char* comment, const char* index, const char* data)
{
    out << "            <InitCmd CompleteAccess=\"1\">\n              <Transition>PS</Transition>\n"
        << "              <Comment><![CDATA[" << comment << "]]></Comment>\n              <Timeout>0</Timeout>\n"
        << "              <Ccs>1</Ccs>\n              <Index>" << index << "</Index>\n"
        << "              <SubIndex>0</SubIndex>\n              <Data>" << data << "</Data>\n            </InitCmd>\n";
}

void write_slave(std::ostream& out, int i)
{
    const int phys = 1001 + i;
    const int adp = (65536 - i) % 65536;
    const int bit = 336 + i * 104;
    out << "    <Slave>\n      <Info>\n        <Name><![CDATA[Axis " << i << "]]></Name>\n        <PhysAddr>" << phys
        << "</PhysAddr>\n        <AutoIncAddr>" << adp << "</AutoIncAddr>\n        <Physics>YY</Physics>\n"
        << "        <VendorId>130</VendorId>\n        <ProductCode>768</ProductCode>\n"
        << "        <RevisionNo>#x00010000</RevisionNo>\n        <SerialNo>" << i << "</SerialNo>\n      </Info>\n"
        << "      <ProcessData>\n        <Send>\n          <BitStart>" << bit
        << "</BitStart>\n          <BitLength>88</BitLength>\n        </Send>\n        <Recv>\n          <BitStart>"
        << bit << "</BitStart>\n          <BitLength>104</BitLength>\n        </Recv>\n"
        << "        <Sm2>\n          <Type>Outputs</Type>\n          <DefaultSize>11</DefaultSize>\n"
        << "          <StartAddress>#x1100</StartAddress>\n          <ControlByte>#x64</ControlByte>\n"
        << "          <Enable>1</Enable>\n          <Pdo>#x1600</Pdo>\n        </Sm2>\n"
        << "        <Sm3>\n          <Type>Inputs</Type>\n          <DefaultSize>13</DefaultSize>\n"
        << "          <StartAddress>#x1180</StartAddress>\n          <ControlByte>#x20</ControlByte>\n"
        << "          <Enable>1</Enable>\n          <Pdo>#x1a00</Pdo>\n        </Sm3>\n"
        << "        <RxPdo Sm=\"2\">\n          <Index>#x1600</Index>\n          <Name>Outputs</Name>\n";
    write_entry(out, "#x6040", 16, "Controlword", "UINT");
    write_entry(out, "#x6060", 8, "Modes of operation", "SINT");
    write_entry(out, "#x607a", 32, "Target position", "DINT");
    write_entry(out, "#x60ff", 32, "Target velocity", "DINT");
    out << "        </RxPdo>\n        <TxPdo Sm=\"3\">\n          <Index>#x1a00</Index>\n"
        << "          <Name>Inputs</Name>\n";
    write_entry(out, "#x6041", 16, "Statusword", "UINT");
    write_entry(out, "#x6061", 8, "Modes of operation display", "SINT");
    write_entry(out, "#x6064", 32, "Position actual value", "DINT");
    write_entry(out, "#x606c", 32, "Velocity actual value", "DINT");
    write_entry(out, "#x603f", 16, "Error code", "UINT");
    out << "        </TxPdo>\n      </ProcessData>\n"
        << "      <Mailbox DataLinkLayer=\"true\">\n        <Send>\n          <Start>#x1000</Start>\n"
        << "          <Length>128</Length>\n        </Send>\n        <Recv>\n          <Start>#x1080</Start>\n"
        << "          <Length>128</Length>\n          <PollTime>10</PollTime>\n        </Recv>\n"
        << "        <Protocol>CoE</Protocol>\n        <CoE>\n          <InitCmds>\n";
    write_coe_cmd(out, "clear sm pdos (0x1C12)", "#x1c12", "00");
    write_coe_cmd(out, "clear sm pdos (0x1C13)", "#x1c13", "00");
    write_coe_cmd(out, "download pdo 0x1600 entries", "#x1600", "0400100040600800606020007a602000ff60");
    write_coe_cmd(out, "download pdo 0x1A00 entries", "#x1a00", "050010004160080061602000646020006c6010003f60");
    write_coe_cmd(out, "download pdo 0x1C12 index", "#x1c12", "01000016");
    write_coe_cmd(out, "download pdo 0x1C13 index", "#x1c13", "0100001a");
    out << "          </InitCmds>\n          <Profile>\n            <ChannelInfo>\n              <ProfileNo>402"
        << "</ProfileNo>\n            </ChannelInfo>\n          </Profile>\n        </CoE>\n      </Mailbox>\n"
        << "      <InitCmds>\n";
    write_register_cmd(out, "IP", "set station address", 2, adp, "#x0010", "e903", false);
    write_register_cmd(out, "IP", "SM0 write mailbox", 5, phys, "#x0800", "0010800026000100", false);
    write_register_cmd(out, "IP", "SM1 read mailbox", 5, phys, "#x0808", "8010800022000100", false);
    write_register_cmd(out, "IP", "request PREOP", 5, phys, "#x0120", "0200", false);
    write_register_cmd(out, "IP", "check PREOP", 4, phys, "#x0130", "0200", true);
    write_register_cmd(out, "PS", "SM2 outputs", 5, phys, "#x0810", "00110b0064000100", false);
    write_register_cmd(out, "PS", "SM3 inputs", 5, phys, "#x0818", "80110d0020000100", false);
    write_register_cmd(out, "PS", "FMMU0 outputs", 5, phys, "#x0600", "010000010b0000070011000201000000", false);
    write_register_cmd(out, "PS", "FMMU1 inputs", 5, phys, "#x0610", "010000010d0000078011000101000000", false);
    write_register_cmd(out, "PS", "request SAFEOP", 5, phys, "#x0120", "0400", false);
    write_register_cmd(out, "PS", "check SAFEOP", 4, phys, "#x0130", "0400", true);
    write_register_cmd(out, "SO", "request OP", 5, phys, "#x0120", "0800", false);
    write_register_cmd(out, "SO", "check OP", 4, phys, "#x0130", "0800", true);
    out << "      </InitCmds>\n      <PreviousPort Selected=\"1\">\n        <Port>B</Port>\n        <PhysAddr>"
        << phys - 1 << "</PhysAddr>\n      </PreviousPort>\n      <DC>\n        <ReferenceClock>" << (i == 0)
        << "</ReferenceClock>\n        <CycleTime0>1000000</CycleTime0>\n        <CycleTime1>0</CycleTime1>\n"
        << "        <ShiftTime>0</ShiftTime>\n      </DC>\n    </Slave>\n";
}

void write_variables(std::ostream& out, const char* direction, const char* const names[], const int bits[], int count)
{
    for (int i = 0; i < SLAVES; ++i) {
        int offset = 336 + i * 104;
        for (int k = 0; k < count; ++k) {
            out << "        <Variable>\n          <Name>Axis " << i << '.' << direction << '.' << names[k]
                << "</Name>\n          <DataType>DINT</DataType>\n          <BitSize>" << bits[k]
                << "</BitSize>\n          <BitOffs>" << offset << "</BitOffs>\n        </Variable>\n";
            offset += bits[k];
        }
    }
}

std::string write_eni(const std::string& dir)
{
    const std::string path = dir + "/bench_eni.xml";
    std::ofstream out(path);
    out << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<EtherCATConfig xmlns:xsi="
           "\"http://www.w3.org/2001/XMLSchema-instance\" xsi:noNamespaceSchemaLocation=\"EtherCATConfig.xsd\">\n"
           "  <Config>\n    <Master>\n      <Info>\n        <Name>bench</Name>\n"
           "        <Destination>ffffffffffff</Destination>\n        <Source>000000000000</Source>\n"
           "        <EtherType>88a4</EtherType>\n      </Info>\n    </Master>\n";
    for (int i = 0; i < SLAVES; ++i)
        write_slave(out, i);
    const int bytes = SLAVES * 13 + 1;
    out << "    <Cyclic>\n      <CycleTime>1000</CycleTime>\n      <Frame>\n"
        << "        <Cmd>\n          <State>SAFEOP</State>\n          <State>OP</State>\n          <Cmd>13</Cmd>\n"
        << "          <Adp>0</Adp>\n          <Ado>#x0910</Ado>\n          <DataLength>4</DataLength>\n"
        << "          <Cnt>" << SLAVES << "</Cnt>\n          <InputOffs>16</InputOffs>\n"
        << "          <OutputOffs>16</OutputOffs>\n        </Cmd>\n"
        << "        <Cmd>\n          <State>SAFEOP</State>\n          <State>OP</State>\n          <Cmd>12</Cmd>\n"
        << "          <Addr>#x01000000</Addr>\n          <DataLength>" << bytes << "</DataLength>\n          <Cnt>"
        << 3 * SLAVES << "</Cnt>\n          <InputOffs>32</InputOffs>\n          <OutputOffs>32</OutputOffs>\n"
        << "        </Cmd>\n      </Frame>\n    </Cyclic>\n    <ProcessImage>\n      <Inputs>\n        <ByteSize>"
        << 44 + bytes << "</ByteSize>\n";
    const char* const in_names[] = {"Statusword", "Mode display", "Position", "Velocity", "Error code"};
    const int in_bits[] = {16, 8, 32, 32, 16};
    write_variables(out, "Inputs", in_names, in_bits, 5);
    out << "      </Inputs>\n      <Outputs>\n        <ByteSize>" << 44 + bytes << "</ByteSize>\n";
    const char* const out_names[] = {"Controlword", "Mode", "Target position", "Target velocity"};
    const int out_bits[] = {16, 8, 32, 32};
    write_variables(out, "Outputs", out_names, out_bits, 4);
    out << "      </Outputs>\n    </ProcessImage>\n  </Config>\n</EtherCATConfig>\n";
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

struct Figures {
    double median_ms;
    double p99_ms;
};

Figures figures(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    const std::size_t p99 = (times.size() * 99 + 99) / 100 - 1;
    return {times[times.size() / 2], times[std::min(p99, times.size() - 1)]};
}

double time_ms(const std::function<void()>& run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main()
{
    char dir_template[] = "/tmp/eni_bench_XXXXXX";
    const char* dir = mkdtemp(dir_template);
    if (dir == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    try {
        const std::string path = write_eni(dir);
        std::size_t slaves = 0;
        const auto load = [&] {
            EtherCATConfig_Config eni(path);
            slaves = eni.slaves_el.size();
        };
        const auto parse = [&] {
            xmlpp::DomParser parser;
            parser.parse_file(path);
        };
        // Warm the file cache and the allocator, then alternate the two so
        // that both meet the same machine.
        load();
        parse();
        std::vector<double> load_times;
        std::vector<double> parse_times;
        for (int i = 0; i < RUNS; ++i) {
            load_times.push_back(time_ms(load));
            parse_times.push_back(time_ms(parse));
        }
        const Figures load_figures = figures(load_times);
        const Figures parse_figures = figures(parse_times);
        std::ifstream file(path, std::ios::binary | std::ios::ate);
        const long long size = static_cast<long long>(file.tellg());
        std::remove(path.c_str());
        rmdir(dir);
        std::printf("\nENI of %zu slaves (%lld bytes), %d runs\n", slaves, size, RUNS);
        std::printf("                      median        p99\n");
        std::printf("  EtherCATConfig   : %8.2f ms %8.2f ms\n", load_figures.median_ms, load_figures.p99_ms);
        std::printf("  libxml++ parse   : %8.2f ms %8.2f ms\n", parse_figures.median_ms, parse_figures.p99_ms);
        std::printf("  ratio load/parse : %8.2f    %8.2f    (goal: within 5)\n",
                    load_figures.median_ms / parse_figures.median_ms, load_figures.p99_ms / parse_figures.p99_ms);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "benchmark failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
