#include "serial/telnet_parser.h"

namespace {

TelnetItem nothing() {
    return TelnetItem{};
}

TelnetItem data_item(uint8_t byte) {
    TelnetItem item;
    item.kind = TelnetItemKind::data;
    item.byte = byte;
    return item;
}

bool is_verb(uint8_t byte) {
    return byte == telnet::WILL || byte == telnet::WONT || byte == telnet::DO ||
           byte == telnet::DONT;
}

// The byte after an IAC outside a subnegotiation.
TelnetItem after_iac(TelnetParser& parser, uint8_t byte) {
    parser.state = TelnetState::data;
    if (byte == telnet::IAC) {
        return data_item(byte);
    }
    if (is_verb(byte)) {
        parser.verb = byte;
        parser.state = TelnetState::verb;
    } else if (byte == telnet::SB) {
        parser.state = TelnetState::sb_option;
    }
    // Any other command (NOP, GA, a stray SE...) carries nothing for a serial line.
    return nothing();
}

// Stores one byte of a COM-PORT-OPTION subnegotiation; a value too long to
// keep makes the whole subnegotiation be skipped.
void store_sb_byte(TelnetParser& parser, uint8_t byte) {
    if (!parser.sb_has_command) {
        parser.sb_has_command = true;
        parser.sb_command = byte;
        return;
    }
    if (parser.sb_size >= parser.sb_value.size()) {
        parser.state = TelnetState::sb_skip;
        return;
    }
    parser.sb_value[parser.sb_size++] = byte;
}

} // namespace

TelnetItem telnet_feed(TelnetParser& parser, uint8_t byte) {
    switch (parser.state) {
    case TelnetState::data:
        if (byte == telnet::IAC) {
            parser.state = TelnetState::iac;
            return nothing();
        }
        return data_item(byte);
    case TelnetState::iac:
        return after_iac(parser, byte);
    case TelnetState::verb: {
        TelnetItem item;
        item.kind = TelnetItemKind::option;
        item.byte = parser.verb;
        item.option = byte;
        parser.state = TelnetState::data;
        return item;
    }
    case TelnetState::sb_option:
        if (byte == telnet::OPT_COM_PORT) {
            parser.sb_has_command = false;
            parser.sb_size = 0;
            parser.state = TelnetState::sb_body;
        } else {
            parser.state = byte == telnet::IAC ? TelnetState::sb_skip_iac : TelnetState::sb_skip;
        }
        return nothing();
    case TelnetState::sb_body:
        if (byte == telnet::IAC) {
            parser.state = TelnetState::sb_iac;
        } else {
            store_sb_byte(parser, byte);
        }
        return nothing();
    case TelnetState::sb_iac:
        if (byte == telnet::IAC) {
            parser.state = TelnetState::sb_body;
            store_sb_byte(parser, byte);
            return nothing();
        }
        if (byte == telnet::SE) {
            parser.state = TelnetState::data;
            if (!parser.sb_has_command) {
                return nothing();
            }
            TelnetItem item;
            item.kind = TelnetItemKind::com_port;
            item.byte = parser.sb_command;
            item.value = parser.sb_value.data();
            item.value_size = parser.sb_size;
            return item;
        }
        // A command inside an unterminated subnegotiation: drop the
        // subnegotiation and take the command as it stands.
        return after_iac(parser, byte);
    case TelnetState::sb_skip:
        if (byte == telnet::IAC) {
            parser.state = TelnetState::sb_skip_iac;
        }
        return nothing();
    case TelnetState::sb_skip_iac:
        if (byte == telnet::IAC) {
            parser.state = TelnetState::sb_skip;
            return nothing();
        }
        if (byte == telnet::SE) {
            parser.state = TelnetState::data;
            return nothing();
        }
        return after_iac(parser, byte);
    }
    parser.state = TelnetState::data;
    return nothing();
}

void telnet_append_data(TelnetBytes& out, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        if (data[i] == telnet::IAC) {
            out.push_back(telnet::IAC);
        }
    }
}

void telnet_append_option(TelnetBytes& out, uint8_t verb, uint8_t option) {
    out.push_back(telnet::IAC);
    out.push_back(verb);
    out.push_back(option);
}

void telnet_append_com_port(TelnetBytes& out, uint8_t command, const uint8_t* value, size_t size) {
    out.push_back(telnet::IAC);
    out.push_back(telnet::SB);
    out.push_back(telnet::OPT_COM_PORT);
    telnet_append_data(out, &command, 1);
    telnet_append_data(out, value, size);
    out.push_back(telnet::IAC);
    out.push_back(telnet::SE);
}

namespace {

constexpr std::array<uint8_t, 3> ACCEPTED = {telnet::OPT_BINARY, telnet::OPT_SGA,
                                             telnet::OPT_COM_PORT};

// The slot of an accepted option, or -1 for an option we refuse.
int slot_of(uint8_t option) {
    for (size_t i = 0; i < ACCEPTED.size(); ++i) {
        if (ACCEPTED[i] == option) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace

void telnet_negotiation_start(TelnetNegotiation& negotiation, TelnetBytes& out) {
    for (size_t i = 0; i < ACCEPTED.size(); ++i) {
        if (!negotiation.we_asked_will[i]) {
            telnet_append_option(out, telnet::WILL, ACCEPTED[i]);
            negotiation.we_asked_will[i] = true;
        }
        if (!negotiation.we_asked_do[i]) {
            telnet_append_option(out, telnet::DO, ACCEPTED[i]);
            negotiation.we_asked_do[i] = true;
        }
    }
}

void telnet_negotiation_answer(TelnetNegotiation& negotiation, uint8_t verb, uint8_t option,
                               TelnetBytes& out) {
    const int slot = slot_of(option);
    if (slot < 0) {
        // Refuse a request; a refusal or an acknowledgement of one needs no answer.
        if (verb == telnet::WILL) {
            telnet_append_option(out, telnet::DONT, option);
        } else if (verb == telnet::DO) {
            telnet_append_option(out, telnet::WONT, option);
        }
        return;
    }
    const auto index = static_cast<size_t>(slot);
    switch (verb) {
    case telnet::DO:
        negotiation.peer_do[index] = true;
        if (!negotiation.we_asked_will[index]) {
            negotiation.we_asked_will[index] = true;
            telnet_append_option(out, telnet::WILL, option);
        }
        break;
    case telnet::WILL:
        negotiation.peer_will[index] = true;
        if (!negotiation.we_asked_do[index]) {
            negotiation.we_asked_do[index] = true;
            telnet_append_option(out, telnet::DO, option);
        }
        break;
    case telnet::DONT:
        negotiation.peer_do[index] = false;
        break;
    case telnet::WONT:
        negotiation.peer_will[index] = false;
        break;
    default:
        break;
    }
}

bool telnet_peer_does(const TelnetNegotiation& negotiation, uint8_t option) {
    const int slot = slot_of(option);
    return slot >= 0 && negotiation.peer_do[static_cast<size_t>(slot)];
}

bool telnet_peer_will(const TelnetNegotiation& negotiation, uint8_t option) {
    const int slot = slot_of(option);
    return slot >= 0 && negotiation.peer_will[static_cast<size_t>(slot)];
}
