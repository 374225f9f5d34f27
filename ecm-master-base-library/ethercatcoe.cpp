#include "ethercatcoe.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "ecm_log.h"
#include "ethercatbase.h"
#include "os_iface.h"

namespace {

constexpr uint16_t SM0_STATUS = 0x0805;
constexpr uint16_t SM1_STATUS = 0x080D;
constexpr uint16_t SM1_PDI_CONTROL = 0x080F;
constexpr uint8_t SM_STATUS_MAILBOX_FULL = 0x08;
constexpr uint16_t SM_ACTIVATE_REPEAT = 0x0200;  // in the status/activate word
constexpr uint8_t SM_PDI_REPEAT_ACK = 0x02;

// Field offsets of a CoE message.
constexpr int OFS_LENGTH = 0;
constexpr int OFS_MBXTYPE = 5;
constexpr int OFS_CANOPEN = 6;
constexpr int OFS_COMMAND = 8;
constexpr int OFS_INDEX = 9;
constexpr int OFS_SUBINDEX = 11;
constexpr int OFS_DATA = 12;
constexpr int OFS_DATA1 = 16;

ec_eringt g_elist;
bool g_EcatError = false;
std::mutex g_elist_mutex;

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

timeval now_tv()
{
    timeval tv{};
    gettimeofday_xenomai(&tv, nullptr);
    return tv;
}

timeval deadline_after(uint32_t timeout_us)
{
    timeval d = now_tv();
    d.tv_sec += static_cast<time_t>(timeout_us / 1000000);
    d.tv_usec += static_cast<suseconds_t>(timeout_us % 1000000);
    if (d.tv_usec > 999999) {
        d.tv_usec -= 1000000;
        d.tv_sec += 1;
    }
    return d;
}

bool passed(const timeval& deadline)
{
    const timeval now = now_tv();
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_usec >= deadline.tv_usec);
}

void poll_sleep()
{
    const timespec pause{0, EC_MBX_POLL_SLEEP_NS};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
}

bool usable_length(uint16_t mbx_l)
{
    return mbx_l != 0 && mbx_l <= EC_MAXMBX;
}

uint8_t coe_type(const ec_mbxbuft& m)
{
    return m[OFS_MBXTYPE] & 0x0F;
}
uint16_t coe_service(const ec_mbxbuft& m)
{
    return static_cast<uint16_t>(get16(m + OFS_CANOPEN) >> 12);
}

// Header and CANopen word of a new CoE SDO request with the next counter.
void begin_request(ec_mbxbuft& m, uint16_t length, uint8_t* mbx_cnt)
{
    ec_clearmbx(&m);
    put16(m + OFS_LENGTH, length);
    *mbx_cnt = ec_nextmbxcnt(*mbx_cnt);
    m[OFS_MBXTYPE] = static_cast<uint8_t>(ECT_MBXT_COE | (*mbx_cnt << 4));
    put16(m + OFS_CANOPEN, static_cast<uint16_t>(ECT_COES_SDOREQ << 12));
}

// Sends out and waits for the reply in in; the exchange's result (< 1 failed).
int exchange(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, ec_mbxbuft& out, ec_mbxbuft& in,
             uint32_t timeout_us)
{
    // A write whose reply was lost may have reached the slave all the same:
    // sent again with the same counter, the slave drops it as a duplicate.
    const int wkc = ec_exchange_with_resends(
        [&] { return ec_mbxsend_ecm(configadr, mbx_l, mbx_wo, &out, EC_MBX_REGISTER_TIMEOUT_US); }, 1);
    if (wkc < 1)
        return wkc;
    ec_clearmbx(&in);
    return ec_mbxreceive_ecm(configadr, mbx_l, mbx_ro, &in, timeout_us);
}

// Reads and drops a message left in the read mailbox.
void discard_waiting(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_ro)
{
    ec_mbxbuft in;
    ec_clearmbx(&in);
    ec_mbxreceive_ecm(configadr, mbx_l, mbx_ro, &in, 0);
}

