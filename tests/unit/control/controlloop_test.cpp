#include "control/controlloop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ParseArgs, OneHostPortArgumentElseDefaults) {
    const std::string longHost(32, 'h');
    const std::string longArg = "1.2.3.4:" + std::string(60, '5');
    struct Case {
        std::vector<std::string> args;
        const char* host;
        int port;
    } cases[] = {
        {{}, "127.0.0.1", 30003},
        {{"192.168.1.5:40000"}, "192.168.1.5", 40000},
        {{"0.0.0.0:40000"}, "0.0.0.0", 40000},
        {{"8000"}, "127.0.0.1", 30003},
        {{"127.0.0.1:abc"}, "127.0.0.1", 0},
        {{"127.0.0.1: 77x"}, "127.0.0.1", 77},
        {{"1.2.3.4:5", "6.7.8.9:10"}, "127.0.0.1", 30003},
        {{":5"}, "", 5},
        {{longHost + ":5"}, "127.0.0.1", 30003},
        {{std::string(31, 'h') + ":5"}, "hhhhhhhhhhhhhhhhhhhhhhhhhhhhhhh", 5},
        {{longArg}, "127.0.0.1", 30003},
        {{"1.2.3.4:99999999999999"}, "1.2.3.4", INT32_MAX},
    };
    for (const Case& c : cases) {
        std::vector<char*> argv;
        for (const std::string& a : c.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        char host[32];
        int port = -1;
        EXPECT_EQ(0, parse_args(static_cast<int>(argv.size()), argv.data(), host, &port));
        EXPECT_STREQ(c.host, host) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_EQ(c.port, port) << (c.args.empty() ? "" : c.args[0]);
    }
}
