// The demo's client of axmand: resets axis 0 of manager 0, homes it, moves it
// to a position, starts a longer move and quick-stops it, then resets it
// again, printing the states and the position on the way.
//   axmand_demo [--manager <m>]

#include <getopt.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "axes_client.h"
#include "quiet_stdout.h"

namespace {

std::string axis_state_name(int state)
{
    switch (state) {
        case STATE_FAULT: return "STATE_FAULT";
        case STATE_INIT: return "STATE_INIT";
        case STATE_OPERATION_MODE_IDLE: return "STATE_OPERATION_MODE_IDLE";
        case STATE_QUICK_STOP_ACTIVE: return "STATE_QUICK_STOP_ACTIVE";
        case STATE_WORKING: return "STATE_WORKING";
        case STATE_IS_RUNNING: return "STATE_IS_RUNNING";
        default: return std::to_string(state);
    }
}

void show(Axes_Client& client, const char* step)
{
    const Axes_Client::Snapshot s = client.snapshot();
    std::printf("  %-28s manager %d  axis %-26s position %8d  status word 0x%04x  completed %d  in error %d\n", step,
                s.manager_state, axis_state_name(client.axis_state(0)).c_str(), client.position(0),
                client.status_word(0), s.completed ? 1 : 0, s.in_error ? 1 : 0);
    std::fflush(stdout);
}

bool run_to_completion(Axes_Client& client, const char* step)
{
    int shown = 0;
    const bool done = client.refresh_until(
        [&] {
            if (++shown % 100 == 0)
                show(client, step);
            const Axes_Client::Snapshot s = client.snapshot();
            return s.completed && s.manager_state == OPERATIONAL;
        },
        std::chrono::seconds(20));
    show(client, done ? "completed" : "NOT completed");
    return done;
}

// The published state follows an answer within a few ticks.
void settle(Axes_Client& client)
{
    client.refresh_until([&] { return client.snapshot().manager_state == OPERATIONAL; }, std::chrono::seconds(1));
}

void expect_answer(int answer, const char* what)
{
    std::printf("%s answered %d\n", what, answer);
    if (answer != 1)
        std::exit(1);
}

}  // namespace

int main(int argc, char* argv[])
{
    uint32_t manager = 0;
    const option options[] = {{"manager", required_argument, nullptr, 'm'}, {nullptr, 0, nullptr, 0}};
    for (int o; (o = getopt_long(argc, argv, "m:", options, nullptr)) != -1;) {
        if (o != 'm') {
            std::fprintf(stderr, "usage: axmand_demo [--manager <m>]\n");
            return 2;
        }
        manager = static_cast<uint32_t>(std::strtoul(optarg, nullptr, 10));
    }
    try {
        std::unique_ptr<Axes_Client> attached;
        {
            Quiet_Stdout quiet;  // the attach logs every segment and datum
            attached = std::make_unique<Axes_Client>(manager);
        }
        Axes_Client& client = *attached;
        client.refresh();
        show(client, "attached");

        expect_answer(client.command(CMD_RESET), "reset");
        settle(client);
        show(client, "powered up");

        client.set_homing(0, 37, 20000, 5000, 500000);
        expect_answer(client.command(CMD_START_PROCEDURE), "homing (method 37)");
        if (!run_to_completion(client, "homing"))
            return 1;

        client.set_profile_position(0, 50000, 100000, 400000, false);
        expect_answer(client.command(CMD_START_PROCEDURE), "move to 50000");
        if (!run_to_completion(client, "moving"))
            return 1;

        client.set_profile_position(0, 1000000, 100000, 400000, false);
        expect_answer(client.command(CMD_START_PROCEDURE), "move to 1000000");
        client.refresh_until([] { return false; }, std::chrono::milliseconds(300));
        show(client, "moving");
        expect_answer(client.command(CMD_QUICK_STOP), "quick stop");
        client.refresh_until([] { return false; }, std::chrono::milliseconds(300));
        show(client, "quick stopped");
        expect_answer(client.command(CMD_RESET), "reset");
        settle(client);
        show(client, "recovered");
        Quiet_Stdout quiet;  // the detach logs too
        attached.reset();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "axmand_demo: %s\n", e.what());
        return 1;
    }
    return 0;
}
