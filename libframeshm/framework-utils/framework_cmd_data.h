#pragma once

// Command data: the named items of a command channel's two data groups, each
// one a typed object bound to its label. A send object is an item of the
// group this side writes (the command on a client, the answer on a server), a
// receive object an item of the group it reads. The values live in the
// manager's local copies of the groups; they cross to the other side only
// when the command or the answer is sent. Only the channel classes make them.

#include <cstdint>
#include <string>

#include "framework_variable.h"

class Framework_Cmd_Channel;

// A framework variable that belongs to a semaphore-guarded parent.
class Framework_Sem_Variable : public Framework_Variable {
public:
    Framework_Sem_Variable() = delete;
    Framework_Sem_Variable(const Framework_Sem_Variable&) = delete;
    Framework_Sem_Variable& operator=(const Framework_Sem_Variable&) = delete;

    // Looks the item up in its parent: id, type, dimension.
    void setup_ex(Framework_Shared_Memory_Manager* frmk_ptr);

protected:
    Framework_Sem_Variable(int32_t parent_id, std::string parent_label, std::string label);
    virtual ~Framework_Sem_Variable();

    // The manager's readers of one item of the parent: its value, or byte_dim
    // bytes of it from byte_offset.
    template <typename T>
    using Value_Reader = T (Framework_Shared_Memory_Manager::*)(int parent_id, int data_id);
    using Byte_Array_Reader = void (Framework_Shared_Memory_Manager::*)(int parent_id, int data_id, uint8_t* bytes,
                                                                        int byte_dim, int byte_offset);

    // The value that reader gives; throws uninitialized_text + object_tag()
    // unless the object is bound.
    template <typename T>
    T read_value_ex(Value_Reader<T> reader, const char* uninitialized_text);
    // Byte arrays: dim_given bytes (0: the whole item) from offset.
    template <typename T>
    T read_slice_ex(Byte_Array_Reader reader, uint32_t dim_given, uint32_t offset);

    int32_t m_parent_id;
    std::string m_parent_label;
};

// The value operations of both kinds take one of the ten arithmetic types
// (unsigned char .. unsigned long long, signed char .. long long, float,
// double) or a byte array (std::vector<uint8_t> or std::string). Without a
// dimension and offset a byte array is the whole item; a string keeps every
// byte, zero bytes included.

class Framework_Cmd_Data_To_Recv : public Framework_Sem_Variable {
public:
    ~Framework_Cmd_Data_To_Recv() override;
    Framework_Cmd_Data_To_Recv(const Framework_Cmd_Data_To_Recv&) = delete;
    Framework_Cmd_Data_To_Recv& operator=(const Framework_Cmd_Data_To_Recv&) = delete;

    // What the other side sent, as the last wait delivered it.
    template <typename T>
    T get_value_ex();
    // Byte arrays: dim_given bytes from offset; a dimension of 0 stands for
    // the item's whole dimension.
    template <typename T>
    T get_value_ex(uint32_t dim_given, uint32_t offset);

protected:
    friend class Framework_Cmd_Channel;
    Framework_Cmd_Data_To_Recv(bool is_cmd_channel_server, int32_t channel_id, std::string channel_label,
                               std::string data_label);

private:
    int32_t get_id_ex() override;
    Type_Definition get_type_ex() override;
    uint32_t get_dimension_ex() override;

    bool m_is_cmd_channel_server;

public:
    const int32_t& cmd_channel_id;
    const std::string& cmd_channel_label;
};

class Framework_Cmd_Data_To_Send : public Framework_Sem_Variable {
public:
    ~Framework_Cmd_Data_To_Send() override;
    Framework_Cmd_Data_To_Send(const Framework_Cmd_Data_To_Send&) = delete;
    Framework_Cmd_Data_To_Send& operator=(const Framework_Cmd_Data_To_Send&) = delete;

    // Reads back this side's outgoing value.
    template <typename T>
    T get_value_ex();
    template <typename T>
    T get_value_ex(uint32_t dim_given, uint32_t offset);

    // A byte array given alone fills the whole item: its bytes, zeros after.
    template <typename T>
    void set_value_ex(T value);
    // Byte arrays: the value's bytes at offset; with write_whole every other
    // byte of the item becomes 0, without it the other bytes stay.
    template <typename T>
    void set_value_ex(const T& value, bool write_whole, uint32_t offset);

protected:
    friend class Framework_Cmd_Channel;
    Framework_Cmd_Data_To_Send(bool is_cmd_channel_server, int32_t channel_id, std::string channel_label,
                               std::string data_label);

private:
    int32_t get_id_ex() override;
    Type_Definition get_type_ex() override;
    uint32_t get_dimension_ex() override;

    void write_bytes_ex(const uint8_t* bytes, uint32_t count, uint32_t offset);
    void write_zeros_ex(uint32_t count, uint32_t offset);

    bool m_is_cmd_channel_server;

public:
    const int32_t& cmd_channel_id;
    const std::string& cmd_channel_label;
};
