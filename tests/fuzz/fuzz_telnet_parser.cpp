// The Telnet / RFC 2217 parser against a reference decoder written another
// way (whole-buffer, index-based), plus two properties:
//   - encode -> parse gives back exactly what was encoded (data with 0xFF,
//     COM-PORT-OPTION commands with any value, option commands);
//   - the option negotiation answers each request at most once, refuses what
//     it does not know with the matching refusal, and never answers a refusal.
// The first input byte picks the check; the rest is its input.
#include "serial/telnet_parser.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Item {
    TelnetItemKind kind;
    uint8_t byte;
    uint8_t option;
    std::vector<uint8_t> value;
    bool operator==(const Item&) const = default;
};

bool is_verb(uint8_t byte) {
    return byte >= telnet::WILL && byte <= telnet::DONT;
}

// What the parser gives for a whole input, fed one byte at a time.
std::vector<Item> parse(const uint8_t* data, size_t size) {
    TelnetParser parser;
    std::vector<Item> items;
    for (size_t i = 0; i < size; ++i) {
        const TelnetItem item = telnet_feed(parser, data[i]);
        switch (item.kind) {
        case TelnetItemKind::none:
            break;
        case TelnetItemKind::data:
            items.push_back({item.kind, item.byte, 0, {}});
            break;
        case TelnetItemKind::option:
            check(is_verb(item.byte));
            items.push_back({item.kind, item.byte, item.option, {}});
            break;
        case TelnetItemKind::com_port:
            check(item.value_size <= TELNET_MAX_VALUE);
            check(item.value_size == 0 || item.value != nullptr);
            items.push_back({item.kind, item.byte, 0, {item.value, item.value + item.value_size}});
            break;
        }
    }
    return items;
}

// The reference: a subnegotiation's end is searched for in the buffer; an IAC
// followed by anything but IAC or SE inside it ends it unfinished, and that
// IAC starts a command of its own. Unfinished input at the end gives nothing.
std::vector<Item> reference(const uint8_t* in, size_t n) {
    std::vector<Item> items;
    size_t i = 0;
    while (i < n) {
        if (in[i] != telnet::IAC) {
            items.push_back({TelnetItemKind::data, in[i], 0, {}});
            ++i;
            continue;
        }
        if (i + 1 >= n) {
            break;
        }
        const uint8_t command = in[i + 1];
        if (command == telnet::IAC) {
            items.push_back({TelnetItemKind::data, telnet::IAC, 0, {}});
            i += 2;
            continue;
        }
        if (is_verb(command)) {
            if (i + 2 >= n) {
                break;
            }
            items.push_back({TelnetItemKind::option, command, in[i + 2], {}});
            i += 3;
            continue;
        }
        if (command != telnet::SB) {
            i += 2;
            continue;
        }
        size_t j = i + 2;
        if (j >= n) {
            break;
        }
        const bool com_port = in[j] == telnet::OPT_COM_PORT;
        if (in[j] != telnet::IAC) {
            ++j; // the option byte; an IAC there starts a pair of the body
        }
        std::vector<uint8_t> body;
        bool ended = false;
        size_t resume = n;
        while (j < n) {
            if (in[j] != telnet::IAC) {
                body.push_back(in[j++]);
                continue;
            }
            if (j + 1 >= n) {
                j = n;
                break;
            }
            if (in[j + 1] == telnet::IAC) {
                body.push_back(telnet::IAC);
                j += 2;
                continue;
            }
            if (in[j + 1] == telnet::SE) {
                ended = true;
                j += 2;
                break;
            }
            resume = j;
            break;
        }
        if (ended) {
            if (com_port && !body.empty() && body.size() - 1 <= TELNET_MAX_VALUE) {
                items.push_back(
                    {TelnetItemKind::com_port, body[0], 0, {body.begin() + 1, body.end()}});
            }
            i = j;
        } else if (resume < n) {
            i = resume;
        } else {
            break;
        }
    }
    return items;
}

