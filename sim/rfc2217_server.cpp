#include "sim/rfc2217_server.h"

#include <algorithm>

namespace {

void answer(TelnetBytes& wire, uint8_t command, const uint8_t* value, size_t size) {
    telnet_append_com_port(wire, static_cast<uint8_t>(command + telnet::SERVER_OFFSET), value,
                           size);
}

void answer_byte(TelnetBytes& wire, uint8_t command, uint8_t value) {
    answer(wire, command, &value, 1);
}

// The modem state as the host sees it, through the adapter.
void send_modem_state(TelnetBytes& wire, const LineStream& line, const AdapterModel& adapter) {
    answer_byte(wire, telnet::CP_NOTIFY_MODEMSTATE,
                line_modem_state(adapter.host_cts, false) & line.modem_mask);
}

void set_baud(Rfc2217Session& session, const uint8_t* value, size_t size, LineStream& line,
              TelnetBytes& wire) {
    if (size == 4) {
        const unsigned long rate = (static_cast<unsigned long>(value[0]) << 24) |
                                   (static_cast<unsigned long>(value[1]) << 16) |
                                   (static_cast<unsigned long>(value[2]) << 8) | value[3];
        // 0 asks for the current rate; anything a UART could run at is taken.
        if (rate >= 50 && rate <= 4'000'000) {
            session.baud = static_cast<long>(rate);
            line_set_baud(line, session.baud);
        }
    }
    const auto rate = static_cast<unsigned long>(session.baud);
    const uint8_t current[4] = {static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16),
                                static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate)};
    answer(wire, telnet::CP_SET_BAUDRATE, current, sizeof current);
}

// Stores a one-byte setting when it lies in [low, high] (0 asks) and answers
// with the setting in force.
void set_small(uint8_t& setting, uint8_t command, const uint8_t* value, size_t size, uint8_t low,
               uint8_t high, TelnetBytes& wire) {
    if (size == 1 && value[0] >= low && value[0] <= high) {
        setting = value[0];
    }
    answer_byte(wire, command, setting);
}

void set_control(Rfc2217Session& session, const uint8_t* value, size_t size, Board& board,
                 AdapterModel& adapter, BoardIo& io, TelnetBytes& wire) {
    if (size != 1) {
        return;
    }
    uint8_t reply = value[0];
    switch (value[0]) {
    case telnet::CONTROL_ASK_FLOW:
    case 2: // XON/XOFF and hardware flow control: not on this line
    case 3:
        reply = telnet::CONTROL_NO_FLOW;
        break;
    case 4: // break state: never in break
        reply = 6;
        break;
    case telnet::CONTROL_ASK_DTR:
        reply = session.dtr ? telnet::CONTROL_DTR_ON : telnet::CONTROL_DTR_OFF;
        break;
    case telnet::CONTROL_DTR_ON:
    case telnet::CONTROL_DTR_OFF:
        session.dtr = value[0] == telnet::CONTROL_DTR_ON;
        break;
    case telnet::CONTROL_ASK_RTS:
        reply = board.rts ? telnet::CONTROL_RTS_ON : telnet::CONTROL_RTS_OFF;
        break;
    case telnet::CONTROL_RTS_ON:
    case telnet::CONTROL_RTS_OFF:
        // Answer first: the byte an RTS edge asks for follows on the line.
        answer_byte(wire, telnet::CP_SET_CONTROL, value[0]);
        if (adapter_set_rts(adapter, value[0] == telnet::CONTROL_RTS_ON, io.now_us * 1000)) {
            board_set_rts(board, value[0] == telnet::CONTROL_RTS_ON, io);
        }
        return;
    default:
        if (value[0] >= 13 && value[0] <= 19) {
            reply = 14; // inbound flow control: none
        }
        break;
    }
    answer_byte(wire, telnet::CP_SET_CONTROL, reply);
}

