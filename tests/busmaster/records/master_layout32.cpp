// Compiled with -m32 by the test suite: the master's shared memories must
// have exactly the sizes and offsets of the 32-bit ARM target.
#include "xelo_ethercat_system_types.h"

static_assert(__SIZEOF_POINTER__ == 4, "this unit is meant for a 32-bit build");
static_assert(sizeof(pthread_mutex_t) == 24 && sizeof(sem_t) == 16, "");
static_assert(sizeof(Shared_Pdo_Mem_Region) == 8216, "");
static_assert(offsetof(Shared_Pdo_Mem_Region, shm_buf_in) == 24, "");
static_assert(offsetof(Shared_Pdo_Mem_Region, shm_buf_out) == 4120, "");
static_assert(sizeof(Shared_Slave_Info_Mem_Region) == 5032, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, num_of_xml_slaves) == 24, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, num_of_active_slaves) == 28, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, configaddress) == 32, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, has_output) == 232, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, num_output) == 632, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, out_bytes) == 1032, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, out_bits) == 1432, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, out_shm_start_byte) == 1832, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, out_shm_start_offs_bit) == 2232, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, has_input) == 2632, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, num_input) == 3032, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, in_bytes) == 3432, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, in_bits) == 3832, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, in_shm_start_byte) == 4232, "");
static_assert(offsetof(Shared_Slave_Info_Mem_Region, in_shm_start_offs_bit) == 4632, "");
static_assert(sizeof(Shared_Tick_Mem_Region) == 52, "");
static_assert(offsetof(Shared_Tick_Mem_Region, tick_count) == 16, "");
static_assert(offsetof(Shared_Tick_Mem_Region, client_started_cyclic_op) == 20, "");
static_assert(offsetof(Shared_Tick_Mem_Region, previus_tick_alert) == 24, "");
static_assert(offsetof(Shared_Tick_Mem_Region, shm_mutex) == 28, "");
static_assert(sizeof(ECM_Error_Struct) == 12, "");
