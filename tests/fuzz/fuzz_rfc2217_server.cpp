// The server side of RFC 2217 as the simulated board runs it: whatever a
// client sends (options, COM-PORT-OPTION commands, data, RTS edges, split
// anywhere) goes through the session into the board while time passes. Checks:
//   - what the server sends back parses cleanly: COM-PORT-OPTION answers only
//     (codes 101..112), option commands, data;
//   - no data byte leaves without a reason: at most one transfer byte per RTS
//     rising edge, plus the firmware reply of each "V" command (and stray
//     bytes when the noise fault is on);
//   - every command the client's data holds reaches the board once.
// Input: one byte of set-up (faults), then records of [length][bytes][time step].
#include "serial/telnet_parser.h"
#include "sim/board.h"
#include "sim/events.h"
#include "sim/faults.h"
#include "sim/line_stream.h"
#include "sim/rfc2217_server.h"
#include "tests/fuzz/fuzz_check.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const std::string FIRMWARE = "ZORVI DLK firmware fuzz";

// What the client's stream asks of the board, read with the shared parser.
struct ClientCounts {
    TelnetParser parser;
    size_t rts_on = 0;
    size_t commands = 0;
    size_t version_queries = 0;
    std::string command; // the command being typed ('\n' dropped, 64 characters kept)

    void feed(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            const TelnetItem item = telnet_feed(parser, data[i]);
            if (item.kind == TelnetItemKind::com_port && item.byte == telnet::CP_SET_CONTROL &&
                item.value_size == 1 && item.value[0] == telnet::CONTROL_RTS_ON) {
                ++rts_on;
            } else if (item.kind == TelnetItemKind::com_port &&
                       item.byte == telnet::CP_PURGE_DATA && item.value_size == 1 &&
                       (item.value[0] == telnet::PURGE_TRANSMIT ||
                        item.value[0] == telnet::PURGE_BOTH)) {
                // Purging what goes to the board drops a command half typed.
                command.clear();
            } else if (item.kind == TelnetItemKind::data) {
                data_byte(item.byte);
            }
        }
    }

    void data_byte(uint8_t byte) {
        if (byte == '\r') {
            if (!command.empty()) {
                ++commands;
                version_queries += command == "V" ? 1 : 0;
            }
            command.clear();
        } else if (byte != '\n' && command.size() < 64) {
            command += static_cast<char>(byte);
        }
    }
};

// What the server sent, read with a client's parser.
struct ServerCounts {
    TelnetParser parser;
    size_t data = 0;

    void feed(const TelnetBytes& wire, size_t from) {
        for (size_t i = from; i < wire.size(); ++i) {
            const TelnetItem item = telnet_feed(parser, wire[i]);
            if (item.kind == TelnetItemKind::data) {
                ++data;
            } else if (item.kind == TelnetItemKind::com_port) {
                check(item.byte >= 101 && item.byte <= 112);
            } else if (item.kind == TelnetItemKind::option) {
                check(item.byte >= telnet::WILL && item.byte <= telnet::DONT);
            }
        }
    }
};

size_t count_commands(const char* events, size_t size) {
    const std::string text(events, size);
    const std::string marker = "\"event\": \"command\"";
    size_t count = 0;
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        ++count;
    }
    return count;
}

void arm_faults(Faults& faults, uint8_t setup, uint8_t value) {
    std::string error;
    if (setup & 1) {
        fault_arm(faults, "noise", error);
    }
    if (setup & 2) {
        fault_arm(faults, "stall-at=" + std::to_string(value * 2), error);
    }
    if (setup & 4) {
        fault_arm(faults, "disconnect-at=" + std::to_string(value * 2 + 1), error);
    }
    if (setup & 8) {
        fault_arm(faults, "cts-stuck-after-data", error);
    }
    if (setup & 16) {
        fault_arm(faults, "slow-reply=" + std::to_string(value), error);
    }
    if (setup & 32) {
        fault_arm(faults, "no-data-ready", error);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint8_t setup = data[0];
    const uint8_t fault_value_byte = data[1];
    data += 2;
    size -= 2;

    char* event_text = nullptr;
    size_t event_size = 0;
    EventLog events;
    events.file = open_memstream(&event_text, &event_size);
    check(events.file != nullptr);

    Board board;
    board_init(board, FIRMWARE, 7);
    arm_faults(board.faults, setup, fault_value_byte);
    LineStream line;
    AdapterModel adapter;
    adapter_init(adapter, *adapter_find("ideal"), 7, 0);
    Rfc2217Session session;
    TelnetBytes wire;
    int64_t now_us = 1'000'000;
    session_start(session, line, wire);
    {
        BoardIo io{line, events, now_us};
        board_client_connected(board, io);
    }

    ClientCounts client;
    ServerCounts server;
    bool gone = false;
    size_t i = 0;
    while (i < size && !gone) {
        const size_t wanted = data[i];
        ++i;
        const size_t length = std::min(wanted, size - i);
        const uint8_t* chunk = data + i;
        i += length;
        const int64_t step_us = i < size ? int64_t(data[i++]) * 1000 : 0;

        client.feed(chunk, length);
        // The line to the board takes data at its own rate: what it cannot
        // take yet waits while time passes.
        for (size_t taken = 0; taken < length && !gone;) {
            BoardIo io{line, events, now_us};
            taken +=
                session_receive(session, chunk + taken, length - taken, board, adapter, io, wire);
            if (taken < length) {
                now_us += 1000;
                BoardIo later{line, events, now_us};
                board_tick(board, later);
                const size_t before = wire.size();
                gone = adapter_forward(adapter, line, now_us * 1000, wire);
                server.feed(wire, before);
            }
        }
        if (gone) {
            break;
        }

        now_us += step_us;
        BoardIo later{line, events, now_us};
        board_tick(board, later);
        const size_t before = wire.size();
        gone = adapter_forward(adapter, line, now_us * 1000, wire);
        server.feed(wire, before);
    }
    if (!gone) {
        // Let everything queued run out.
        now_us += 60'000'000;
        BoardIo io{line, events, now_us};
        board_tick(board, io);
        const size_t before = wire.size();
        adapter_forward(adapter, line, now_us * 1000, wire);
        server.feed(wire, before);
    }
    std::fflush(events.file);
    const size_t commands = count_commands(event_text, event_size);

    const size_t reply_bytes = FIRMWARE.size() + 2;
    if ((setup & 1) == 0) {
        check(server.data <= client.rts_on + client.version_queries * reply_bytes);
    }
    if (!gone) {
        check(commands == client.commands);
    } else {
        check(commands <= client.commands);
    }
    std::fclose(events.file);
    std::free(event_text);
    return 0;
}
