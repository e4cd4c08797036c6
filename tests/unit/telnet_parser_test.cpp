#include "serial/telnet_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// What a parser delivered, one token per item: "d41" for a data byte 0x41,
// "o fb 2c" for WILL COM-PORT-OPTION, "c 6b [11]" for a COM-PORT subnegotiation.
std::string describe(const TelnetItem& item) {
    char text[16];
    switch (item.kind) {
    case TelnetItemKind::none:
        return "";
    case TelnetItemKind::data:
        std::snprintf(text, sizeof text, "d%02x ", item.byte);
        return text;
    case TelnetItemKind::option:
        std::snprintf(text, sizeof text, "o %02x %02x ", item.byte, item.option);
        return text;
    case TelnetItemKind::com_port: {
        std::snprintf(text, sizeof text, "c %02x [", item.byte);
        std::string out = text;
        for (size_t i = 0; i < item.value_size; ++i) {
            std::snprintf(text, sizeof text, "%s%02x", i ? " " : "", item.value[i]);
            out += text;
        }
        return out + "] ";
    }
    }
    return "?";
}

// Feeds the input in chunks cut at the given offsets (as separate reads would).
std::string parse_in_chunks(const Bytes& input, const std::vector<size_t>& cuts) {
    TelnetParser parser;
    std::string transcript;
    size_t start = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(input.size());
    for (const size_t end : ends) {
        const Bytes chunk(input.begin() + static_cast<long>(start),
                          input.begin() + static_cast<long>(end));
        for (const uint8_t byte : chunk) {
            transcript += describe(telnet_feed(parser, byte));
        }
        start = end;
    }
    return transcript;
}

std::string parse(const Bytes& input) {
    return parse_in_chunks(input, {});
}

// Data, a notification in the middle of it, 0xFF data, an option command and
// an acknowledgement whose value holds an escaped 0xFF.
const Bytes MIXED = {'A',  0xFF, 0xFF, 0xFF, 0xFA, 0x2C, 0x6B, 0x11, 0xFF,
                     0xF0, 0x0D, 0x0A, 0xFF, 0xFB, 0x2C, 0x00, 0xFF, 0xFA,
                     0x2C, 0x65, 0x00, 0xFF, 0xFF, 0x01, 0xFF, 0xF0, 'Z'};
const std::string MIXED_ITEMS = "d41 dff c 6b [11] d0d d0a o fb 2c d00 c 65 [00 ff 01] d5a ";

TEST(TelnetParser, DeliversDataNotificationsAndOptionsInOrder) {
    EXPECT_EQ(parse(MIXED), MIXED_ITEMS);
}

TEST(TelnetParser, AnySplitOfTheInputGivesTheSameItems) {
    for (size_t first = 0; first <= MIXED.size(); ++first) {
        for (size_t second = first; second <= MIXED.size(); ++second) {
            EXPECT_EQ(parse_in_chunks(MIXED, {first, second}), MIXED_ITEMS)
                << "cut at " << first << " and " << second;
        }
    }
}

TEST(TelnetParser, MalformedAndForeignSequencesAreConsumedWithoutHarm) {
    struct Case {
        const char* name;
        Bytes input;
        std::string items;
    };
    const std::vector<Case> cases = {
        {"other commands (NOP, GA, stray SE)",
         {0xFF, 0xF1, 'a', 0xFF, 0xF9, 0xFF, 0xF0, 'b'},
         "d61 d62 "},
        {"subnegotiation of another option, with IAC IAC inside",
         {0xFF, 0xFA, 0x18, 0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xF0, 'x'},
         "d78 "},
        {"subnegotiation cut short by an option command",
         {0xFF, 0xFA, 0x2C, 0x6B, 0x10, 0xFF, 0xFD, 0x03, 'y'},
         "o fd 03 d79 "},
        {"empty COM-PORT subnegotiation", {0xFF, 0xFA, 0x2C, 0xFF, 0xF0, 'z'}, "d7a "},
        {"COM-PORT request with no value", {0xFF, 0xFA, 0x2C, 0x07, 0xFF, 0xF0}, "c 07 [] "},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse(c.input), c.items) << c.name;
    }
}