bool is_abort(const ec_mbxbuft& m)
{
    return coe_type(m) == ECT_MBXT_COE && m[OFS_COMMAND] == ECT_SDO_ABORT;
}

// An SDO response of service 3 that is not an abort.
bool is_sdo_response(const ec_mbxbuft& m)
{
    return coe_type(m) == ECT_MBXT_COE && coe_service(m) == ECT_COES_SDORES && m[OFS_COMMAND] != ECT_SDO_ABORT;
}

// What a failed transfer reports beside its result.
struct Sdo_Outcome {
    bool write_lines = false;  // the plain download writes its error lines
    bool aborted = false;
    uint32_t abort_code = 0;
};

// The reply in is wrong: an abort goes to the error list as an SDO error,
// anything else as packet error 1.
void wrong_reply(const ec_mbxbuft& in, uint16_t configadr, uint16_t index, uint8_t subindex, Sdo_Outcome& outcome)
{
    if (is_abort(in)) {
        outcome.aborted = true;
        outcome.abort_code = get32(in + OFS_DATA);
        if (outcome.write_lines)
            ecm_log_err(std::string("SDO abort frame received ") + static_cast<char>(in[OFS_COMMAND]));
        ec_SDOerror(configadr, index, subindex, static_cast<int32_t>(outcome.abort_code));
    } else {
        ec_packeterror(configadr, index, subindex, EC_PACKET_ERROR_UNEXPECTED_FRAME);
        if (outcome.write_lines)
            ecm_log_err("Unexpected frame returned");
    }
}

int sdo_read(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt, uint16_t index,
             uint8_t subindex, bool CA, int* psize, void* p, uint32_t timeout_us, Sdo_Outcome& outcome)
{
    auto* dst = static_cast<uint8_t*>(p);
    const int room = std::max(*psize, 0);
    if (!usable_length(mbx_l) || mbx_l < OFS_DATA1)
        return 0;
    ec_mbxbuft in;
    ec_mbxbuft out;
    discard_waiting(configadr, mbx_l, mbx_ro);

    begin_request(out, 10, mbx_cnt);
    out[OFS_COMMAND] = CA ? ECT_SDO_UP_REQ_CA : ECT_SDO_UP_REQ;
    put16(out + OFS_INDEX, index);
    out[OFS_SUBINDEX] = (CA && subindex > 1) ? 1 : subindex;
    int wkc = exchange(configadr, mbx_l, mbx_wo, mbx_ro, out, in, timeout_us);
    if (wkc < 1)
        return wkc;
    if (!is_sdo_response(in) || get16(in + OFS_INDEX) != index) {
        wrong_reply(in, configadr, index, subindex, outcome);
        return 0;
    }
    const uint8_t cmd = in[OFS_COMMAND];
    if (cmd & 0x02) {
        const int n = 4 - ((cmd >> 2) & 0x03);
        if (n > room) {
            ec_packeterror(configadr, index, subindex, EC_PACKET_ERROR_BUFFER_TOO_SMALL);
            return 0;
        }
        std::memcpy(dst, in + OFS_DATA, static_cast<std::size_t>(n));
        *psize = n;
        return wkc;
    }
    const uint32_t total = get32(in + OFS_DATA);
    if (total > static_cast<uint32_t>(room)) {
        ec_packeterror(configadr, index, subindex, EC_PACKET_ERROR_BUFFER_TOO_SMALL);
        return 0;
    }
    // Data of this reply, bounded by what the mailbox can hold.
    int framedata = std::clamp(static_cast<int>(get16(in + OFS_LENGTH)) - 10, 0, mbx_l - OFS_DATA1);
    if (framedata >= static_cast<int>(total)) {
        std::memcpy(dst, in + OFS_DATA1, total);
        *psize = static_cast<int>(total);
        return wkc;
    }
    std::memcpy(dst, in + OFS_DATA1, static_cast<std::size_t>(framedata));
    int pos = framedata;
    uint8_t toggle = 0;
    for (;;) {
        begin_request(out, 10, mbx_cnt);
        out[OFS_COMMAND] = static_cast<uint8_t>(ECT_SDO_SEG_UP_REQ + toggle);
        put16(out + OFS_INDEX, index);
        out[OFS_SUBINDEX] = subindex;
        wkc = exchange(configadr, mbx_l, mbx_wo, mbx_ro, out, in, timeout_us);
        if (wkc < 1)
            return wkc;  // a lost segment loses data: the transfer fails
        const uint8_t seg = in[OFS_COMMAND];
        if (!is_sdo_response(in) || (seg & 0xE0) != 0) {
            wrong_reply(in, configadr, index, subindex, outcome);
            return 0;
        }
        int n = std::clamp(static_cast<int>(get16(in + OFS_LENGTH)) - 3, 0, mbx_l - EC_SDO_SEGMENT_HEADER);
        const bool last = (seg & 0x01) != 0;
        if (last && n == 7)
            n = 7 - ((seg >> 1) & 0x07);
        // A segment that is neither the last nor carries data brings the
        // transfer no nearer its end: a slave repeating it would hold the
        // mailbox for ever.
        if (!last && n == 0) {
            wrong_reply(in, configadr, index, subindex, outcome);
            return 0;
        }
        if (pos + n > room) {
            ec_packeterror(configadr, index, subindex, EC_PACKET_ERROR_BUFFER_TOO_SMALL);
            return 0;
        }
        std::memcpy(dst + pos, in + EC_SDO_SEGMENT_HEADER, static_cast<std::size_t>(n));
        pos += n;
        *psize = pos;
        if (last)
            return wkc;
        toggle ^= 0x10;
    }
}