// Reads the input as a script of messages, encodes them and parses them back.
void round_trip(const uint8_t* in, size_t n) {
    TelnetBytes wire;
    std::vector<Item> expected;
    size_t i = 0;
    auto next = [&]() -> uint8_t { return i < n ? in[i++] : 0; };
    while (i < n) {
        const uint8_t op = next();
        switch (op % 3) {
        case 0: {
            const size_t length = next() % 16;
            for (size_t k = 0; k < length; ++k) {
                const uint8_t byte = next();
                telnet_append_data(wire, &byte, 1);
                expected.push_back({TelnetItemKind::data, byte, 0, {}});
            }
            break;
        }
        case 1: {
            const uint8_t command = next();
            const size_t length = next() % 40;
            std::vector<uint8_t> value;
            for (size_t k = 0; k < length; ++k) {
                value.push_back(next());
            }
            telnet_append_com_port(wire, command, value.data(), value.size());
            if (value.size() <= TELNET_MAX_VALUE) {
                expected.push_back({TelnetItemKind::com_port, command, 0, value});
            }
            break;
        }
        default: {
            const auto verb = static_cast<uint8_t>(telnet::WILL + next() % 4);
            const uint8_t option = next();
            telnet_append_option(wire, verb, option);
            expected.push_back({TelnetItemKind::option, verb, option, {}});
            break;
        }
        }
    }
    check(parse(wire.data(), wire.size()) == expected);
}

bool accepted(uint8_t option) {
    return option == telnet::OPT_BINARY || option == telnet::OPT_SGA ||
           option == telnet::OPT_COM_PORT;
}

// Feeds option commands to one side of the negotiation and checks each answer.
void negotiation(const uint8_t* in, size_t n) {
    TelnetNegotiation side;
    TelnetBytes start;
    telnet_negotiation_start(side, start);
    check(start.size() == 18); // WILL and DO for each of the three options
    for (size_t i = 0; i + 1 < n; i += 2) {
        const auto verb = static_cast<uint8_t>(telnet::WILL + in[i] % 4);
        const uint8_t option = in[i + 1];
        TelnetBytes answer;
        telnet_negotiation_answer(side, verb, option, answer);
        // Everything was asked at the start: nothing is ever asked again, and
        // only a request for an unknown option is answered (with its refusal).
        if (accepted(option) || verb == telnet::WONT || verb == telnet::DONT) {
            check(answer.empty());
        } else {
            const uint8_t refusal = verb == telnet::WILL ? telnet::DONT : telnet::WONT;
            check(answer == TelnetBytes({telnet::IAC, refusal, option}));
        }
        if (accepted(option)) {
            if (verb == telnet::DO || verb == telnet::DONT) {
                check(telnet_peer_does(side, option) == (verb == telnet::DO));
            } else {
                check(telnet_peer_will(side, option) == (verb == telnet::WILL));
            }
        } else {
            check(!telnet_peer_does(side, option) && !telnet_peer_will(side, option));
        }
    }
    // Two sides that speak these rules agree on every option and fall silent.
    TelnetNegotiation a;
    TelnetNegotiation b;
    TelnetBytes to_b;
    TelnetBytes to_a;
    telnet_negotiation_start(a, to_b);
    telnet_negotiation_start(b, to_a);
    for (int round = 0; round < 4 && !(to_a.empty() && to_b.empty()); ++round) {
        TelnetBytes from_a;
        TelnetBytes from_b;
        for (const Item& item : parse(to_b.data(), to_b.size())) {
            telnet_negotiation_answer(b, item.byte, item.option, from_b);
        }
        for (const Item& item : parse(to_a.data(), to_a.size())) {
            telnet_negotiation_answer(a, item.byte, item.option, from_a);
        }
        to_b = from_a;
        to_a = from_b;
    }
    check(to_a.empty() && to_b.empty());
    check(telnet_peer_does(a, telnet::OPT_COM_PORT) && telnet_peer_will(b, telnet::OPT_COM_PORT));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t mode = data[0];
    ++data;
    --size;
    switch (mode % 3) {
    case 0:
        check(parse(data, size) == reference(data, size));
        break;
    case 1:
        round_trip(data, size);
        break;
    default:
        negotiation(data, size);
        break;
    }
    return 0;
}
