#include "serial/transport.h"

#include "platform/clock.h"
#include "platform/sleep.h"
#include "scripted_port.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr PortIndex PORT = 100;

class Transport : public ::testing::Test {
  protected:
    void SetUp() override {
        line = attach_scripted_port(PORT);
        ASSERT_NE(line, nullptr);
        link.port = PORT;
    }
    void TearDown() override { serial_close(PORT); }

    std::string queued() const {
        std::string text;
        for (int value : line->rx) {
            text.push_back(static_cast<char>(value));
        }
        return text;
    }

    std::shared_ptr<ScriptedLine> line;
    DeviceLink link;
};

TEST_F(Transport, ReadLineSkipsLeadingTerminatorsAndLeavesTheRestQueued) {
    line->queue_text("\r\nABC\r\n");
    char buffer[128];
    EXPECT_EQ(read_line(link, buffer, sizeof buffer, 1000), 3);
    EXPECT_STREQ(buffer, "ABC");
    EXPECT_EQ(queued(), "\n");

    // The leftover line feed is a leading terminator of the next line.
    line->queue_text("DE\r");
    EXPECT_EQ(read_line(link, buffer, sizeof buffer, 1000), 2);
    EXPECT_STREQ(buffer, "DE");
    EXPECT_TRUE(line->rx.empty());
}

TEST_F(Transport, ReadLineCutsALongLineAtSizeMinusOne) {
    const std::string long_line(200, 'x');
    line->queue_text(long_line + "\r");
    char buffer[128];
    EXPECT_EQ(read_line(link, buffer, sizeof buffer, 1000), 127);
    EXPECT_EQ(std::string(buffer), std::string(127, 'x'));
    EXPECT_EQ(queued(), std::string(73, 'x') + "\r");

    // The smallest buffer holds one character.
    line->rx.clear();
    line->queue_text("QR\n");
    char small[2];
    EXPECT_EQ(read_line(link, small, sizeof small, 1000), 1);
    EXPECT_STREQ(small, "Q");
}

TEST_F(Transport, ReadLineTimeOutReturnsWhatArrivedOrMinusOne) {
    struct Case {
        const char* received;
        int result;
        const char* text;
    };
    const Case cases[] = {{"AB", 2, "AB"}, {"", -1, ""}, {"\r\n", -1, ""}};
    for (const Case& c : cases) {
        line->rx.clear();
        line->queue_text(c.received);
        char buffer[16] = "junk";
        const int64_t started = monotonic_ms();
        EXPECT_EQ(read_line(link, buffer, sizeof buffer, 60), c.result) << c.received;
        EXPECT_GE(monotonic_ms() - started, 60) << c.received;
        EXPECT_STREQ(buffer, c.text) << c.received;
    }
}

TEST_F(Transport, ReadLineTestsTheTimeOnlyWhenTheQueueIsEmpty) {
    // Reading the waiting line takes 22 ms, far past the 5 ms time-out: the
    // time-out counts only once the queue has been found empty.
    line->queue_text("0123456789\rX");
    line->get_byte_delay_ms = 2;
    char buffer[32];
    EXPECT_EQ(read_line(link, buffer, sizeof buffer, 5), 10);
    EXPECT_STREQ(buffer, "0123456789");
    EXPECT_EQ(queued(), "X");
}