int sdo_write(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt, uint16_t index,
              uint8_t subindex, bool CA, int psize, const uint8_t* src, uint32_t timeout_us, Sdo_Outcome& outcome,
              int* framed)
{
    *framed = 0;
    if (!usable_length(mbx_l) || mbx_l < OFS_DATA1 + 1 || psize < 0)
        return 0;
    ec_mbxbuft in;
    ec_mbxbuft out;
    discard_waiting(configadr, mbx_l, mbx_ro);

    // The data room of a message is the mailbox length less its headers.
    const int initiate_room = mbx_l - OFS_DATA1;
    const bool segmented = psize > initiate_room;
    const bool expedited = !segmented && !CA && psize <= 4;
    const int first = segmented ? initiate_room : psize;

    begin_request(out, static_cast<uint16_t>(expedited ? 10 : 10 + first), mbx_cnt);
    if (CA)
        out[OFS_COMMAND] = ECT_SDO_DOWN_INIT_CA;
    else if (expedited)
        out[OFS_COMMAND] = static_cast<uint8_t>(ECT_SDO_DOWN_EXP | ((4 - psize) << 2));
    else
        out[OFS_COMMAND] = ECT_SDO_DOWN_INIT;
    put16(out + OFS_INDEX, index);
    out[OFS_SUBINDEX] = (CA && subindex > 1) ? 1 : subindex;
    put32(out + OFS_DATA, static_cast<uint32_t>(psize));
    if (expedited)
        std::memcpy(out + OFS_DATA, src, static_cast<std::size_t>(psize));
    else
        std::memcpy(out + OFS_DATA1, src, static_cast<std::size_t>(first));
    *framed = first;
    int wkc = exchange(configadr, mbx_l, mbx_wo, mbx_ro, out, in, timeout_us);
    if (wkc < 1)
        return wkc;
    if (!is_sdo_response(in) || get16(in + OFS_INDEX) != index || in[OFS_SUBINDEX] != out[OFS_SUBINDEX]) {
        wrong_reply(in, configadr, index, subindex, outcome);
        return 0;
    }
    if (!segmented)
        return wkc;

    const int segment_room = mbx_l - EC_SDO_SEGMENT_HEADER;
    int pos = first;
    uint8_t toggle = 0;
    while (pos < psize) {
        const int n = std::min(psize - pos, segment_room);
        const bool last = pos + n == psize;
        uint8_t cmd = last ? 0x01 : ECT_SDO_SEG_DOWN_REQ;
        uint16_t length = static_cast<uint16_t>(n + 3);
        if (last && n < 7) {
            length = 10;
            cmd = static_cast<uint8_t>(cmd | ((7 - n) << 1));
        }
        begin_request(out, length, mbx_cnt);
        out[OFS_COMMAND] = static_cast<uint8_t>(cmd + toggle);
        std::memcpy(out + EC_SDO_SEGMENT_HEADER, src + pos, static_cast<std::size_t>(n));
        *framed = pos + n;
        wkc = exchange(configadr, mbx_l, mbx_wo, mbx_ro, out, in, timeout_us);
        if (wkc < 1)
            return wkc;  // the slave may lack this segment: the transfer fails
        if (!is_sdo_response(in) || (in[OFS_COMMAND] & 0xE0) != 0x20) {
            wrong_reply(in, configadr, index, subindex, outcome);
            return 0;
        }
        pos += n;
        toggle ^= 0x10;
    }
    return wkc;
}

}  // namespace

