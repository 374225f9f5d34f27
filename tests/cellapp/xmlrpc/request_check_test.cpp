// A request as its bytes arrive, in any pieces, and the check of its body
// before the library parses it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xmlrpc_body_check.h"
#include "xmlrpc_request.h"

namespace {
using Status = Xmlrpc_Request_Reader::Status;

constexpr std::size_t LIMIT = 1000;

struct Framing {
    const char* name;
    std::vector<std::string> pieces;
    std::vector<std::string> bodies;  // taken in order
    std::vector<bool> keep_alive;     // of each
    Status last;                      // after the bodies
};

const std::string CALL = "<methodCall><methodName>m</methodName></methodCall>";

std::string post(const std::string& version, const std::string& fields, const std::string& body)
{
    return "POST /RPC2 HTTP/" + version + "\r\n" + fields + "Content-length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

const Framing FRAMINGS[] = {
    {"OneRequest", {post("1.1", "", CALL)}, {CALL}, {true}, Status::INCOMPLETE},
    {"BlankLineSplit",
     {post("1.1", "", CALL).substr(0, 50), post("1.1", "", CALL).substr(50)},
     {CALL},
     {true},
     Status::INCOMPLETE},
    {"ByteByByte", {}, {CALL}, {true}, Status::INCOMPLETE},  // pieces filled below
    {"LineFeedsOnly", {"POST / HTTP/1.1\ncontent-LENGTH:   3 \n\nabc"}, {"abc"}, {true}, Status::INCOMPLETE},
    {"Http10ClosesUnlessKeptAlive",
     {post("1.0", "", "a") + post("1.0", "Connection: Keep-Alive\r\n", "b") + "\r\n" + post("1.1", "", "c") +
      post("1.1", "connection: close\r\n", "d")},
     {"a", "b", "c", "d"},
     {false, true, true, false},
     Status::INCOMPLETE},
    {"BodyAwaited", {post("1.1", "", CALL).substr(0, 60)}, {}, {}, Status::INCOMPLETE},
    {"NoLength", {"POST / HTTP/1.1\r\nHost: x\r\n\r\n"}, {}, {}, Status::REFUSED},
    {"LengthZero", {post("1.1", "", "")}, {}, {}, Status::REFUSED},
    {"LengthNotDigits", {"POST / HTTP/1.1\r\nContent-length: -5\r\n\r\n"}, {}, {}, Status::REFUSED},
    {"TwoLengths", {"POST / HTTP/1.1\r\nContent-length: 1\r\nContent-length: 2\r\n\r\nab"}, {}, {}, Status::REFUSED},
    {"LengthOverTheLimit", {"POST / HTTP/1.1\r\nContent-length: 990\r\n\r\n"}, {}, {}, Status::REFUSED},
    {"HugeLength", {"POST / HTTP/1.1\r\nContent-length: 99999999999999999999\r\n\r\n"}, {}, {}, Status::REFUSED},
    {"HeaderWithoutEnd", {"POST / HTTP/1.1\r\n" + std::string(LIMIT, 'x')}, {}, {}, Status::REFUSED},
    {"HeaderUpToTheLimit", {"POST / HTTP/1.1\r\n" + std::string(LIMIT - 17, 'x')}, {}, {}, Status::INCOMPLETE},
};

void PrintTo(const Framing& f, std::ostream* os)
{
    *os << f.name;
}

class Request_Framing : public ::testing::TestWithParam<Framing> {};

TEST_P(Request_Framing, TakesWholeRequestsAndRefusesWhatCannotBeRead)
{
    Framing f = GetParam();
    if (f.pieces.empty())
        for (char c : post("1.1", "", CALL))
            f.pieces.emplace_back(1, c);
    Xmlrpc_Request_Reader reader(LIMIT);
    std::vector<std::string> bodies;
    std::vector<bool> keep_alive;
    Status status = Status::INCOMPLETE;
    std::string reason;
    for (const std::string& piece : f.pieces) {
        reader.append(piece.data(), piece.size());
        Xmlrpc_Request request;
        while ((status = reader.next(request, reason)) == Status::WHOLE) {
            bodies.push_back(request.body);
            keep_alive.push_back(request.keep_alive);
        }
        if (status == Status::REFUSED)
            break;
    }
    EXPECT_EQ(bodies, f.bodies);
    EXPECT_EQ(keep_alive, f.keep_alive);
    EXPECT_EQ(status, f.last);
    EXPECT_EQ(reason.empty(), f.last != Status::REFUSED) << reason;
}

INSTANTIATE_TEST_SUITE_P(Table, Request_Framing, ::testing::ValuesIn(FRAMINGS),
                         [](const ::testing::TestParamInfo<Framing>& p) { return std::string(p.param.name); });

std::string nested(int depth)
{
    std::string body;
    for (int i = 0; i < depth; ++i)
        body += "<e>";
    for (int i = 0; i < depth; ++i)
        body += "</e>";
    return body;
}

TEST(Body_Check, RefusesNulMismatchAndDepthBeyondTheLimit)
{
    const struct {
        std::string body;
        const char* refusal;  // "" when accepted
    } cases[] = {
        {"<?xml version=\"1.0\"?><!-- a > b --><methodCall><methodName>m</methodName><params/></methodCall>", ""},
        {"<value attr='1' ><array><data/></array></value >", ""},
        {"<methodCall><methodName>m</methodName>", ""},  // unfinished: for the parser to answer
        {nested(64), ""},
        {nested(65), "elements nested deeper than 64"},
        {"<a>x" + std::string(1, '\0') + "</a>", "a NUL byte in the body"},
        {"<a></b></a>", "a closing tag </b> that matches none"},
        {"</a><a></a>", "a closing tag </a> that matches none"},
        {"<a><x<b></a>", "a tag inside a tag"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(xmlrpc_body_refusal(c.body, 64), c.refusal) << c.body.substr(0, 80);
}
}  // namespace
