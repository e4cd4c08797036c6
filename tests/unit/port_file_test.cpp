// The port file's one line: each accepted form once, and each way a file
// could be taken for a port it does not name.
#include "serial/port_file.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PortFile, AcceptedForms) {
    const struct {
        std::string content;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"rfc2217://127.0.0.1:4001", "127.0.0.1", 4001},
        {"rfc2217://127.0.0.1:4001\n", "127.0.0.1", 4001},
        {"rfc2217://127.0.0.1:4001\r\n", "127.0.0.1", 4001},
        {"rfc2217://[::1]:1", "::1", 1},
        {"rfc2217://[fe80::a:B:c]:65535\n", "fe80::a:B:c", 65535},
        {"rfc2217://[::ffff:192.0.2.1]:23", "::ffff:192.0.2.1", 23},
        {"rfc2217://serial-server_2.lab:7000", "serial-server_2.lab", 7000},
        // The longest file: 256 bytes, line end included.
        {"rfc2217://" + std::string(239, 'h') + ":65535\n", nullptr, 65535},
    };
    for (const auto& accepted : cases) {
        PortFileTarget target;
        ASSERT_EQ(parse_port_file(accepted.content, target), 0) << accepted.content;
        if (accepted.host != nullptr) {
            EXPECT_EQ(target.host, accepted.host) << accepted.content;
        } else {
            EXPECT_EQ(target.host, std::string(239, 'h'));
        }
        EXPECT_EQ(target.port, accepted.port) << accepted.content;
    }
}

TEST(PortFile, AnythingElseIsNoPort) {
    const std::string refused[] = {
        "",
        "\n",
        "127.0.0.1:4001",                                  // no scheme
        "RFC2217://127.0.0.1:4001",                        // the scheme is lower case
        "telnet://127.0.0.1:4001",                         // another scheme
        " rfc2217://127.0.0.1:4001",                       // leading space
        "rfc2217://127.0.0.1:4001 ",                       // trailing space
        "rfc2217://127.0.0.1:4001\n\n",                    // two line ends
        "rfc2217://127.0.0.1:4001\r",                      // CR alone
        "rfc2217://127.0.0.1:4001\nrfc2217://x:1\n",       // a second line
        "rfc2217://127.0.0.1",                             // no port
        "rfc2217://127.0.0.1:",                            // empty port
        "rfc2217://:4001",                                 // empty host
        "rfc2217://127.0.0.1:0",                           // port 0
        "rfc2217://127.0.0.1:65536",                       // past the last port
        "rfc2217://127.0.0.1:99999999999999999999",        // would overflow
        "rfc2217://127.0.0.1:04001",                       // leading zero
        "rfc2217://127.0.0.1:+4001",                       // sign
        "rfc2217://127.0.0.1:40x1",                        // not a number
        "rfc2217://::1:4001",                              // IPv6 without brackets
        "rfc2217://[::1]4001",                             // no colon after the bracket
        "rfc2217://[::1:4001",                             // unclosed bracket
        "rfc2217://[]:4001",                               // empty brackets
        "rfc2217://[example]:4001",                        // a name in brackets
        "rfc2217://host/path:4001",                        // a path
        "rfc2217://user@host:4001",                        // credentials
        "rfc2217://ho st:4001",                            // space in the name
        std::string("rfc2217://host\0x:4001", 21),         // NUL in the name
        "rfc2217://" + std::string(240, 'h') + ":65535\n", // 257 bytes
    };
    for (const std::string& content : refused) {
        PortFileTarget target;
        EXPECT_EQ(parse_port_file(content, target), -10) << content;
    }
}

} // namespace