TEST_F(Transport, TimeOutZeroNeverLooksAtTheQueue) {
    line->queue_text("A\r");
    char buffer[16] = "junk";
    EXPECT_EQ(read_line(link, buffer, sizeof buffer, 0), -1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(read_byte(link, 0), -1);
    EXPECT_EQ(line->rx_count_calls, 0);
    EXPECT_EQ(line->get_byte_calls, 0);
    EXPECT_EQ(line->rx.size(), 2U);
}

TEST_F(Transport, ErrorResultsOfTheServiceAreNeverTakenAsBytes) {
    // read_line: an error result counts as an empty queue.
    line->rx = {'A', -103, 'B', '\r'};
    char buffer[16];
    EXPECT_EQ(read_line(link, buffer, sizeof buffer, 1000), 2);
    EXPECT_STREQ(buffer, "AB");

    // read_byte: polls on past an error result to the next byte...
    line->rx = {-103, -100, 0x41};
    EXPECT_EQ(read_byte(link, 1000), 0x41);

    // ...and times out when only errors come.
    line->rx = {-103};
    EXPECT_EQ(read_byte(link, 30), -1);
    line->rx = {-103, -103};
    EXPECT_EQ(read_line(link, buffer, sizeof buffer, 30), -1);
    EXPECT_STREQ(buffer, "");
}

TEST_F(Transport, ReadByteReturnsEveryByteValue) {
    line->rx = {0x00, 0x0A, 0x0D, 0xFF};
    EXPECT_EQ(read_byte(link, 500), 0x00);
    EXPECT_EQ(read_byte(link, 500), 0x0A);
    EXPECT_EQ(read_byte(link, 500), 0x0D);
    EXPECT_EQ(read_byte(link, 500), 0xFF);
    EXPECT_EQ(read_byte(link, 20), -1);
}

TEST_F(Transport, ReadByteTakesALateByteSoonAfterItArrivesAndSleepsMeanwhile) {
    // Caught while polling; after one blocking wait; after several waits of at
    // most 10 ms each. The delay is counted from the moment the port had the
    // byte: a loaded machine may wake the port's own sleep late. The sleeping
    // share is a bound with room for a test thread held up by the machine.
    const struct {
        int64_t after_us;
        int min_waits;
        int64_t min_asleep_us;
    } cases[] = {{100, 0, 0}, {5000, 0, 0}, {25000, 2, 12000}, {50000, 4, 30000}};
    for (const auto& c : cases) {
        line->wait_rx_calls = 0;
        line->wait_rx_asleep_us = 0;
        const int64_t arrival_us = monotonic_us() + c.after_us;
        line->arrivals = {{arrival_us, 0x5A}};
        EXPECT_EQ(read_byte(link, 500), 0x5A) << c.after_us;
        const int64_t taken_us = monotonic_us();
        EXPECT_GE(line->arrival_seen_us, arrival_us) << c.after_us;
        EXPECT_LT(taken_us - line->arrival_seen_us, 1000) << c.after_us;
        EXPECT_GE(line->wait_rx_calls, c.min_waits) << c.after_us;
        EXPECT_GE(line->wait_rx_asleep_us, c.min_asleep_us) << c.after_us << " us: spun, not slept";
    }
}

TEST_F(Transport, ReadByteTimesOutAsleepAfterTheWholeTime) {
    for (uint16_t timeout_ms : {1, 12, 30}) {
        line->wait_rx_asleep_us = 0;
        line->arrivals = {{monotonic_us() + 1000000, 0x5A}}; // far too late
        const int64_t started = monotonic_us();
        EXPECT_EQ(read_byte(link, timeout_ms), -1) << timeout_ms;
        const int64_t took_us = monotonic_us() - started;
        EXPECT_GE(took_us, timeout_ms * 1000) << timeout_ms;
        EXPECT_LT(took_us, timeout_ms * 1000 + 500000) << timeout_ms;
        EXPECT_GE(stopwatch(link, 1), timeout_ms) << timeout_ms;
        // Mostly asleep; a 1 ms wait may be over before its spin ends when the
        // machine holds the thread up, so only the longer ones are measured.
        if (timeout_ms >= 12) {
            EXPECT_GE(line->wait_rx_asleep_us, timeout_ms * 1000 / 2) << timeout_ms;
        }
        EXPECT_EQ(line->rx.size(), 0U) << timeout_ms;
    }
}

TEST_F(Transport, ErrorResultsDuringTheByteWaitAreNoData) {
    // Of the wait itself, then of the queue, before the byte.
    line->wait_rx_results = {-103, -3};
    line->arrivals = {{monotonic_us() + 30000, -103}, {monotonic_us() + 100000, 0x44}};
    EXPECT_EQ(read_byte(link, 500), 0x44);
    EXPECT_TRUE(line->wait_rx_results.empty());

    // Only errors: the time-out.
    line->wait_rx_results = {-103, -103, -103};
    line->arrivals = {{monotonic_us() + 2000, -100}};
    const int64_t started = monotonic_ms();
    EXPECT_EQ(read_byte(link, 20), -1);
    EXPECT_GE(monotonic_ms() - started, 20);
}

TEST_F(Transport, SendCommandPutsACarriageReturnBeforeEachLineFeed) {
    EXPECT_EQ(send_command(link, "L1\r"), 1);
    EXPECT_EQ(line->tx, "L1\r");
    line->tx.clear();
    EXPECT_EQ(send_command(link, "a\nb"), 1);
    EXPECT_EQ(line->tx, "a\r\nb");
}

TEST_F(Transport, SendCommandWaitsUntilTheTransmitQueueIsEmpty) {
    line->tx_pending_per_byte = 5;
    EXPECT_EQ(send_command(link, "V\r"), 1);
    EXPECT_EQ(line->tx_pending, 0);
    EXPECT_EQ(line->tx_count_calls, 11); // counts 10 down to 1, then the 0
}

TEST_F(Transport, SendCommandWaitEndsOnAnErrorResult) {
    line->tx_stuck = true;
    line->tx_stuck_result = -103;
    EXPECT_EQ(send_command(link, "V\r"), 1);
    EXPECT_EQ(line->tx_count_calls, 1);
}

TEST_F(Transport, SendCommandWaitIsBoundedWhenTheQueueNeverEmpties) {
    line->tx_stuck = true;
    line->tx_stuck_result = 7;
    const int64_t started = monotonic_ms();
    EXPECT_EQ(send_command(link, "V\r"), 1);
    const int64_t took = monotonic_ms() - started;
    // Two bytes at 300 baud take about 67 ms; the bound adds a margin to that.
    EXPECT_GE(took, 67);
    EXPECT_LT(took, 10000);
    EXPECT_GT(line->tx_count_calls, 1);
}

TEST_F(Transport, StopwatchSharesItsStartWithTheReads) {
    EXPECT_EQ(stopwatch(link, 0), 0);
    sleep_ms(30);
    EXPECT_GE(stopwatch(link, 1), 30);
    EXPECT_GE(stopwatch(link, -7), 30); // any non-zero mode reads

    // A read sets the start instant anew: the reading counts from its start.
    stopwatch(link, 0);
    sleep_ms(300);
    EXPECT_EQ(read_byte(link, 10), -1);
    const int32_t since_read = stopwatch(link, 1);
    EXPECT_GE(since_read, 10);
    EXPECT_LT(since_read, 300);
}

TEST_F(Transport, MicroDelayWaitsAtLeastTheGivenTime) {
    for (int64_t microseconds : {1, 50, 2000}) {
        const int64_t started = monotonic_us();
        micro_delay(microseconds);
        EXPECT_GE(monotonic_us() - started, microseconds);
    }
    micro_delay(0);
    micro_delay(-5); // nothing to wait for
}

} // namespace
