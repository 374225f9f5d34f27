#include "ethercat_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

const std::array<motor_drivers_t, DRIVE_TYPES_NUM> motor_drivers = {{
    {ONDARA_ETH_ADAPTER, 0x8AD, 1},
    {SCHNEIDER_BRUSHLESS, 0x0800005A, 91200},
    {INFRANOR_BRUSHLESS, 130, 768},
    {FESTO_CMMT_AS, 29, 8067733},
    {YASKAWA_BRUSHLESS, 1337, 35652609},
    {HIWIN_BRUSHLESS, 0xAAAA, 5},
}};

const std::array<const char*, XML_FILES_NUM> xml_file_names = {
    "134217818_91200_134217818_91200.xml",
    "134217818_91200.xml",
    "134217818_91200.xml_1",
    "130_768.xml",
    "29_8067733.xml",
    "1337_35652609.xml",
    "43690_5.xml",
    "1337_35652609.xml_1",
    "1337_35652609.xml_2",
    "1337_35652609.xml_3",
};

const char* const CHOSEN_DESCRIPTOR = "/tmp/ondara_app_desc.xml";

std::string install_directory()
{
    return std::string("/opt/") + CELLAPP_INSTALL_NAME;
}

std::string startup_script_path()
{
    return std::string("/tmp/") + CELLAPP_INSTALL_NAME + "/bin/create_link.sh";
}

std::string robot_address_file_path()
{
    return install_directory() + "/etc/ip_addr.txt";
}

std::string scan_eni_path()
{
    return install_directory() + "/etc/busmaster/schneider_one_axis.xml";
}

std::string descriptor_directory()
{
    return install_directory() + "/etc/rtframe/";
}

std::string xml_file_path(int index)
{
    return descriptor_directory() + xml_file_names.at(static_cast<size_t>(index));
}

int get_eth_slave_vendor_id(int vector_index)
{
    if (vector_index < 0 || vector_index >= DRIVE_TYPES_NUM)
        throw std::out_of_range("[ondara][get_eth_slave_vendor_id] no drive row " + std::to_string(vector_index));
    return static_cast<int>(motor_drivers[static_cast<size_t>(vector_index)].vendor_id);
}

int get_eth_slave_product_code(int vector_index)
{
    if (vector_index < 0 || vector_index >= DRIVE_TYPES_NUM)
        throw std::out_of_range("[ondara][get_eth_slave_product_code] no drive row " + std::to_string(vector_index));
    return static_cast<int>(motor_drivers[static_cast<size_t>(vector_index)].product_code);
}

int8_t drive_index_of(uint32_t vendor_id, uint32_t product_code)
{
    for (size_t row = 0; row < motor_drivers.size(); ++row) {
        if (motor_drivers[row].vendor_id == vendor_id && motor_drivers[row].product_code == product_code)
            return static_cast<int8_t>(row);
    }
    return UNKNOWN;
}

std::string descriptor_name(const std::string& prefix, const std::array<int8_t, MAX_N_SLAVES>& drive_idxs, int n)
{
    std::string name = prefix;
    for (int p = 2; p <= n && p <= MAX_N_SLAVES; ++p) {
        if (p > 2)
            name += "_";
        const int row = drive_idxs[static_cast<size_t>(p - 1)];
        char part[100];
        if (row < 0 || row >= DRIVE_TYPES_NUM)
            std::snprintf(part, sizeof(part), "unknown");
        else
            std::snprintf(part, sizeof(part), "%d_%d", get_eth_slave_vendor_id(row), get_eth_slave_product_code(row));
        name += part;
    }
    if (n > MAX_N_SLAVES)
        name += "_more";
    name += ".xml";
    if (name.size() >= MAX_XML_FILE_NAME_LENGTH)
        name.resize(MAX_XML_FILE_NAME_LENGTH - 1);
    return name;
}

int xml_index_of(const std::string& path)
{
    for (int k = 0; k < XML_FILES_NUM; ++k) {
        if (path == xml_file_path(k))
            return k;
    }
    return -1;
}

bool copy_file_atomically(const std::string& source, const std::string& destination, std::string& error)
{
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        error = "cannot open " + source + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        error = "cannot read " + source;
        return false;
    }
    const std::string temporary = destination + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd == -1) {
        error = "open " + temporary + ": " + std::strerror(errno);
        return false;
    }
    const std::string data = content.str();
    size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n == -1 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "write " + temporary + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(fd) == -1 || ::close(fd) == -1) {
        error = "close " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), destination.c_str()) == -1) {
        error = "rename " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string read_robot_address(const std::string& path, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot open " + path;
        return "";
    }
    std::vector<std::string> tokens;
    std::string token;
    while (std::getline(in, token, '-'))
        tokens.push_back(token);
    if (tokens.size() < 2) {
        error = path + " holds no address (expected <name>-<address>)";
        return "";
    }
    std::string address = tokens[1];
    const char* const blanks = " \t\r\n";
    address.erase(0, address.find_first_not_of(blanks));
    const size_t last = address.find_last_not_of(blanks);
    address.erase(last == std::string::npos ? 0 : last + 1);
    if (address.empty())
        error = path + " holds an empty address";
    return address;
}

bool is_trusted_script(const std::string& path, std::string& reason)
{
    std::string current = path;
    for (int level = 0; level < 3; ++level) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) == -1) {
            reason = current + ": " + std::strerror(errno);
            return false;
        }
        if (st.st_uid != 0) {
            reason = current + " is not owned by root";
            return false;
        }
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            reason = current + " is writable by others than root";
            return false;
        }
        if (level == 0 && !S_ISREG(st.st_mode)) {
            reason = current + " is not a regular file";
            return false;
        }
        current = current.substr(0, current.find_last_of('/'));
        if (current.empty())
            break;
    }
    return true;
}

Ethercat_Info::Ethercat_Info(int drive_types_num) : m_drive_types_num(drive_types_num) {}

int8_t Ethercat_Info::get_drive_idxs_ith_value(int i) const
{
    if (i < 0 || i >= MAX_N_SLAVES)
        throw std::out_of_range("[Ethercat_Info][get_drive_idxs_ith_value] no slave index " + std::to_string(i) +
                                " (0 to 4)");
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_drive_idxs[static_cast<size_t>(i)];
}

void Ethercat_Info::set_drive_idxs_ith_value(int i, int8_t value)
{
    if (i < 0 || i >= MAX_N_SLAVES)
        throw std::out_of_range("[Ethercat_Info][set_drive_idxs_ith_value] no slave index " + std::to_string(i));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_drive_idxs[static_cast<size_t>(i)] = value;
}

int Ethercat_Info::get_xml_idx() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_xml_idx;
}

void Ethercat_Info::set_xml_idx(int index)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_xml_idx = static_cast<int8_t>(index);
}

bool Ethercat_Info::get_network_confirmed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_network_conf_confirmed;
}

void Ethercat_Info::set_network_confirmed(bool confirmed)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_network_conf_confirmed = confirmed;
}

int Ethercat_Info::get_n_slaves_on_ethercat_network() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_n_ethercat_slaves;
}

void Ethercat_Info::set_n_slaves_on_ethercat_network(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_n_ethercat_slaves = n;
}
