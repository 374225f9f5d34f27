// Blocking expedited SDO uploads (0x1018:1 of the demo cell's drive) through
// the master object, 1,000 in a row in PRE-OP and again in OP, beside the
// bare round trip of one datagram on a raw socket to the same simulated
// segment on the same veth pair, measured in the same run. An upload needs
// at least three round trips (mailbox write, status poll, mailbox read); in
// OP every acyclic frame waits for the window behind a cyclic frame, so the
// figure there is the number of cycles a transfer takes. The master runs as
// the cell runs it, in soft real-time mode (a late cycle is reported, not
// fatal), and each figure shows the transfers that failed beside it.
// Run as root: it starts itself again inside tests/isolate.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bare_frame.h"
#include "bench_support.h"
#include "ethercatbase.h"
#include "nicdrv.h"
#include "segment_config.h"
#include "veth_harness.h"
#include "xelo_ethercat_master_socket.h"

namespace {
constexpr int SAMPLES = 1000;
constexpr int WARM_UP = 50;
constexpr uint16_t DRIVE = 1002;

void print(const char* what, const bench::Figures& f, int failures)
{
    std::printf("  %-44s median %8.1f us  p99 %8.1f us  failed %d of %d\n", what, f.p50 / 1e3, f.p99 / 1e3, failures,
                SAMPLES + WARM_UP);
}

int run()
{
    sched_param param{};
    param.sched_priority = 55;  // as the master's socket thread
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    ecat_sim::Sim_Options options = ecat_sim::Veth_Segment::default_options();
    options.priority = 60;
    ecat_sim::Veth_Segment segment(ecat_sim::parse_segment_config(
                                       "slave dio device=dio dc=0\nslave drive device=cia402 profile=infranor\n"),
                                   options);
    write_file("/tmp/ecm_bench_cfg.xml",
               "<EcmSystem><SystemConfig><Cfg><EtherCATNetInterface>" + segment.master_interface() +
                   "</EtherCATNetInterface><EtheCATUserSocketIpAddr>127.0.0.1</EtheCATUserSocketIpAddr>"
                   "<EtheCATUserSocketPort>500</EtheCATUserSocketPort></Cfg></SystemConfig></EcmSystem>");
    ECM_Master_Socket master("/tmp/ecm_bench_cfg.xml", true, 5, 20);  // as busmaster -s 5
    if (master.view_system_state() != SYSTEM_SETUP_OK)
        return EXIT_FAILURE;
    try {
        master.set_xml_file_and_leave_no_state_ex(DEMO_ENI);
    } catch (const std::exception&) {
        std::printf("the demo cell did not reach PRE-OP\n");
        return EXIT_FAILURE;
    }

    int failures = 0;  // of the phase being measured
    auto upload = [&] {
        try {
            failures += master.read_reg_with_mbx_ex<unsigned int>(DRIVE, 0x1018, 1) != 130;
        } catch (const std::exception&) {
            ++failures;
        }
    };
    const bench::Figures preop = bench::figures_of(bench::time_each(WARM_UP, SAMPLES, upload));
    const int preop_failures = failures;

    // The bare baseline: one FPRD of the drive's AL status on a raw socket.
    bench::Figures bare{};
    {
        bench::Bare_Frame frame =
            bench::Bare_Frame::one_datagram(segment.master_interface(), EC_CMD_FPRD, DRIVE, 0x0130, 2);
        failures = 0;
        bare = bench::figures_of(bench::time_each(WARM_UP, SAMPLES, [&] { failures += frame.exchange() == 0; }));
    }
    const int bare_failures = failures;

    bench::Figures op{};
    bool operational = false;
    try {
        master.go_to_next_state_ex(SAFEOP_STATE);
        master.go_to_next_state_ex(OP_STATE);
        operational = master.get_master_ethercat_state() == OP_STATE;
    } catch (const std::exception&) {
    }
    failures = 0;
    if (operational)
        op = bench::figures_of(bench::time_each(WARM_UP, SAMPLES, upload));
    const int op_failures = failures;
    try {
        master.go_to_next_state_ex(INIT_STATE);
    } catch (const std::exception&) {
    }

    const double three = 3.0 * static_cast<double>(bare.p50);
    std::printf("expedited SDO upload (0x1018:1, 4 bytes), %d in a row after %d warm-up\n", SAMPLES, WARM_UP);
    print("bare raw-socket round trip (baseline)", bare, bare_failures);
    print("upload in PRE-OP", preop, preop_failures);
    std::printf("  PRE-OP / three bare round trips              median %8.2f     p99 %8.2f\n",
                static_cast<double>(preop.p50) / three, static_cast<double>(preop.p99) / (3.0 * bare.p99));
    if (operational) {
        const double cycle = static_cast<double>(master.get_cycle_op_time());
        print("upload in OP", op, op_failures);
        std::printf("  cycles per upload in OP (cycle %.0f us)     median %8.2f     p99 %8.2f\n", cycle / 1e3,
                    static_cast<double>(op.p50) / cycle, static_cast<double>(op.p99) / cycle);
    } else {
        std::printf("  the demo cell did not reach OP: no figures in OP\n");
    }
    const int all_failures = preop_failures + bare_failures + op_failures;
    std::printf("  failed transfers: %d\n", all_failures);
    return all_failures == 0 && operational ? EXIT_SUCCESS : EXIT_FAILURE;
}
}  // namespace

int main(int argc, char** argv)
{
    return bench::run_isolated(argc, argv, run);
}
