// The serial adapter between the board and the host, as the host's driver
// sees it: how long an RTS change takes to reach the board, when received
// bytes are handed over to the host, and how CTS changes are reported. A pure
// timing model: every call takes the time it happens at (nanoseconds on the
// simulator's clock), so tests drive it on a clock of their own.
//
// The figures of each model are estimates read from the Linux drivers and
// published measurements, not measured on hardware (see the README's hardware
// guide).
#pragma once

#include "serial/telnet_parser.h"
#include "sim/deadline.h"
#include "sim/line_stream.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// When bytes that reached the adapter are handed over to the host.
enum class HandOver : uint8_t {
    at_once,    // each byte after a fixed delay
    timer_tick, // on the next tick of a free-running timer (a latency timer)
    quiet_time, // once the line has been quiet for a while (a receive time-out)
    full_chunk, // only once a chunk is full
};

// How a CTS change reaches the host.
enum class CtsReport : uint8_t {
    live,            // after a fixed delay (the modem-status read)
    polled,          // on the next tick of an interrupt endpoint's polling
    sampled,         // the state at each tick of a slow timer; a change between two ticks that
                     // is undone before the next one is never seen
    always_asserted, // CTS reads as asserted whatever the board does
};

struct AdapterParams {
    const char* name;
    const char* summary;
    int64_t rts_ns; // one RTS change; changes travel one after another
    HandOver hand_over;
    int64_t hand_over_ns;     // at_once: the delay; timer_tick: the period; quiet_time: the quiet
    int64_t quiet_char_times; // quiet_time in character times instead (0: hand_over_ns applies)
    size_t packet_bytes;      // this many held bytes go at once (0: no such limit)
    CtsReport cts;
    int64_t cts_ns;    // live: the delay; polled and sampled: the period
    bool seeded_phase; // the sampled timer's phase comes from the seed
};

// The models by name; nullptr for an unknown name.
const AdapterParams* adapter_find(const std::string& name);
// Every model name, separated by ", ".
std::string adapter_names();
const std::vector<AdapterParams>& adapter_params_table();

// What reaches the host: a data byte or a CTS change.
struct HostItem {
    bool is_cts = false;
    uint8_t value = 0; // a data byte, or 1/0 for CTS asserted/released
    int64_t due_ns = 0;
};

// An RTS change on its way from the host to the board.
struct RtsChange {
    bool on = false;
    int64_t due_ns = 0;
};

struct AdapterModel {
    const AdapterParams* params = nullptr;
    int64_t origin_ns = 0; // the periodic timers tick at origin + phase + k * period
    int64_t phase_ns = 0;

    // Host to board: RTS changes on their way.
    std::deque<RtsChange> rts_queue; // in due order: the last one frees the control path

    // Board to host: bytes held by the adapter, and what is due at the host.
    std::deque<uint8_t> held;
    int64_t held_first_ns = 0;
    int64_t held_last_ns = 0;
    int64_t char_ns = 0;
    std::deque<HostItem> outbox; // in due order

    bool board_cts = false;
    int64_t board_cts_ns = 0;
    Deadline next_sample_ns; // sampled: the tick that will see the board's new state
    bool host_cts = false;   // what the host has been told
};

// A model for the simulator's run: `origin_ns` is the simulator's start,
// `seed` fixes a seeded timer's phase.
void adapter_init(AdapterModel& model, const AdapterParams& params, uint64_t seed,
                  int64_t origin_ns);
// A new client: nothing held, nothing on its way, CTS as the model reports it idle.
void adapter_reset(AdapterModel& model);

// The host changes RTS at `now_ns`. True when the change reaches the board at
// once; otherwise it is queued and adapter_take_rts hands it over when due.
bool adapter_set_rts(AdapterModel& model, bool on, int64_t now_ns);
// Takes the next RTS change due by `now_ns`; false when none is.
bool adapter_take_rts(AdapterModel& model, int64_t now_ns, bool& on);
// How long after `now_ns` the last RTS change on its way reaches the board; 0
// when none is on its way.
int64_t adapter_rts_backlog_ns(const AdapterModel& model, int64_t now_ns);
// Items the adapter holds: RTS changes on their way, bytes it keeps, what
// waits to reach the host.
size_t adapter_held_items(const AdapterModel& model);

// A byte from the board reached the adapter at `at_ns`; `char_ns` is one
// character time at the line's rate.
void adapter_board_byte(AdapterModel& model, uint8_t byte, int64_t at_ns, int64_t char_ns);
// The board's CTS changed at `at_ns`.
void adapter_board_cts(AdapterModel& model, bool on, int64_t at_ns);
// The host purged its receive side: held bytes and bytes on their way are gone.
void adapter_purge(AdapterModel& model);

// Moves every item due by `now_ns` to `out`; a CTS item only when it changes
// what the host was told.
void adapter_emit_due(AdapterModel& model, int64_t now_ns, std::vector<HostItem>& out);
// The next moment something is due; none when nothing is.
Deadline adapter_next_due_ns(const AdapterModel& model);

// One step of the board-to-host path: what the line delivers by `now_ns`
// goes through the adapter, and what is due at the host is written to `wire`
// (escaped data; CTS changes as NOTIFY-MODEMSTATE under the line's mask).
// True when the line reached a connection drop.
bool adapter_forward(AdapterModel& model, LineStream& line, int64_t now_ns, TelnetBytes& wire);