uint8_t ec_nextmbxcnt(uint8_t cnt)
{
    return cnt >= 7 ? 1 : static_cast<uint8_t>(cnt + 1);
}

void ec_clearmbx(ec_mbxbuft* mbx)
{
    std::memset(*mbx, 0, EC_MAXMBX - 1);
}

int ec_mbxsend_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, ec_mbxbuft* mbx, uint32_t timeout_us)
{
    if (!usable_length(mbx_l))
        return 0;
    const timeval deadline = deadline_after(timeout_us);
    bool empty = false;
    do {
        uint8_t status = 0;
        const int wkc = ec_FPRD(configadr, SM0_STATUS, 1, &status, EC_MBX_REGISTER_TIMEOUT_US, 0);
        if (wkc > 0 && (status & SM_STATUS_MAILBOX_FULL) == 0) {
            empty = true;
            break;
        }
        if (timeout_us > 400 && (status & SM_STATUS_MAILBOX_FULL) != 0)
            poll_sleep();
    } while (!passed(deadline));
    if (!empty)
        return 0;
    return ec_FPWR(configadr, mbx_wo, mbx_l, *mbx, EC_MBX_REGISTER_TIMEOUT_US, 0);
}

int ec_mbxreceive_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_ro, ec_mbxbuft* mbx, uint32_t timeout_us)
{
    if (!usable_length(mbx_l))
        return 0;
    const timeval deadline = deadline_after(timeout_us);
    uint16_t status_activate = 0;
    auto wait_full = [&]() {
        do {
            uint8_t reg[2] = {0, 0};
            const int wkc = ec_FPRD(configadr, SM1_STATUS, 2, reg, EC_MBX_REGISTER_TIMEOUT_US, 0);
            if (wkc > 0) {
                status_activate = get16(reg);
                if (reg[0] & SM_STATUS_MAILBOX_FULL)
                    return true;
            }
            if (timeout_us > 400 && (reg[0] & SM_STATUS_MAILBOX_FULL) == 0)
                poll_sleep();
        } while (!passed(deadline));
        return false;
    };
    if (!wait_full())
        return 0;
    for (;;) {
        int wkc = ec_FPRD(configadr, mbx_ro, mbx_l, *mbx, EC_MBX_REGISTER_TIMEOUT_US, 0);
        if (wkc > 0) {
            const uint8_t type = coe_type(*mbx);
            if (type != ECT_MBXT_ERR) {
                if (type == ECT_MBXT_COE && coe_service(*mbx) == ECT_COES_EMERGENCY) {
                    ec_errort e{};
                    e.Time = now_tv();
                    e.Slave = configadr;
                    e.Etype = EC_ERR_TYPE_EMERGENCY;
                    e.ErrorCode = get16(*mbx + 8);
                    e.ErrorReg = (*mbx)[10];
                    e.b1 = (*mbx)[11];
                    e.w1 = get16(*mbx + 12);
                    e.w2 = get16(*mbx + 14);
                    ecm_log_plain("----- ec_mbxemergencyerror (...) -----");
                    ecm_log_plain("Slave " + std::to_string(configadr));
                    ecm_log_plain("ErrorCode " + std::to_string(e.ErrorCode));
                    ecm_log_plain("ErrorReg " + std::to_string(e.ErrorReg));
                    ecm_log_plain("b1 " + std::to_string(e.b1));
                    ecm_log_plain("w1 " + std::to_string(e.w1));
                    ecm_log_plain("w2 " + std::to_string(e.w2));
                    ec_pusherror(&e);
                }
                return wkc;
            }
            wkc = 0;  // a mailbox error reply counts as no answer
        }
        // Ask the slave to repeat its last message.
        status_activate ^= SM_ACTIVATE_REPEAT;
        uint8_t reg[2];
        put16(reg, status_activate);
        ec_FPWR(configadr, SM1_STATUS, 2, reg, EC_MBX_REGISTER_TIMEOUT_US, 0);
        const uint8_t wanted = static_cast<uint8_t>((status_activate >> 8) & SM_PDI_REPEAT_ACK);
        do {
            uint8_t pdi = 0;
            const int ack = ec_FPRD(configadr, SM1_PDI_CONTROL, 1, &pdi, EC_MBX_REGISTER_TIMEOUT_US, 0);
            if (ack > 0 && (pdi & SM_PDI_REPEAT_ACK) == wanted)
                break;
        } while (!passed(deadline));
        if (!wait_full())
            return 0;
        if (passed(deadline))
            return wkc;
    }
}