TEST(TelnetParser, AnOverlongSubnegotiationIsDroppedAndMemoryStaysBounded) {
    Bytes input = {0xFF, 0xFA, 0x2C, 0x65};
    input.insert(input.end(), 100000, 0x42);
    input.insert(input.end(), {0xFF, 0xF0, 'k'});
    EXPECT_EQ(parse(input), "d6b ");

    // A value of exactly the kept length still arrives whole.
    Bytes fits = {0xFF, 0xFA, 0x2C, 0x01};
    fits.insert(fits.end(), TELNET_MAX_VALUE, 0x07);
    fits.insert(fits.end(), {0xFF, 0xF0});
    TelnetParser parser;
    TelnetItem last;
    for (const uint8_t byte : fits) {
        last = telnet_feed(parser, byte);
    }
    ASSERT_EQ(last.kind, TelnetItemKind::com_port);
    EXPECT_EQ(last.value_size, TELNET_MAX_VALUE);
}

TEST(TelnetEncoders, EscapedDataAndSubnegotiationsParseBackToTheOriginal) {
    Bytes data;
    for (int i = 0; i < 256; ++i) {
        data.push_back(static_cast<uint8_t>(i));
        data.push_back(0xFF);
    }
    TelnetBytes wire;
    telnet_append_data(wire, data.data(), data.size());
    EXPECT_EQ(wire.size(), data.size() + 257); // every 0xFF doubled
    const uint8_t value[] = {0x00, 0xFF, 0xFF, 0x10};
    telnet_append_com_port(wire, 0xFF, value, sizeof value);
    telnet_append_option(wire, telnet::DONT, telnet::OPT_ECHO);

    std::string expected;
    for (const uint8_t byte : data) {
        char text[8];
        std::snprintf(text, sizeof text, "d%02x ", byte);
        expected += text;
    }
    expected += "c ff [00 ff ff 10] o fe 01 ";
    EXPECT_EQ(parse(wire), expected);
}

TEST(TelnetNegotiation, AcceptsTheSerialOptionsOnceAndRefusesOthers) {
    TelnetNegotiation negotiation;
    TelnetBytes out;
    telnet_negotiation_answer(negotiation, telnet::DO, telnet::OPT_COM_PORT, out);
    EXPECT_EQ(out, (TelnetBytes{0xFF, 0xFB, 0x2C}));
    out.clear();
    telnet_negotiation_answer(negotiation, telnet::DO, telnet::OPT_COM_PORT, out);
    EXPECT_TRUE(out.empty()) << "an option is agreed only once";
    EXPECT_TRUE(telnet_peer_does(negotiation, telnet::OPT_COM_PORT));

    telnet_negotiation_answer(negotiation, telnet::WILL, telnet::OPT_ECHO, out);
    telnet_negotiation_answer(negotiation, telnet::DO, 0x18, out);
    telnet_negotiation_answer(negotiation, telnet::WONT, telnet::OPT_ECHO, out);
    telnet_negotiation_answer(negotiation, telnet::DONT, 0x18, out);
    EXPECT_EQ(out, (TelnetBytes{0xFF, 0xFE, 0x01, 0xFF, 0xFC, 0x18}));
}

TEST(TelnetNegotiation, TwoPeersAgreeOnEverythingAndFallSilent) {
    TelnetNegotiation client;
    TelnetNegotiation server;
    TelnetBytes to_server;
    TelnetBytes to_client;
    telnet_negotiation_start(client, to_server);
    telnet_negotiation_start(server, to_client);
    EXPECT_EQ(to_server.size(), 18U); // WILL and DO for three options
    TelnetParser at_server;
    TelnetParser at_client;
    int rounds = 0;
    while (!to_server.empty() || !to_client.empty()) {
        ASSERT_LT(++rounds, 10) << "the peers keep answering each other";
        TelnetBytes next_to_server;
        TelnetBytes next_to_client;
        for (const uint8_t byte : to_server) {
            const TelnetItem item = telnet_feed(at_server, byte);
            if (item.kind == TelnetItemKind::option) {
                telnet_negotiation_answer(server, item.byte, item.option, next_to_client);
            }
        }
        for (const uint8_t byte : to_client) {
            const TelnetItem item = telnet_feed(at_client, byte);
            if (item.kind == TelnetItemKind::option) {
                telnet_negotiation_answer(client, item.byte, item.option, next_to_server);
            }
        }
        to_server = next_to_server;
        to_client = next_to_client;
    }
    for (const uint8_t option : {telnet::OPT_BINARY, telnet::OPT_SGA, telnet::OPT_COM_PORT}) {
        EXPECT_TRUE(telnet_peer_does(client, option));
        EXPECT_TRUE(telnet_peer_will(client, option));
        EXPECT_TRUE(telnet_peer_does(server, option));
        EXPECT_TRUE(telnet_peer_will(server, option));
    }
}

} // namespace
