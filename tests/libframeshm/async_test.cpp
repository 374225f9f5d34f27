// Asynchronous variables against rtframe -o, whose asynchronous service the
// test responder plays in the segments.
#include <chrono>

#include "async_responder.h"
#include "group_test.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
const std::string METHOD = "[Framework_Shared_Memory_Manager][";

// Polls once per cycle until the request is done; the poll's exception
// passes on.
template <typename Poll>
void poll_until_done(Framework_Shared_Memory_Manager& app, Poll poll)
{
    while (poll() == 0)
        ASSERT_GE(app.refresh_data_ex(nullptr), 0);
}
}  // namespace

class Async : public Rtframe_Test {
protected:
    void SetUp() override
    {
        Rtframe_Test::SetUp();
        responder = std::make_unique<Async_Responder>();
        app = attach("async");
    }

    void TearDown() override
    {
        app.reset();
        if (responder) {
            EXPECT_EQ(responder->failure(), "");
        }
        responder.reset();
        Rtframe_Test::TearDown();
    }

    std::unique_ptr<Async_Responder> responder;
    std::unique_ptr<Framework_Shared_Memory_Manager> app;
};

TEST_F(Async, AReadAndAWriteComplete)
{
    EXPECT_EQ(app->get_async_input_total_number(), 1u);
    EXPECT_EQ(app->get_async_output_total_number(), 1u);
    responder->set_input_value("error_code", {0x34, 0x12});
    const int input = app->get_async_input_id_ex("error_code");
    EXPECT_EQ(input, 0);
    EXPECT_EQ(app->get_async_input_id_ex("error_code"), input);  // inputs are shared
    EXPECT_EQ(app->get_async_input_label_ex(input, true), "error_code");
    EXPECT_EQ(app->get_async_input_type_ex(input), UINT16_FSM);

    app->refresh_async_input_ex(input);
    uint8_t online = 9;
    poll_until_done(*app, [&] { return app->is_async_input_refresh_ex(input, &online); });
    EXPECT_EQ(online, 1);
    EXPECT_EQ(app->get_async_input_ex<unsigned short>(input), 0x1234);
    EXPECT_EQ(app->get_async_input_refresh_error_ex(input), 0u);
    EXPECT_EQ(responder->reads_served("error_code"), 1);

    const int output = app->get_async_output_id_ex("max_torque");
    EXPECT_EQ(app->get_async_output_type_ex(output), UINT16_FSM);
    app->set_async_output_ex<unsigned short>(output, 1500);
    poll_until_done(*app, [&] { return app->is_async_output_set_ex(output, nullptr); });
    const std::vector<uint8_t> written = responder->last_written("max_torque");
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(written[0] | written[1] << 8, 1500);
    EXPECT_EQ(app->get_async_output_set_error_ex(output), 0u);
}

// A reply that comes after both processes posted their request completes
// both: each remembered the same earlier time stamp.
TEST_F(Async, OneReplyCompletesTheRequestsOfTwoApplications)
{
    auto other = attach("other");
    Async_Responder::Behaviour slow;
    slow.delay = 50ms;
    responder->set_behaviour("error_code", slow);
    responder->set_input_value("error_code", {7, 0});
    const int input = app->get_async_input_id_ex("error_code");
    ASSERT_EQ(other->get_async_input_id_ex("error_code"), input);
    app->refresh_async_input_ex(input);
    other->refresh_async_input_ex(input);
    poll_until_done(*app, [&] { return app->is_async_input_refresh_ex(input, nullptr); });
    poll_until_done(*other, [&] { return other->is_async_input_refresh_ex(input, nullptr); });
    EXPECT_EQ(other->get_async_input_ex<short>(input), 7);
    EXPECT_EQ(responder->reads_served("error_code"), 1);
}

struct Failed_Request {
    bool input;
    bool never_answer;  // else answered with the error flag
    std::string message;
};

void PrintTo(const Failed_Request& request, std::ostream* os)
{
    *os << request.message;
}

class Async_Failure : public Async, public testing::WithParamInterface<Failed_Request> {};

