#include "ethercatmain.h"

#include <cstring>
#include <ctime>

#include "ethercatbase.h"
#include "nicdrv.h"

int ec_get_ethercat_frame_data_dim(const Cycle_Command_Struct* cycle_cmds, int num_cmds)
{
    int dim = 0;
    for (int i = 0; i < num_cmds; ++i)
        dim += cycle_cmds[i].length + EC_DATAGRAM_OVERHEAD;
    return dim;
}

int ec_send_receive_cycle_processdata(const Cycle_Command_Struct* cycle_cmds, int num_cmds, uint8_t* process_data,
                                      int cycle_frame_time_ns, unsigned int frame_time_out_us)
{
    if (num_cmds < 1)
        return 0;
    int data_bytes = 0;
    for (int i = 0; i < num_cmds; ++i)
        data_bytes += cycle_cmds[i].length;
    if (data_bytes == 0)
        return 0;
    if (ec_get_ethercat_frame_data_dim(cycle_cmds, num_cmds) + EC_FRAME_HEADER > EC_MAXFRAME)
        return EC_FRAME_TOO_LONG;

    ec_bufT txbuf;
    ec_bufT rxbuf;
    int txlength = 0;
    const Cycle_Command_Struct& first = cycle_cmds[0];
    if (ec_setupdatagram(txbuf, &txlength, first.com, first.ADP, first.ADO, first.length, first.data) != 0)
        return EC_FRAME_TOO_LONG;
    for (int i = 1; i < num_cmds; ++i) {
        const Cycle_Command_Struct& cmd = cycle_cmds[i];
        if (ec_adddatagram_my(txbuf, &txlength, cmd.com, cmd.ADP, cmd.ADO, cmd.length, cmd.data,
                              cycle_cmds[i - 1].length + EC_DATAGRAM_OVERHEAD) != 0)
            return EC_FRAME_TOO_LONG;
    }

    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const int result = ec_send_receive_frame(&txbuf, txlength, &rxbuf, frame_time_out_us);
    if (result <= 0)
        return result;
    std::memcpy(process_data, rxbuf + (EC_FRAME_HEADER - EC_ETHERNET_HEADER),
                static_cast<std::size_t>(txlength - EC_FRAME_HEADER));
    ec_set_frame_cyclic_next_time_and_post_sem(start, static_cast<unsigned int>(cycle_frame_time_ns));
    return result;
}
