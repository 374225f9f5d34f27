#pragma once

// Raw-Ethernet frame layer: one packet socket (EtherType 0x88A4) on one
// interface, over which exactly one frame at a time is sent and its returning
// copy awaited, and the gate that keeps acyclic frames in the window after
// each cyclic frame while the cyclic exchange runs. Free functions over
// module state: one master per process.

#include <cstdint>
#include <ctime>

constexpr int EC_MAXFRAME = 1518;  // largest Ethernet frame without its check sequence
constexpr int EC_ETHERNET_HEADER = 14;
constexpr int EC_FRAME_HEADER = 16;       // Ethernet header + EtherCAT header
constexpr int EC_DATAGRAM_OVERHEAD = 12;  // datagram header (10) + working counter (2)
constexpr int EC_MAX_ACYCLIC_DATA = EC_MAXFRAME - EC_FRAME_HEADER - EC_DATAGRAM_OVERHEAD;  // 1490
constexpr uint16_t ETH_P_ECAT = 0x88A4;
constexpr int EC_MIN_ACYCLIC_TIMEOUT_US = 50;

// Results of the exchange besides a working counter (>= 0).
constexpr int EC_NO_FRAME = -1;         // nothing within the time-out, or the frame mutex not had
constexpr int EC_OTHER_ETHERTYPE = -2;  // the last frame read had another EtherType
constexpr int EC_FRAME_TOO_LONG = -3;   // refused before sending: it would not fit a frame

using ec_bufT = uint8_t[EC_MAXFRAME];

// Opens the socket on ifname and (re)creates the frame mutex and the gate;
// 0 on success. Also fails when the interface is unknown or the bind fails.
int ec_setupnic(const char* ifname);
int ec_closenic();

// The 14-byte Ethernet header of every frame the master sends.
void ec_setupheader(void* p);

// Drains the socket, then sends the frame; the send call's result.
int ec_outframe(ec_bufT* ec_txbuf, int ec_txbuflength);

// One non-blocking receive. The working counter of the frame's last datagram
// when the frame is the reply to the frame sent (same length, EtherCAT header
// and first datagram's command and index; a short frame may come back padded
// to the Ethernet minimum); -1 when nothing, or nothing fitting, was there
// (a frame that does not fit is dropped and counted); -2 for another
// EtherType. ec_rxbuf receives the reply from its EtherCAT header on.
int ec_inframe(ec_bufT* ec_rxbuf, int ec_txbuflength);

// Polls ec_inframe until it yields a reply or the time-out passes.
int ec_waitinframe_red(ec_bufT* ec_rxbuf, int ec_txbuflength, unsigned int timeout_us);

// One exchange under the frame mutex.
int ec_send_receive_frame(ec_bufT* ec_txbuf, int ec_txbuflength, ec_bufT* ec_rxbuf, unsigned int timeout_us);

// One acyclic datagram: builds, passes the gate unless is_priority_cmd,
// exchanges and, on a working counter > 0, copies length data bytes of the
// reply back into data.
int ec_send_receive_initcmd(uint8_t cmd, uint16_t ADP, uint16_t ADO, uint16_t length, void* data,
                            unsigned int timeout_us, char is_priority_cmd);

// The gate: while the cyclic exchange runs, returns only inside the window
// after a cyclic frame.
void ec_sem_wait();
// Opens the window after a successful cyclic frame that started at time_start_frame.
void ec_set_frame_cyclic_next_time_and_post_sem(timespec time_start_frame, unsigned int cycle_frame_time_ns);
// The cyclic exchange has stopped: acyclic frames go ungated.
void ec_stop_cyclic_frame();

// End of the acyclic window of a cyclic frame started at start: start plus
// half the period rounded up.
timespec ec_acyclic_window_end(timespec start, unsigned int cycle_frame_time_ns);
// Receive time-out of an acyclic exchange: the caller's while no cyclic
// exchange runs, otherwise half the cycle but at least 50 us.
unsigned int ec_acyclic_timeout_us(bool cyclic_running, uint32_t cycle_time_us, unsigned int requested_us);

// Counters since the last opening, and the gate's state.
int ec_get_incnt();    // EtherCAT frames received
int ec_get_errcnt();   // frames of another EtherType received
int ec_get_dropcnt();  // EtherCAT frames received that were not the reply awaited
bool ec_cyclic_is_running();
