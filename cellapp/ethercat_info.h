#pragma once

// Drive identification: the table of known drives, the table of application
// descriptors, the result of the bus scan (Ethercat_Info) and the helpers of
// the scan (descriptor name, copy, robot address file).

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#ifndef CELLAPP_INSTALL_NAME
#define CELLAPP_INSTALL_NAME "ondara"
#endif

enum Drive_Mode_Code : int8_t {
    UNKNOWN = -1,
    ONDARA_ETH_ADAPTER = 0,
    SCHNEIDER_BRUSHLESS = 1,
    INFRANOR_BRUSHLESS = 2,
    FESTO_CMMT_AS = 3,
    YASKAWA_BRUSHLESS = 4,
    HIWIN_BRUSHLESS = 5,
};

typedef struct st_motor_drivers {
    int8_t mode_code;
    uint32_t vendor_id;
    uint32_t product_code;
} motor_drivers_t;

constexpr int DRIVE_TYPES_NUM = 6;
constexpr int MAX_N_SLAVES = 5;
constexpr int XML_FILES_NUM = 10;
constexpr int MAX_XML_FILE_NAME_LENGTH = 500;

extern const std::array<motor_drivers_t, DRIVE_TYPES_NUM> motor_drivers;
extern const std::array<const char*, XML_FILES_NUM> xml_file_names;

// "/opt/" + install name, and the files below it.
std::string install_directory();
std::string startup_script_path();
std::string robot_address_file_path();
std::string scan_eni_path();
std::string descriptor_directory();
// Install directory + "/etc/rtframe/" + the file name of entry index.
std::string xml_file_path(int index);
extern const char* const CHOSEN_DESCRIPTOR;  // "/tmp/ondara_app_desc.xml"

// Vendor id and product code of a row of motor_drivers; a row outside 0 to
// 5 throws std::out_of_range.
int get_eth_slave_vendor_id(int vector_index);
int get_eth_slave_product_code(int vector_index);

// The first row whose vendor id and product code equal the slave's, or -1.
int8_t drive_index_of(uint32_t vendor_id, uint32_t product_code);

// The descriptor name of a bus of n slaves whose drive indexes (positions 1
// to 5) are given: prefix + "<vendor>_<product>" for each position from 2,
// joined by "_", + ".xml". An unknown drive or more than five slaves give a
// name that matches no entry of the descriptor table.
std::string descriptor_name(const std::string& prefix, const std::array<int8_t, MAX_N_SLAVES>& drive_idxs, int n);
// The index of the entry of the descriptor table equal to the path, or -1.
int xml_index_of(const std::string& path);

// Copies source to destination through a temporary file in the destination's
// folder and a rename, so that the destination is either the old or the whole
// new file. False with the reason in error on failure.
bool copy_file_atomically(const std::string& source, const std::string& destination, std::string& error);

// The robot address of the address file: the file split at "-", the second
// token, trimmed of blanks and line ends. Empty with the reason in error when
// the file cannot be read or holds fewer than two tokens.
std::string read_robot_address(const std::string& path, std::string& error);

// True when the file, its folder and the folder above are owned by root and
// writable by nobody else; otherwise false with the reason.
bool is_trusted_script(const std::string& path, std::string& reason);

class Ethercat_Info {
public:
    explicit Ethercat_Info(int drive_types_num);

    int get_drive_types_num() const { return m_drive_types_num; }
    // i must lie in 0 to 4, else std::out_of_range.
    int8_t get_drive_idxs_ith_value(int i) const;
    void set_drive_idxs_ith_value(int i, int8_t value);
    int get_xml_idx() const;
    void set_xml_idx(int index);
    bool get_network_confirmed() const;
    void set_network_confirmed(bool confirmed);
    int get_n_slaves_on_ethercat_network() const;
    void set_n_slaves_on_ethercat_network(int n);

private:
    mutable std::mutex m_mutex;  // written by the scan, read by XML-RPC calls
    int32_t m_drive_types_num;
    std::array<int8_t, MAX_N_SLAVES> m_drive_idxs{};
    int8_t m_xml_idx = -1;
    bool m_network_conf_confirmed = false;
    int32_t m_n_ethercat_slaves = 0;
};
