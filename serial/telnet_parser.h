// Telnet with the RFC 2217 COM-PORT-OPTION: an incremental parser fed one byte
// at a time (so any split of the input between reads is harmless), encoders for
// data and subnegotiations, and the option negotiation both ends share.
// Knows nothing about what is on the other side of the line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

using TelnetBytes = std::vector<uint8_t>;

namespace telnet {
constexpr uint8_t IAC = 0xFF;
constexpr uint8_t DONT = 0xFE;
constexpr uint8_t DO = 0xFD;
constexpr uint8_t WONT = 0xFC;
constexpr uint8_t WILL = 0xFB;
constexpr uint8_t SB = 0xFA;
constexpr uint8_t SE = 0xF0;

constexpr uint8_t OPT_BINARY = 0x00;
constexpr uint8_t OPT_ECHO = 0x01;
constexpr uint8_t OPT_SGA = 0x03;
constexpr uint8_t OPT_COM_PORT = 0x2C;

// COM-PORT-OPTION commands as the client sends them; the server answers with
// the same code plus SERVER_OFFSET.
constexpr uint8_t CP_SET_BAUDRATE = 1;
constexpr uint8_t CP_SET_DATASIZE = 2;
constexpr uint8_t CP_SET_PARITY = 3;
constexpr uint8_t CP_SET_STOPSIZE = 4;
constexpr uint8_t CP_SET_CONTROL = 5;
constexpr uint8_t CP_NOTIFY_LINESTATE = 6;
constexpr uint8_t CP_NOTIFY_MODEMSTATE = 7;
constexpr uint8_t CP_FLOWCONTROL_SUSPEND = 8;
constexpr uint8_t CP_FLOWCONTROL_RESUME = 9;
constexpr uint8_t CP_SET_LINESTATE_MASK = 10;
constexpr uint8_t CP_SET_MODEMSTATE_MASK = 11;
constexpr uint8_t CP_PURGE_DATA = 12;
constexpr uint8_t SERVER_OFFSET = 100;

// SET-CONTROL values.
constexpr uint8_t CONTROL_ASK_FLOW = 0;
constexpr uint8_t CONTROL_NO_FLOW = 1;
constexpr uint8_t CONTROL_ASK_DTR = 7;
constexpr uint8_t CONTROL_DTR_ON = 8;
constexpr uint8_t CONTROL_DTR_OFF = 9;
constexpr uint8_t CONTROL_ASK_RTS = 10;
constexpr uint8_t CONTROL_RTS_ON = 11;
constexpr uint8_t CONTROL_RTS_OFF = 12;

// SET-PARITY and SET-STOPSIZE values.
constexpr uint8_t PARITY_NONE = 1;
constexpr uint8_t STOPSIZE_ONE = 1;

// Modem-state bits.
constexpr uint8_t MODEM_CTS_CHANGED = 0x01;
constexpr uint8_t MODEM_DSR_CHANGED = 0x02;
constexpr uint8_t MODEM_CTS = 0x10;
constexpr uint8_t MODEM_DSR = 0x20;

// PURGE-DATA values.
constexpr uint8_t PURGE_RECEIVE = 1;
constexpr uint8_t PURGE_TRANSMIT = 2;
constexpr uint8_t PURGE_BOTH = 3;
} // namespace telnet

// Longest COM-PORT-OPTION value kept; a longer subnegotiation is dropped whole.
constexpr size_t TELNET_MAX_VALUE = 32;

enum class TelnetItemKind : uint8_t {
    none,    // the byte was consumed inside a sequence that is not complete yet
    data,    // one data byte (an escaped 0xFF arrives as one 0xFF)
    option,  // WILL/WONT/DO/DONT for an option
    com_port // a complete COM-PORT-OPTION subnegotiation
};

struct TelnetItem {
    TelnetItemKind kind = TelnetItemKind::none;
    uint8_t byte = 0;               // data: the byte; option: the verb; com_port: the command code
    uint8_t option = 0;             // option: the option code
    const uint8_t* value = nullptr; // com_port: the value, unescaped (valid until the next feed)
    size_t value_size = 0;
};

enum class TelnetState : uint8_t {
    data,
    iac,
    verb,
    sb_option,
    sb_body,
    sb_iac,
    sb_skip,
    sb_skip_iac
};

struct TelnetParser {
    TelnetState state = TelnetState::data;
    uint8_t verb = 0;
    bool sb_has_command = false; // the first byte after the option (the command) was seen
    uint8_t sb_command = 0;
    size_t sb_size = 0;
    std::array<uint8_t, TELNET_MAX_VALUE> sb_value{};
};

// Feeds one received byte; returns what it completed, if anything. Commands
// other than the four option verbs and subnegotiations of other options are
// consumed silently.
TelnetItem telnet_feed(TelnetParser& parser, uint8_t byte);

// Appends data bytes, each 0xFF doubled.
void telnet_append_data(TelnetBytes& out, const uint8_t* data, size_t size);
// Appends IAC verb option.
void telnet_append_option(TelnetBytes& out, uint8_t verb, uint8_t option);
// Appends IAC SB COM-PORT-OPTION command value... IAC SE, 0xFF in the value doubled.
void telnet_append_com_port(TelnetBytes& out, uint8_t command, const uint8_t* value, size_t size);

// The option negotiation: BINARY, SGA and COM-PORT-OPTION are agreed both ways,
// every other option refused. Each request is answered once, and an answer is
// never answered again, so two peers using these rules cannot loop.
struct TelnetNegotiation {
    std::array<bool, 3> we_asked_will{}; // indexed by the accepted options' slots
    std::array<bool, 3> we_asked_do{};
    std::array<bool, 3> peer_will{};
    std::array<bool, 3> peer_do{};
};

// Sends WILL and DO for each accepted option.
void telnet_negotiation_start(TelnetNegotiation& negotiation, TelnetBytes& out);
// Updates the state for a received option command and appends the answer, if any.
void telnet_negotiation_answer(TelnetNegotiation& negotiation, uint8_t verb, uint8_t option,
                               TelnetBytes& out);
// True once the peer agreed to the option in the given direction.
bool telnet_peer_does(const TelnetNegotiation& negotiation, uint8_t option);
bool telnet_peer_will(const TelnetNegotiation& negotiation, uint8_t option);
