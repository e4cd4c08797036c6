// The simulator's adapter models on a clock of the test's own: when an RTS
// change reaches the board, when a byte reaches the host, how CTS is reported.
#include "sim/adapter_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr int64_t US = 1000;
constexpr int64_t MS = 1000 * US;
constexpr int64_t CHAR_NS = 86'805; // one character at 115200 baud

// `origin_ns`: where the test's clock has the simulator's start.
AdapterModel make(const std::string& name, uint64_t seed = 1, int64_t origin_ns = 0) {
    const AdapterParams* params = adapter_find(name);
    EXPECT_NE(params, nullptr) << name;
    AdapterModel model;
    adapter_init(model, *params, seed, origin_ns);
    return model;
}

// The moment the first item reaches the host, following the model's own
// deadlines up to `limit_ns`; none when nothing does.
Deadline first_hand_over(AdapterModel& model, int64_t limit_ns,
                         std::vector<HostItem>* items = nullptr) {
    for (Deadline t = adapter_next_due_ns(model); t && *t <= limit_ns;
         t = adapter_next_due_ns(model)) {
        std::vector<HostItem> out;
        adapter_emit_due(model, *t, out);
        if (!out.empty()) {
            if (items != nullptr) {
                *items = out;
            }
            return t;
        }
    }
    return std::nullopt;
}

// When the RTS change made at `now_ns` reaches the board.
int64_t rts_arrival(AdapterModel& model, bool on, int64_t now_ns) {
    if (adapter_set_rts(model, on, now_ns)) {
        return now_ns;
    }
    const int64_t due = adapter_next_due_ns(model).value_or(now_ns - 1);
    bool level = !on;
    EXPECT_FALSE(adapter_take_rts(model, due - 1, level));
    EXPECT_TRUE(adapter_take_rts(model, due, level));
    EXPECT_EQ(level, on);
    return due;
}

struct ModelTiming {
    const char* name;
    int64_t rts_ns;      // an RTS change reaches the board after this
    int64_t byte_at_ns;  // a lone byte reaches the adapter then
    int64_t handed_ns;   // and the host then (NEVER)
    int64_t cts_at_ns;   // CTS rises at the adapter then
    int64_t cts_seen_ns; // and the host is told then (NEVER, NEXT_SAMPLE)
};

constexpr int64_t NEVER = INT64_MIN;
constexpr int64_t NEXT_SAMPLE = INT64_MAX; // the sampling timer's first tick after the change

// Each model's rules for a lone byte and a lasting CTS change.
const ModelTiming TIMINGS[] = {
    {"ideal", 0, 5 * MS, 5 * MS, 5 * MS, 5 * MS},
    // The FIFO's time-out: 4 character times after the byte.
    {"16550", 0, 5 * MS, 5 * MS + 4 * CHAR_NS, 5 * MS, 5 * MS},
    // The latency timer ticks every 16 ms; a byte at a tick waits for the next.
    {"ftdi", 500 * US, 5 * MS, 16 * MS, 5 * MS, 5500 * US},
    {"ftdi", 500 * US, 16 * MS, 32 * MS, 5 * MS, 5500 * US},
    {"ftdi-low-latency", 500 * US, 5300 * US, 6 * MS, 5 * MS, 5500 * US},
    {"cp210x", 500 * US, 5 * MS, 5500 * US, 5 * MS, 5500 * US},
    // CTS from the interrupt endpoint, polled every millisecond.
    {"ch340", 500 * US, 5 * MS, 5250 * US, 5300 * US, 6 * MS},
    {"ch340-chunked", 500 * US, 5 * MS, NEVER, 5300 * US, 6 * MS},
    {"cdc-acm", 500 * US, 5 * MS, 5250 * US, 5 * MS, NEVER},
    // A lone byte goes after 1 ms of quiet; CTS at the timer's next tick.
    {"ser2net", 2 * MS, 5 * MS, 6 * MS, 5 * MS, NEXT_SAMPLE},
};

// A table time on a clock that has the simulator's start at `origin`.
Deadline shifted(int64_t at, int64_t origin) {
    return at == NEVER ? std::nullopt : Deadline{at + origin};
}

