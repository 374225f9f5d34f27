#pragma once

#include <fstream>
#include <string>

// Writes a system configuration of busmaster to path; an element whose
// value is empty is left out.
inline void write_system_config(const std::string& path, const std::string& interface_name, const std::string& address,
                                const std::string& port)
{
    std::ofstream file(path);
    file << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<EcmSystem>\n  <SystemConfig>\n    <Cfg>\n";
    if (!interface_name.empty())
        file << "      <EtherCATNetInterface>" << interface_name << "</EtherCATNetInterface>\n";
    if (!address.empty())
        file << "      <EtheCATUserSocketIpAddr>" << address << "</EtheCATUserSocketIpAddr>\n";
    if (!port.empty())
        file << "      <EtheCATUserSocketPort>" << port << "</EtheCATUserSocketPort>\n";
    file << "    </Cfg>\n  </SystemConfig>\n</EcmSystem>\n";
}