int ec_SDOwrite_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt,
                    uint16_t index, uint8_t subindex, bool CA, int psize, const void* p, uint32_t timeout_us)
{
    Sdo_Outcome outcome;
    outcome.write_lines = true;
    int framed = 0;
    return sdo_write(configadr, mbx_l, mbx_wo, mbx_ro, mbx_cnt, index, subindex, CA, psize,
                     static_cast<const uint8_t*>(p), timeout_us, outcome, &framed);
}

int ec_SDOread_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt,
                   uint16_t index, uint8_t subindex, bool CA, int* psize, void* p, uint32_t timeout_us)
{
    Sdo_Outcome outcome;
    return sdo_read(configadr, mbx_l, mbx_wo, mbx_ro, mbx_cnt, index, subindex, CA, psize, p, timeout_us, outcome);
}

int ec_SDOwrite_get_code_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt,
                             uint16_t index, uint8_t subindex, bool CA, int psize, void* p, uint32_t timeout_us,
                             uint8_t* code, uint8_t* abort_code)
{
    Sdo_Outcome outcome;
    int framed = 0;
    auto* data = static_cast<uint8_t*>(p);
    const int wkc = sdo_write(configadr, mbx_l, mbx_wo, mbx_ro, mbx_cnt, index, subindex, CA, psize, data, timeout_us,
                              outcome, &framed);
    if (wkc > 0) {
        *code = EC_SDO_CODE_DOWNLOAD_OK;
        return wkc;
    }
    *code = EC_SDO_CODE_FAILED;
    if (outcome.aborted)
        put32(abort_code, outcome.abort_code);
    if (psize > framed)
        std::memset(data + framed, 0, static_cast<std::size_t>(psize - framed));
    return wkc;
}