TEST(AdapterModel, EachModelHandsOverALoneByteAndReportsCtsAtItsOwnTime) {
    // The same on any clock: one that starts at 0 with the simulator, one
    // whose every time is negative, one that passes 0 meanwhile.
    for (const int64_t origin : {int64_t{0}, -10'000 * MS, -5 * MS}) {
        for (const ModelTiming& timing : TIMINGS) {
            SCOPED_TRACE(std::string(timing.name) + " from " + std::to_string(origin));
            AdapterModel model = make(timing.name, 1, origin);
            EXPECT_EQ(rts_arrival(model, true, 1 * MS + origin), 1 * MS + timing.rts_ns + origin);

            const int64_t byte_at = timing.byte_at_ns + origin;
            adapter_board_byte(model, 0x5A, byte_at, CHAR_NS);
            std::vector<HostItem> items;
            const Deadline handed = first_hand_over(model, byte_at + 100 * MS, &items);
            EXPECT_EQ(handed, shifted(timing.handed_ns, origin));
            if (handed) {
                ASSERT_EQ(items.size(), 1U);
                EXPECT_FALSE(items[0].is_cts);
                EXPECT_EQ(items[0].value, 0x5A);
            }

            AdapterModel cts_model = make(timing.name, 1, origin);
            const bool idle_cts = cts_model.host_cts;
            adapter_board_cts(cts_model, true, timing.cts_at_ns + origin);
            Deadline expected = shifted(timing.cts_seen_ns, origin);
            if (timing.cts_seen_ns == NEXT_SAMPLE) {
                expected = cts_model.phase_ns;
                while (*expected < timing.cts_at_ns) {
                    *expected += 1000 * MS;
                }
                *expected += origin;
            }
            const Deadline seen =
                first_hand_over(cts_model, timing.cts_at_ns + origin + 1100 * MS, &items);
            EXPECT_EQ(seen, expected);
            EXPECT_EQ(cts_model.host_cts, expected ? true : idle_cts);
        }
    }
}

TEST(AdapterModel, RtsChangesTravelOneAfterAnother) {
    // Clear and set a microsecond apart, as between two byte requests: the
    // set waits for the clear's transfer, so the board still sees both.
    AdapterModel model = make("cp210x");
    EXPECT_FALSE(adapter_set_rts(model, false, 10 * MS));
    EXPECT_FALSE(adapter_set_rts(model, true, 10 * MS + US));
    // What the simulator's back-pressure sees: two changes held, the last
    // one reaching the board 1 ms after the first was made.
    EXPECT_EQ(adapter_held_items(model), 2U);
    EXPECT_EQ(adapter_rts_backlog_ns(model, 10 * MS), 1 * MS);
    EXPECT_EQ(adapter_rts_backlog_ns(model, 12 * MS), 0);
    bool on = true;
    EXPECT_FALSE(adapter_take_rts(model, 10 * MS + 499 * US, on));
    ASSERT_TRUE(adapter_take_rts(model, 10500 * US, on));
    EXPECT_FALSE(on);
    EXPECT_FALSE(adapter_take_rts(model, 10999 * US, on));
    ASSERT_TRUE(adapter_take_rts(model, 11 * MS, on));
    EXPECT_TRUE(on);
    EXPECT_EQ(adapter_held_items(model), 0U);
    EXPECT_EQ(adapter_rts_backlog_ns(model, 11 * MS), 0);
}

TEST(AdapterModel, HeldBytesGoTogetherWhenAPacketOrChunkIsFull) {
    struct Case {
        const char* name;
        size_t full;
    };
    for (const Case& c : {Case{"16550", 8}, Case{"ftdi", 62}, Case{"ch340-chunked", 32}}) {
        SCOPED_TRACE(c.name);
        AdapterModel model = make(c.name);
        std::vector<HostItem> out;
        int64_t t = 100 * US;
        for (size_t i = 0; i + 1 < c.full; ++i, t += CHAR_NS) {
            adapter_board_byte(model, static_cast<uint8_t>(i), t, CHAR_NS);
        }
        adapter_emit_due(model, t - CHAR_NS, out);
        EXPECT_TRUE(out.empty());
        adapter_board_byte(model, 0xEE, t, CHAR_NS);
        adapter_emit_due(model, t, out);
        ASSERT_EQ(out.size(), c.full);
        EXPECT_EQ(out.front().value, 0);
        EXPECT_EQ(out.back().value, 0xEE);
    }
}

TEST(AdapterModel, AQuietTimeRestartsWithEachByte) {
    // ser2net's send delay: a steady stream goes once it pauses for 1 ms.
    AdapterModel model = make("ser2net");
    for (int i = 0; i < 5; ++i) {
        adapter_board_byte(model, static_cast<uint8_t>(i), i * 600 * US, CHAR_NS);
    }
    std::vector<HostItem> out;
    adapter_emit_due(model, 3400 * US - 1, out);
    EXPECT_TRUE(out.empty());
    adapter_emit_due(model, 3400 * US, out);
    EXPECT_EQ(out.size(), 5U);
}

TEST(AdapterModel, ASampledPulseBetweenTwoTicksIsNeverReported) {
    AdapterModel model = make("ser2net", 3);
    const int64_t tick = model.phase_ns + 1000 * MS;
    std::vector<HostItem> out;
    // A 112 ms scan between two ticks: nothing, even when looked at late.
    adapter_board_cts(model, true, tick + 100 * MS);
    adapter_board_cts(model, false, tick + 212 * MS);
    adapter_emit_due(model, tick + 3000 * MS, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(adapter_next_due_ns(model), std::nullopt);
    // One that spans a tick: asserted at that tick, released at the next one,
    // even when the loop only looks after the release.
    adapter_board_cts(model, true, tick + 3950 * MS);
    adapter_board_cts(model, false, tick + 4062 * MS);
    adapter_emit_due(model, tick + 4500 * MS, out);
    ASSERT_EQ(out.size(), 1U);
    EXPECT_EQ(out[0].due_ns, tick + 4000 * MS);
    EXPECT_TRUE(model.host_cts);
    EXPECT_EQ(adapter_next_due_ns(model), tick + 5000 * MS);
    adapter_emit_due(model, tick + 5000 * MS, out);
    ASSERT_EQ(out.size(), 2U);
    EXPECT_FALSE(model.host_cts);
}

TEST(AdapterModel, TheSeedFixesTheSamplingPhase) {
    EXPECT_EQ(make("ser2net", 3).phase_ns, make("ser2net", 3).phase_ns);
    EXPECT_NE(make("ser2net", 3).phase_ns, make("ser2net", 4).phase_ns);
    for (uint64_t seed : {0ULL, 1ULL, ~0ULL}) {
        const int64_t phase = make("ser2net", seed).phase_ns;
        EXPECT_GE(phase, 0);
        EXPECT_LT(phase, 1000 * MS);
    }
    EXPECT_EQ(make("ftdi", 3).phase_ns, 0);
}

TEST(AdapterModel, APurgeDropsHeldBytesButKeepsCtsReports) {
    AdapterModel model = make("ftdi");
    adapter_board_byte(model, 1, 1 * MS, CHAR_NS);
    adapter_board_cts(model, true, 2 * MS);
    adapter_purge(model);
    std::vector<HostItem> out;
    adapter_emit_due(model, 40 * MS, out);
    ASSERT_EQ(out.size(), 1U);
    EXPECT_TRUE(out[0].is_cts);
}

TEST(AdapterModel, IdealKeepsTheLineOrderAndTheNamesAreKnown) {
    // The release after the last byte stays behind it, as on the line.
    AdapterModel model = make("ideal");
    adapter_board_byte(model, 7, 1 * MS, CHAR_NS);
    adapter_board_cts(model, false, 1 * MS);
    adapter_board_cts(model, true, 1 * MS);
    adapter_board_byte(model, 8, 1 * MS, CHAR_NS);
    std::vector<HostItem> out;
    adapter_emit_due(model, 1 * MS, out);
    ASSERT_EQ(out.size(), 3U); // the release was never asserted before
    EXPECT_EQ(out[0].value, 7);
    EXPECT_TRUE(out[1].is_cts);
    EXPECT_EQ(out[2].value, 8);
    EXPECT_EQ(adapter_find("ftdi-low"), nullptr);
    EXPECT_EQ(adapter_names().find("ch340-chunked") != std::string::npos, true);
}

} // namespace
