// Command handlers of the SDO services: blocking upload and download, and
// the push and pop ends of the SDO queue.
#include <stdexcept>
#include <string>
#include <vector>

#include "ecm_log.h"
#include "ecm_request_arguments.h"
#include "xelo_ethercat_master_socket.h"

namespace {

// size data bytes, each a decimal int of which the low 8 bits count.
std::vector<uint8_t> read_data_bytes_ex(std::istream& args, int size)
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<uint8_t>(read_int_argument_ex(args, "data byte") & 0xFF));
    return bytes;
}

// A request size within one transfer's buffer.
int read_sdo_size_ex(std::istream& args)
{
    const int size = read_int_argument_ex(args, "size");
    if (size < 0 || size > ecm_sdo::BUFFER_SIZE)
        throw std::runtime_error("Attention: data size not correct");
    return size;
}

std::string bytes_text(const std::vector<uint8_t>& bytes, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            text += ' ';
        text += std::to_string(bytes.at(static_cast<std::size_t>(i)));
    }
    return text;
}

}  // namespace

std::string ECM_Master_Socket::get_data_via_sdo_exec(std::istream& args)
{
    try {
        const uint16_t address = read_uint16_argument_ex(args, "address");
        const int index = read_int_argument_ex(args, "index");
        const int subindex = read_int_argument_ex(args, "subindex");
        const int size = read_sdo_size_ex(args);
        std::vector<uint8_t> data(static_cast<std::size_t>(size), 0);
        get_data_via_sdo_ex(address, index, subindex, size, &data);
        if (data.size() < static_cast<std::size_t>(size))
            throw std::runtime_error("Attention: the object holds " + std::to_string(data.size()) + " bytes, not " +
                                     std::to_string(size));
        return bytes_text(data, size);
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on get_data_via_sdo_exec ") + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}

std::string ECM_Master_Socket::set_data_via_sdo_exec(std::istream& args)
{
    try {
        const uint16_t address = read_uint16_argument_ex(args, "address");
        const int index = read_int_argument_ex(args, "index");
        const int subindex = read_int_argument_ex(args, "subindex");
        const int size = read_sdo_size_ex(args);
        std::vector<uint8_t> data = read_data_bytes_ex(args, size);
        set_data_via_sdo_ex(address, index, subindex, static_cast<unsigned int>(size), std::move(data));
        return ecm_protocol::REPLY_OK;
    } catch (const std::exception& e) {
        ecm_log_err(std::string("Error on set_data_via_sdo_exec ") + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}

std::string ECM_Master_Socket::push_sdo_exec(std::istream& args)
{
    try {
        const uint16_t address = read_uint16_argument_ex(args, "address");
        const int index = read_int_argument_ex(args, "index");
        const int subindex = read_int_argument_ex(args, "subindex");
        const int code = read_int_argument_ex(args, "code");
        const int size = read_sdo_size_ex(args);
        std::vector<uint8_t> data = read_data_bytes_ex(args, size);
        push_sdo_ex(address, index, subindex, size, std::move(data), static_cast<unsigned char>(code & 0xFF));
        return ecm_protocol::REPLY_OK;
    } catch (const std::exception& e) {
        ecm_log_inf(std::string("Error on push_sdo_exec ") + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}

std::string ECM_Master_Socket::pop_sdo_exec(std::istream& /*args*/)
{
    try {
        uint16_t address = 0;
        int index = 0;
        int subindex = 0;
        int size = 0;
        std::vector<uint8_t> data;
        unsigned char code = 0;
        const int waiting = pop_sdo_ex(&address, &index, &subindex, &size, &data, &code);
        if (waiting == 0)
            return "0";
        std::string reply = std::to_string(waiting) + " " + std::to_string(address) + " " + std::to_string(index) +
                            " " + std::to_string(subindex) + " " + std::to_string(code) + " " + std::to_string(size) +
                            " ";
        if (size > 0)
            reply += bytes_text(data, size);
        return reply;
    } catch (const std::exception& e) {
        ecm_log_inf(std::string("Error on pop_sdo_exec ") + e.what());
        return ecm_protocol::REPLY_ERROR;
    }
}
