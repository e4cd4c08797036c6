#include "sim/adapter_model.h"

#include <algorithm>

namespace {

constexpr int64_t US = 1000;
constexpr int64_t MS = 1000 * US;
// One synchronous USB control transfer at full speed (0.25-1 ms, est.).
constexpr int64_t CONTROL_TRANSFER = 500 * US;

// Estimates, from the drivers' mechanisms (the README's hardware guide lists
// where each comes from).
const std::vector<AdapterParams> PARAMS_TABLE = {
    {"ideal", "RTS and CTS at once, every byte handed over as its stop bit ends", 0,
     HandOver::at_once, 0, 0, 0, CtsReport::live, 0, false},
    {"16550", "built-in UART: a lone byte waits out the FIFO's time-out of 4 characters", 0,
     HandOver::quiet_time, 0, 4, 8, CtsReport::live, 0, false},
    {"ftdi", "FTDI, latency timer 16 ms: bytes wait for the timer's tick", CONTROL_TRANSFER,
     HandOver::timer_tick, 16 * MS, 0, 62, CtsReport::live, CONTROL_TRANSFER, false},
    {"ftdi-low-latency", "FTDI with the low-latency flag: latency timer 1 ms", CONTROL_TRANSFER,
     HandOver::timer_tick, 1 * MS, 0, 62, CtsReport::live, CONTROL_TRANSFER, false},
    {"cp210x", "CP210x: bytes wait for the chip's receive time-out (0.5 ms)", CONTROL_TRANSFER,
     HandOver::quiet_time, 500 * US, 0, 64, CtsReport::live, CONTROL_TRANSFER, false},
    {"ch340", "CH340/CH341 unbuffered; CTS from the interrupt endpoint, polled every 1 ms",
     CONTROL_TRANSFER, HandOver::at_once, 250 * US, 0, 0, CtsReport::polled, 1 * MS, false},
    {"ch340-chunked", "CH340 that hands data over in chunks of 32 bytes only", CONTROL_TRANSFER,
     HandOver::full_chunk, 0, 0, 32, CtsReport::polled, 1 * MS, false},
    {"cdc-acm", "CDC-ACM: CTS always reads as asserted", CONTROL_TRANSFER, HandOver::at_once,
     250 * US, 0, 0, CtsReport::always_asserted, 0, false},
    {"ser2net", "RFC 2217 server: modem lines sampled once a second, 1 ms send delay", 2 * MS,
     HandOver::quiet_time, 1 * MS, 0, 0, CtsReport::sampled, 1000 * MS, true},
};

uint64_t mix(uint64_t x) {
    // splitmix64: a seed's bits spread over the whole word.
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// The first tick at or after `t` (strictly after when `strict`) of a timer
// ticking at origin + phase + k * period.
int64_t next_tick(int64_t t, int64_t origin, int64_t phase, int64_t period, bool strict) {
    const int64_t base = origin + phase;
    if (period <= 0) {
        return t;
    }
    if (t < base) {
        return base;
    }
    int64_t tick = base + (t - base) / period * period;
    if (tick < t || (strict && tick == t)) {
        tick += period;
    }
    return tick;
}

void insert_due(std::deque<HostItem>& outbox, const HostItem& item) {
    const auto at =
        std::upper_bound(outbox.begin(), outbox.end(), item.due_ns,
                         [](int64_t due, const HostItem& other) { return due < other.due_ns; });
    outbox.insert(at, item);
}

// When the held bytes go to the host; none while they wait for more.
Deadline held_release_ns(const AdapterModel& model) {
    if (model.held.empty()) {
        return std::nullopt;
    }
    const AdapterParams& params = *model.params;
    switch (params.hand_over) {
    case HandOver::timer_tick:
        return next_tick(model.held_first_ns, model.origin_ns, 0, params.hand_over_ns, true);
    case HandOver::quiet_time:
        return model.held_last_ns + (params.quiet_char_times > 0
                                         ? params.quiet_char_times * model.char_ns
                                         : params.hand_over_ns);
    case HandOver::at_once:
    case HandOver::full_chunk:
        break;
    }
    return std::nullopt;
}

void release_held(AdapterModel& model, int64_t due_ns) {
    for (const uint8_t byte : model.held) {
        insert_due(model.outbox, HostItem{false, byte, due_ns});
    }
    model.held.clear();
}

void release_held_by(AdapterModel& model, int64_t now_ns) {
    const Deadline release = held_release_ns(model);
    if (release && *release <= now_ns) {
        release_held(model, *release);
    }
}

// The sampled timer's tick that sees the board's state, if it is due by `now_ns`.
void take_sample_by(AdapterModel& model, int64_t now_ns) {
    if (model.next_sample_ns && *model.next_sample_ns <= now_ns) {
        insert_due(model.outbox, HostItem{true, model.board_cts ? uint8_t{1} : uint8_t{0},
                                          *model.next_sample_ns});
        model.next_sample_ns.reset();
    }
}

} // namespace

const std::vector<AdapterParams>& adapter_params_table() {
    return PARAMS_TABLE;
}

const AdapterParams* adapter_find(const std::string& name) {
    for (const AdapterParams& params : PARAMS_TABLE) {
        if (name == params.name) {
            return &params;
        }
    }
    return nullptr;
}

std::string adapter_names() {
    std::string names;
    for (const AdapterParams& params : PARAMS_TABLE) {
        names += names.empty() ? "" : ", ";
        names += params.name;
    }
    return names;
}

void adapter_init(AdapterModel& model, const AdapterParams& params, uint64_t seed,
                  int64_t origin_ns) {
    model = AdapterModel{};
    model.params = &params;
    model.origin_ns = origin_ns;
    if (params.seeded_phase && params.cts_ns > 0) {
        model.phase_ns = static_cast<int64_t>(mix(seed) % static_cast<uint64_t>(params.cts_ns));
    }
    adapter_reset(model);
}

void adapter_reset(AdapterModel& model) {
    model.rts_queue.clear();
    model.held.clear();
    model.outbox.clear();
    model.board_cts = false;
    model.next_sample_ns.reset();
    model.host_cts = model.params->cts == CtsReport::always_asserted;
}

bool adapter_set_rts(AdapterModel& model, bool on, int64_t now_ns) {
    if (model.params->rts_ns == 0 && model.rts_queue.empty()) {
        return true;
    }
    // One control transfer after the other: a change waits for the one before.
    const int64_t start =
        model.rts_queue.empty() ? now_ns : std::max(now_ns, model.rts_queue.back().due_ns);
    const int64_t due = start + model.params->rts_ns;
    model.rts_queue.push_back(RtsChange{on, due});
    return false;
}

bool adapter_take_rts(AdapterModel& model, int64_t now_ns, bool& on) {
    if (model.rts_queue.empty() || model.rts_queue.front().due_ns > now_ns) {
        return false;
    }
    on = model.rts_queue.front().on;
    model.rts_queue.pop_front();
    return true;
}

int64_t adapter_rts_backlog_ns(const AdapterModel& model, int64_t now_ns) {
    return model.rts_queue.empty() ? 0
                                   : std::max<int64_t>(0, model.rts_queue.back().due_ns - now_ns);
}

size_t adapter_held_items(const AdapterModel& model) {
    return model.rts_queue.size() + model.held.size() + model.outbox.size();
}

void adapter_board_byte(AdapterModel& model, uint8_t byte, int64_t at_ns, int64_t char_ns) {
    const AdapterParams& params = *model.params;
    release_held_by(model, at_ns);
    if (params.hand_over == HandOver::at_once) {
        insert_due(model.outbox, HostItem{false, byte, at_ns + params.hand_over_ns});
        return;
    }
    if (model.held.empty()) {
        model.held_first_ns = at_ns;
    }
    model.held.push_back(byte);
    model.held_last_ns = at_ns;
    model.char_ns = char_ns;
    if (params.packet_bytes > 0 && model.held.size() >= params.packet_bytes) {
        release_held(model, at_ns);
    }
}

void adapter_board_cts(AdapterModel& model, bool on, int64_t at_ns) {
    const AdapterParams& params = *model.params;
    const uint8_t value = on ? 1 : 0;
    switch (params.cts) {
    case CtsReport::live:
        model.board_cts = on;
        insert_due(model.outbox, HostItem{true, value, at_ns + params.cts_ns});
        break;
    case CtsReport::polled:
        model.board_cts = on;
        insert_due(
            model.outbox,
            HostItem{true, value, next_tick(at_ns, model.origin_ns, 0, params.cts_ns, false)});
        break;
    case CtsReport::sampled: {
        // A tick before this change saw the state before it.
        take_sample_by(model, at_ns - 1);
        // What the last tick saw: the host's state once everything queued is told.
        bool seen = model.host_cts;
        for (const HostItem& item : model.outbox) {
            if (item.is_cts) {
                seen = item.value != 0;
            }
        }
        model.board_cts = on;
        model.next_sample_ns =
            on != seen
                ? Deadline{next_tick(at_ns, model.origin_ns, model.phase_ns, params.cts_ns, false)}
                : std::nullopt;
        break;
    }
    case CtsReport::always_asserted:
        model.board_cts = on;
        break;
    }
}

void adapter_purge(AdapterModel& model) {
    model.held.clear();
    std::erase_if(model.outbox, [](const HostItem& item) { return !item.is_cts; });
}

void adapter_emit_due(AdapterModel& model, int64_t now_ns, std::vector<HostItem>& out) {
    release_held_by(model, now_ns);
    take_sample_by(model, now_ns);
    while (!model.outbox.empty() && model.outbox.front().due_ns <= now_ns) {
        const HostItem item = model.outbox.front();
        model.outbox.pop_front();
        if (item.is_cts) {
            const bool on = item.value != 0;
            if (on == model.host_cts) {
                continue;
            }
            model.host_cts = on;
        }
        out.push_back(item);
    }
}

Deadline adapter_next_due_ns(const AdapterModel& model) {
    Deadline next = earliest(held_release_ns(model), model.next_sample_ns);
    if (!model.rts_queue.empty()) {
        next = earliest(next, model.rts_queue.front().due_ns);
    }
    if (!model.outbox.empty()) {
        next = earliest(next, model.outbox.front().due_ns);
    }
    return next;
}

bool adapter_forward(AdapterModel& model, LineStream& line, int64_t now_ns, TelnetBytes& wire) {
    std::vector<LineArrival> arrivals;
    const bool gone = line_emit_due(line, now_ns, arrivals);
    for (const LineArrival& arrival : arrivals) {
        if (arrival.is_cts) {
            adapter_board_cts(model, arrival.value != 0, arrival.at_ns);
        } else {
            adapter_board_byte(model, arrival.value, arrival.at_ns, line.byte_time_ns);
        }
    }
    std::vector<HostItem> items;
    adapter_emit_due(model, now_ns, items);
    for (const HostItem& item : items) {
        if (!item.is_cts) {
            telnet_append_data(wire, &item.value, 1);
            continue;
        }
        // Like a real access server: the state is masked, and a masked state
        // of 0 is not reported.
        const uint8_t state = line_modem_state(item.value != 0, true) & line.modem_mask;
        if (state != 0) {
            telnet_append_com_port(wire, telnet::CP_NOTIFY_MODEMSTATE + telnet::SERVER_OFFSET,
                                   &state, 1);
        }
    }
    return gone;
}