TEST_P(Async_Failure, ThrowsWithTheVariableInTheText)
{
    const Failed_Request& c = GetParam();
    Async_Responder::Behaviour behaviour;
    behaviour.never_answer = c.never_answer;
    behaviour.fail = !c.never_answer;
    behaviour.error_code = 0x06010000;
    responder->set_default_behaviour(behaviour);
    const int id = c.input ? app->get_async_input_id_ex("error_code") : app->get_async_output_id_ex("max_torque");
    const auto start = Clock::now();
    if (c.input)
        app->refresh_async_input_ex(id);
    else
        app->set_async_output_ex<short>(id, 3);
    const std::string text = thrown_text([&] {
        if (c.input)
            poll_until_done(*app, [&] { return app->is_async_input_refresh_ex(id, nullptr); });
        else
            poll_until_done(*app, [&] { return app->is_async_output_set_ex(id, nullptr); });
    });
    const std::string kind = c.input ? "input" : "output";
    const std::string operation = c.input ? "is_async_input_refresh_ex" : "is_async_output_set_ex";
    EXPECT_EQ(text.rfind(METHOD + operation + "] " + c.message + "\n\t\t\t given async_" + kind +
                             "_id :: 0\n\t\t\t Additional info..\n\t\t\t async_" + kind + "_label :: " +
                             (c.input ? "error_code" : "max_torque") + "\n\t\t\t async_" + kind + "_size :: 2",
                         0),
              0u)
        << text;
    // flags as digits
    EXPECT_NE(text.find("\n\t\t\t async_" + kind + "_to_update :: 0\n\t\t\t async_" + kind +
                        "_error_flag :: " + (c.never_answer ? "0" : "1")),
              std::string::npos)
        << text;
    if (c.never_answer) {
        EXPECT_GE(Clock::now() - start, 100ms);  // the descriptor's time-out
    } else {
        const uint32_t code =
            c.input ? app->get_async_input_refresh_error_ex(id) : app->get_async_output_set_error_ex(id);
        EXPECT_EQ(code, 0x06010000u);
        EXPECT_NE(text.find("_error_code :: 100728832"), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, Async_Failure,
                         testing::Values(Failed_Request{true, false, "Error, on async_input_id request"},
                                         Failed_Request{false, false, "Error on async_output_id request"},
                                         Failed_Request{true, true, "Error, async_input_id request expired"},
                                         Failed_Request{false, true, "Error, async_output_id request expired"}),
                         [](const testing::TestParamInfo<Failed_Request>& param) {
                             return std::string(param.param.input ? "Input" : "Output") +
                                    (param.param.never_answer ? "Expires" : "Fails");
                         });

TEST_F(Async, AnOutputIsClaimedOnce)
{
    const int output = app->get_async_output_id_ex("max_torque");
    const std::string refused = METHOD + "get_async_output_id_ex] async output name is not valid: max_torque";
    EXPECT_EQ(thrown_text([&] { app->get_async_output_id_ex("max_torque"); }), refused);
    auto other = attach("other");
    EXPECT_EQ(thrown_text([&] { other->get_async_output_id_ex("max_torque"); }), refused);
    EXPECT_EQ(thrown_text([&] { other->get_async_input_id_ex("Error_code"); }),
              METHOD + "get_async_input_id_ex] async input name is not valid: Error_code");

    // a process that did not claim the output cannot write it
    const std::string text = thrown_text([&] { other->set_async_output_ex<short>(output, 1); });
    EXPECT_EQ(text.rfind(METHOD + "set_async_output_ex] Sorry, output_id not taken!", 0), 0u) << text;
    EXPECT_NE(text.find("\n\t\t\t async_output_is_taken :: 0\n\t\t\t async_output_taken_by_app_id :: " +
                        std::to_string(100 + app->get_application_number()) + "\n\t ( exception @ "),
              std::string::npos)
        << text;
}

TEST_F(Async, ChecksOfIdAndSize)
{
    const int input = app->get_async_input_id_ex("error_code");
    const std::string size = thrown_text([&] { app->get_async_input_ex<int>(input); });
    EXPECT_EQ(size.rfind(METHOD + "get_async_input_ex] Sorry, size is not correct!!\n\t\t\t given async_input_id :: "
                                  "0\n\t\t\t given async_input_size :: 4\n\t\t\t Additional info..",
                         0),
              0u)
        << size;
    EXPECT_EQ(without_source_line(thrown_text([&] { app->refresh_async_input_ex(-1); })),
              METHOD +
                  "refresh_async_input_ex] Sorry, async input id not valid!\n\t\t\t given async_input_id :: "
                  "-1\n\t\t\t ");
    EXPECT_EQ(without_source_line(thrown_text([&] { app->get_async_input_label_ex(1, false); })),
              METHOD +
                  "get_async_input_label_ex] Sorry, async input id not valid!\n\t\t\t given async_input_id :: "
                  "1\n\t\t\t Additional info..\n\t\t\t max available input id :: 0\n\t\t\t ");
    auto other = attach("other");  // never looked the input up
    EXPECT_EQ(other->get_async_input_label_ex(input, false), "error_code");
    const std::string not_taken = thrown_text([&] { other->is_async_input_refresh_ex(input, nullptr); });
    EXPECT_EQ(not_taken.rfind(METHOD + "is_async_input_refresh_ex] Sorry, async input id not taken!", 0), 0u)
        << not_taken;
    EXPECT_NE(not_taken.find("\n\t\t\t async_input_is_taken :: 0\n\t\t\t ( exception @ "), std::string::npos)
        << not_taken;
}