void com_port_command(Rfc2217Session& session, const TelnetItem& item, Board& board,
                      AdapterModel& adapter, BoardIo& io, TelnetBytes& wire) {
    LineStream& line = io.line;
    switch (item.byte) {
    case telnet::CP_SET_BAUDRATE:
        set_baud(session, item.value, item.value_size, line, wire);
        break;
    case telnet::CP_SET_DATASIZE:
        set_small(session.data_size, item.byte, item.value, item.value_size, 5, 8, wire);
        break;
    case telnet::CP_SET_PARITY:
        set_small(session.parity, item.byte, item.value, item.value_size, 1, 5, wire);
        break;
    case telnet::CP_SET_STOPSIZE:
        set_small(session.stop_size, item.byte, item.value, item.value_size, 1, 3, wire);
        break;
    case telnet::CP_SET_CONTROL:
        set_control(session, item.value, item.value_size, board, adapter, io, wire);
        break;
    case telnet::CP_NOTIFY_MODEMSTATE:
        // The client asks for the modem state now.
        send_modem_state(wire, line, adapter);
        break;
    case telnet::CP_SET_LINESTATE_MASK:
        if (item.value_size == 1) {
            answer_byte(wire, item.byte, item.value[0]);
        }
        break;
    case telnet::CP_SET_MODEMSTATE_MASK:
        if (item.value_size == 1) {
            line.modem_mask = item.value[0];
            answer_byte(wire, item.byte, item.value[0]);
        }
        break;
    case telnet::CP_PURGE_DATA:
        if (item.value_size == 1) {
            if (item.value[0] == telnet::PURGE_RECEIVE || item.value[0] == telnet::PURGE_BOTH) {
                line_purge_data(line);
                adapter_purge(adapter);
            }
            if (item.value[0] == telnet::PURGE_TRANSMIT || item.value[0] == telnet::PURGE_BOTH) {
                board.command.clear();
            }
            answer_byte(wire, item.byte, item.value[0]);
        }
        break;
    default:
        break; // flow-control suspend/resume and line-state notifications: nothing to do
    }
}

// True when `byte` would complete a data byte (checked on a copy of the parser).
bool completes_data(const TelnetParser& parser, uint8_t byte) {
    TelnetParser probe = parser;
    return telnet_feed(probe, byte).kind == TelnetItemKind::data;
}

// The first NOTIFY-MODEMSTATE, once the client agreed to COM-PORT-OPTION.
void greet(Rfc2217Session& session, const LineStream& line, const AdapterModel& adapter,
           TelnetBytes& wire) {
    if (!session.greeted) {
        session.greeted = true;
        send_modem_state(wire, line, adapter);
    }
}

} // namespace

void session_start(Rfc2217Session& session, LineStream& line, TelnetBytes& wire) {
    session = Rfc2217Session{};
    line_reset(line, session.baud);
    telnet_negotiation_start(session.negotiation, wire);
}

int64_t session_ready_ns(const Rfc2217Session& session, uint8_t byte, int64_t now_ns,
                         int64_t byte_ns) {
    if (!session.inbound_free_ns) {
        return now_ns;
    }
    const int64_t room_ns = *session.inbound_free_ns - SESSION_BURST_BYTES * byte_ns;
    // The parser is probed (a copy) only when the line is busy.
    return room_ns > now_ns && completes_data(session.parser, byte) ? room_ns : now_ns;
}

size_t session_receive(Rfc2217Session& session, const uint8_t* data, size_t size, Board& board,
                       AdapterModel& adapter, BoardIo& io, TelnetBytes& wire,
                       const SessionRoom& room) {
    const int64_t now_ns = io.now_us * 1000;
    const int64_t byte_ns = io.line.byte_time_ns;
    size_t i = 0;
    while (i < size && wire.size() < room.wire_bytes &&
           adapter_rts_backlog_ns(adapter, now_ns) < room.rts_backlog_ns) {
        // The parser holds at most one item's bytes: a byte that may complete
        // a data item waits while the line has no room for it.
        if (session_ready_ns(session, data[i], now_ns, byte_ns) > now_ns) {
            break;
        }
        const TelnetItem item = telnet_feed(session.parser, data[i++]);
        switch (item.kind) {
        case TelnetItemKind::none:
            break;
        case TelnetItemKind::data:
            session.inbound_free_ns =
                std::max(session.inbound_free_ns.value_or(now_ns), now_ns) + byte_ns;
            board_receive(board, item.byte, io);
            break;
        case TelnetItemKind::option:
            telnet_negotiation_answer(session.negotiation, item.byte, item.option, wire);
            if (item.option == telnet::OPT_COM_PORT &&
                (telnet_peer_will(session.negotiation, telnet::OPT_COM_PORT) ||
                 telnet_peer_does(session.negotiation, telnet::OPT_COM_PORT))) {
                greet(session, io.line, adapter, wire);
            }
            break;
        case TelnetItemKind::com_port:
            // A client may take the server's own requests as agreement and
            // never answer them: its first COM-PORT command shows it agreed.
            greet(session, io.line, adapter, wire);
            com_port_command(session, item, board, adapter, io, wire);
            break;
        }
    }
    return i;
}
