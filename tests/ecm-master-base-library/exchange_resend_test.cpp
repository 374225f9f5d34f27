// The resend of a single acyclic exchange whose reply was lost or late:
// how often it goes out, and which result the caller sees.
#include <gtest/gtest.h>

#include <vector>

#include "ethercatbase.h"

namespace {
struct Resend_Case {
    const char* name;
    std::vector<int> results;  // what each send of the exchange yields
    int least_wkc;
    int sends;   // sends made
    int result;  // what the caller gets
};

class ExchangeResend : public ::testing::TestWithParam<Resend_Case> {};

void PrintTo(const Resend_Case& c, std::ostream* out)
{
    *out << c.name;
}
}  // namespace

TEST_P(ExchangeResend, SendsAgainOnlyWhileTheReplyFallsShortAndAtMostThreeTimes)
{
    const Resend_Case& c = GetParam();
    std::size_t sent = 0;
    const int result = ec_exchange_with_resends([&] { return c.results.at(sent++); }, c.least_wkc);
    EXPECT_EQ(static_cast<int>(sent), c.sends);
    EXPECT_EQ(result, c.result);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExchangeResend,
                         ::testing::Values(Resend_Case{"answered_at_once", {2}, 0, 1, 2},
                                           // A working counter of 0 is an answer: nobody there.
                                           Resend_Case{"nobody_answers", {0}, 0, 1, 0},
                                           Resend_Case{"one_reply_lost", {-1, 2}, 0, 2, 2},
                                           Resend_Case{"every_reply_lost", {-1, -1, -1, -1, 5}, 0, 4, -1},
                                           // A slave that must answer: 0 is sent again too.
                                           Resend_Case{"slave_silent_once", {0, 1}, 1, 2, 1},
                                           Resend_Case{"slave_never_answers", {0, -1, 0, 0, 1}, 1, 4, 0}),
                         [](const ::testing::TestParamInfo<Resend_Case>& param) {
                             return std::string(param.param.name);
                         });