int ec_SDOread_get_code_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t mbx_wo, uint16_t mbx_ro, uint8_t* mbx_cnt,
                            uint16_t index, uint8_t subindex, bool CA, int* psize, void* p, uint32_t timeout_us,
                            uint8_t* code)
{
    Sdo_Outcome outcome;
    const int room = std::max(*psize, 0);
    const int wkc =
        sdo_read(configadr, mbx_l, mbx_wo, mbx_ro, mbx_cnt, index, subindex, CA, psize, p, timeout_us, outcome);
    if (wkc > 0)
        return wkc;
    *code = EC_SDO_CODE_FAILED;
    auto* data = static_cast<uint8_t*>(p);
    if (outcome.aborted) {
        // The abort code leads the data, where the reader of the result looks.
        put32(data, outcome.abort_code);
        *psize = 4;
    } else {
        std::memset(data, 0, static_cast<std::size_t>(room));
    }
    return wkc;
}

int ec_emcy_SDOread_get_code_ecm(uint16_t configadr, uint16_t mbx_l, uint16_t /*mbx_wo*/, uint16_t mbx_ro,
                                 uint8_t* /*mbx_cnt*/, uint16_t /*index*/, uint8_t /*subindex*/, bool /*CA*/,
                                 int* /*psize*/, void* /*p*/, uint32_t timeout_us, uint8_t* code)
{
    ec_mbxbuft in;
    ec_clearmbx(&in);
    const int wkc = ec_mbxreceive_ecm(configadr, mbx_l, mbx_ro, &in, timeout_us);
    *code = wkc > 0 ? 1 : 0;
    return wkc;
}

void ec_pusherror(const ec_errort* Ec)
{
    std::lock_guard<std::mutex> lock(g_elist_mutex);
    g_elist.Error[g_elist.head] = *Ec;
    g_elist.Error[g_elist.head].Signal = true;
    g_elist.head = static_cast<int16_t>(g_elist.head >= EC_MAXELIST ? 0 : g_elist.head + 1);
    if (g_elist.head == g_elist.tail)
        g_elist.tail = static_cast<int16_t>(g_elist.tail >= EC_MAXELIST ? 0 : g_elist.tail + 1);
}

bool ec_poperror(ec_errort* Ec)
{
    std::lock_guard<std::mutex> lock(g_elist_mutex);
    const bool notEmpty = g_elist.head != g_elist.tail;
    *Ec = g_elist.Error[g_elist.tail];
    g_elist.Error[g_elist.tail].Signal = false;
    if (notEmpty)
        g_elist.tail = static_cast<int16_t>(g_elist.tail >= EC_MAXELIST ? 0 : g_elist.tail + 1);
    return notEmpty;
}

void ec_SDOerror(uint16_t configadr, uint16_t index, uint8_t subidx, int32_t AbortCode)
{
    ec_errort e{};
    e.Time = now_tv();
    e.Slave = configadr;
    e.Index = index;
    e.SubIdx = subidx;
    e.Etype = EC_ERR_TYPE_SDO_ERROR;
    e.AbortCode = AbortCode;
    {
        std::lock_guard<std::mutex> lock(g_elist_mutex);
        g_EcatError = true;
    }
    ec_pusherror(&e);
}

void ec_packeterror(uint16_t configadr, uint16_t index, uint8_t subidx, uint16_t ErrorCode)
{
    ec_errort e{};
    e.Time = now_tv();
    e.Slave = configadr;
    e.Index = index;
    e.SubIdx = subidx;
    e.Etype = EC_ERR_TYPE_PACKET_ERROR;
    e.ErrorCode = ErrorCode;
    {
        std::lock_guard<std::mutex> lock(g_elist_mutex);
        g_EcatError = true;
    }
    ec_pusherror(&e);
}

bool ec_get_EcatError()
{
    std::lock_guard<std::mutex> lock(g_elist_mutex);
    return g_EcatError;
}

void ec_clear_EcatError()
{
    std::lock_guard<std::mutex> lock(g_elist_mutex);
    g_EcatError = false;
}
