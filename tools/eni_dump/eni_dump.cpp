// eni_dump FILE: loads an ENI file with the master's reader, prints the
// model and a summary of the slaves, the process image and the cyclic
// frames. An unreadable or invalid file prints the reader's error and ends
// with status 1.

#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>

#include "xelo_ethercat_cfg.h"

namespace {

void print_hex32(std::ostream& os, int32_t value)
{
    char text[11];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<uint32_t>(value));
    os << text;
}

void print_summary(std::ostream& os, const EtherCATConfig_Config& eni)
{
    os << "slaves " << eni.slaves_el.size() << '\n';
    int position = 1;
    for (const EtherCATConfig_Config_Slave& slave : eni.slaves_el) {
        const EtherCATConfig_Config_Slave_Info& info = slave.info_m_el;
        os << "slave " << position++ << ' ' << info.name_m_el << " vendor ";
        print_hex32(os, info.vendor_id_m_el);
        os << " product ";
        print_hex32(os, info.product_code_m_el);
        os << " revision ";
        print_hex32(os, info.revision_no_m_el);
        os << " phys " << info.phys_addr_m_el << '\n';
    }
    const EtherCATConfig_Config_ProcessImage& image = eni.processimage_el;
    os << "image in " << (image.has_inputs_o_el ? image.inputs_o_el.bit_size_m_el : 0) << " out "
       << (image.has_outputs_o_el ? image.outputs_o_el.bit_size_m_el : 0) << '\n';
    std::size_t commands = 0;
    for (const EtherCATConfig_Config_Cyclic_Frame& frame : eni.cyclic_el.frame_m_el)
        commands += frame.cmd_m_el.size();
    os << "frames " << eni.cyclic_el.frame_m_el.size() << " cmds " << commands << '\n';
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: eni_dump FILE\n";
        return 2;
    }
    std::unique_ptr<EtherCATConfig_Config> eni;
    try {
        eni = std::make_unique<EtherCATConfig_Config>(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    std::cout << *eni;
    print_summary(std::cout, *eni);
    std::cout.flush();
    return std::cout ? 0 : 1;
}
