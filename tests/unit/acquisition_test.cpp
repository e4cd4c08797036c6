#include "app/collect_spectra.h"

#include "captured_file.h"
#include "instrument/scan_settings.h"
#include "scripted_port.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr PortIndex PORT = 101;
constexpr uint16_t UNTOUCHED = 0xBEEF;

// The bytes a board sends for one scan: high byte first, the first pixel sent
// lands at position 255. Pixel position p gets the value seed * 1000 + p,
// except that the first pixel sent is 0x1234.
std::vector<int> transfer_for(int seed) {
    std::vector<int> bytes;
    for (int position = PIXELS_PER_SCAN - 1; position >= 0; --position) {
        const int value = position == PIXELS_PER_SCAN - 1 ? 0x1234 : seed * 1000 + position;
        bytes.push_back(value >> 8);
        bytes.push_back(value & 0xFF);
    }
    return bytes;
}

uint16_t expected_value(int seed, int position) {
    return static_cast<uint16_t>(position == PIXELS_PER_SCAN - 1 ? 0x1234 : seed * 1000 + position);
}

// What one acquisition returned and wrote on standard error (its standard
// output, the settings line, is left out).
struct Outcome {
    int result;
    std::string err;
};

Outcome acquire(PortIndex port, uint16_t data_scans, uint32_t integration_ms, uint16_t* buffer) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int result = collect_spectra(port, nullptr, 3, data_scans, integration_ms, buffer);
    Outcome outcome{result, testing::internal::GetCapturedStderr()};
    testing::internal::GetCapturedStdout();
    return outcome;
}

class Acquisition : public ::testing::Test {
  protected:
    void SetUp() override {
        line = attach_scripted_port(PORT);
        ASSERT_NE(line, nullptr);
    }
    void TearDown() override { serial_close(PORT); }

    std::shared_ptr<ScriptedLine> line;
};

TEST_F(Acquisition, NoDataScansSendsTheSettingsAndNoScan) {
    std::vector<uint16_t> buffer(PIXELS_PER_SCAN, UNTOUCHED);
    testing::internal::CaptureStdout();
    const int result = collect_spectra(PORT, nullptr, 0, 0, 650, buffer.data());
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, "\nPre Scans = 0, Data Scans = 0, Data Scan Period = 650ms\n");
    EXPECT_EQ(line->tx, "E5\rP0\rR0\rI650\r");
    // RTS goes down before the first command and nothing else touches it.
    const std::vector<std::string> expected_events = {"rts:C", "cmd:E5", "cmd:P0", "cmd:R0",
                                                      "cmd:I650"};
    EXPECT_EQ(line->events, expected_events);
    for (uint16_t value : buffer) {
        ASSERT_EQ(value, UNTOUCHED);
    }
}

TEST_F(Acquisition, ThreeScansFillTheirBlocksAndTheScanLog) {
    line->next_transfers = {transfer_for(1), transfer_for(2), transfer_for(3)};
    // Stray bytes between "S\r" and the data-ready signal never reach the buffer.
    line->noise_after_scan = {0x55, 0x0D, 0xAA};
    std::vector<uint16_t> buffer(3 * PIXELS_PER_SCAN, UNTOUCHED);

    const CapturedFile captured_log;
    std::FILE* scan_log = captured_log.stream();
    ASSERT_NE(scan_log, nullptr);
    testing::internal::CaptureStdout();
    const int result = collect_spectra(PORT, scan_log, 3, 3, 20, buffer.data());
    testing::internal::GetCapturedStdout();
    const std::string log = captured_log.text();

    ASSERT_EQ(result, 1);
    const std::vector<std::string> expected_commands = {"E5", "P3", "R3", "I20", "S",
                                                        "g",  "S",  "g",  "S",   "g"};
    EXPECT_EQ(line->commands(), expected_commands);
    EXPECT_FALSE(line->rts);
    for (int scan = 0; scan < 3; ++scan) {
        for (int position = 0; position < PIXELS_PER_SCAN; ++position) {
            ASSERT_EQ(buffer[scan * PIXELS_PER_SCAN + position], expected_value(scan + 1, position))
                << "scan " << scan << " position " << position;
        }
    }
    // The first two bytes of a transfer are 0x12, 0x34 and land at position 255.
    EXPECT_EQ(buffer[255], 4660);

    // One line per scan: local date and time, then 256 values in position order.
    const std::regex format(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d,(\d+,){255}\d+)");
    std::istringstream lines(log);
    std::string entry;
    int count = 0;
    while (std::getline(lines, entry)) {
        ASSERT_LT(count, 3);
        EXPECT_TRUE(std::regex_match(entry, format)) << entry.substr(0, 40);
        std::string expected_values;
        for (int position = 0; position < PIXELS_PER_SCAN; ++position) {
            expected_values += std::to_string(expected_value(count + 1, position));
            expected_values += position < PIXELS_PER_SCAN - 1 ? "," : "";
        }
        EXPECT_EQ(entry.substr(20), expected_values);
        ++count;
    }
    EXPECT_EQ(count, 3);
    EXPECT_EQ(log.back(), '\n');
}

TEST_F(Acquisition, AnErrorResultFromTheServiceIsAMissingByte) {
    line->transfer = transfer_for(1);
    line->error_at_byte = 0; // the first byte of pixel 255 comes out as -103
    std::vector<uint16_t> buffer(PIXELS_PER_SCAN, UNTOUCHED);

    const auto [result, err] = acquire(PORT, 1, 20, buffer.data());

    EXPECT_EQ(result, -2);
    // The second byte (0x34) was still asked for; the missing one shows as -1.
    EXPECT_EQ(err, "ERROR: Data Timeout, pixel = 255 val1 = -1 val2 = 52() RETURNED: -208\n");
    EXPECT_EQ(buffer[255], UNTOUCHED);
    EXPECT_FALSE(line->rts);
    // Nothing more went to the board after the failure.
    EXPECT_EQ(line->commands().back(), "g");
    EXPECT_EQ(line->events.back(), "rts:C");
}

TEST_F(Acquisition, EachCtsWaitSleepsBeforeItsFirstLook) {
    line->transfer = transfer_for(1);
    std::vector<uint16_t> buffer(PIXELS_PER_SCAN, UNTOUCHED);
    testing::internal::CaptureStdout();
    ASSERT_EQ(collect_spectra(PORT, nullptr, 3, 1, 20, buffer.data()), 1);
    testing::internal::GetCapturedStdout();

    // The board answers every wait at its first look: S asserted, scan complete
    // released, g asserted, data sent released. Each look comes after the
    // wait's own sleep (1, 10, 1 and 1 ms) since the event that started it.
    const int64_t pause_us[] = {1000, 10000, 1000, 1000};
    const std::string seen[] = {"cts:1", "cts:0", "cts:1", "cts:0"};
    size_t wait = 0;
    for (size_t i = 1; i < line->events.size(); ++i) {
        if (line->events[i].rfind("cts:", 0) != 0) {
            continue;
        }
        ASSERT_LT(wait, 4U) << "more CTS looks than waits";
        EXPECT_EQ(line->events[i], seen[wait]);
        EXPECT_GE(line->event_us[i] - line->event_us[i - 1], pause_us[wait])
            << "wait " << wait << " looked at CTS after " << line->events[i - 1];
        ++wait;
    }
    EXPECT_EQ(wait, 4U);
}

TEST_F(Acquisition, ATimeOutWinsOverCtsSeenInTheSamePass) {
    // The first look at CTS returns (not asserted) 500 ms after "S\r" went
    // out, just before the wait's own 500 ms are up; after the next sleep the
    // time is up, and although the board now asserts CTS, the time is tested
    // first.
    line->transfer = transfer_for(1);
    line->cts_script = {{500, 0}};
    std::vector<uint16_t> buffer(PIXELS_PER_SCAN, UNTOUCHED);
    const auto [result, err] = acquire(PORT, 1, 20, buffer.data());

    EXPECT_EQ(result, -2);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        err, match,
        std::regex(
            R"(ERROR: S Command Timeout, Spectrometer CTS never asserted after (\d+) msecs\(\) RETURNED: -206\n)")))
        << err;
    // The report shows the reading that ended the wait.
    EXPECT_GE(std::stoi(match[1]), 500);
    EXPECT_EQ(std::count(line->events.begin(), line->events.end(), "cts:0"), 1);
    EXPECT_EQ(std::count(line->events.begin(), line->events.end(), "cts:1"), 0);
    EXPECT_EQ(line->commands().back(), "S");
    EXPECT_FALSE(line->rts);
}

// A failure keeps the completed scans and the positions of the failing scan
// stored before it (from 255 down); everything else keeps the caller's values.
TEST_F(Acquisition, AFailedScanKeepsWhatWasAlreadyStored) {
    struct Case {
        const char* name;
        uint16_t data_scans;
        bool cts_stuck_after_data;
        size_t bytes_of_last_scan; // the board stops sending after these
        const char* report;        // regular expression for standard error
        int first_stored;          // lowest position stored in the failing scan
    };
    const Case cases[] = {
        {"data sent", 1, true, 512,
         R"(ERROR: Scan Data Sent Timeout, Spectrometer CTS never released after \d+ msecs\(\) RETURNED: -206\n)",
         0},
        // 21 bytes: pixels 255..246 and the high byte of 245 (2245 >> 8 = 8).
        {"data timeout", 2, false, 21,
         R"(ERROR: Data Timeout, pixel = 245 val1 = 8 val2 = -1\(\) RETURNED: -208\n)", 246},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serial_close(PORT);
        line = attach_scripted_port(PORT);
        ASSERT_NE(line, nullptr);
        line->cts_stuck_after_data = c.cts_stuck_after_data;
        for (int scan = 1; scan <= c.data_scans; ++scan) {
            line->next_transfers.push_back(transfer_for(scan));
        }
        line->next_transfers.back().resize(c.bytes_of_last_scan);
        std::vector<uint16_t> buffer(c.data_scans * PIXELS_PER_SCAN, UNTOUCHED);

        const auto [result, err] = acquire(PORT, c.data_scans, 20, buffer.data());

        EXPECT_EQ(result, -2);
        EXPECT_TRUE(std::regex_match(err, std::regex(c.report))) << err;
        EXPECT_FALSE(line->rts);
        for (int scan = 0; scan < c.data_scans; ++scan) {
            const bool failing = scan == c.data_scans - 1;
            for (int position = 0; position < PIXELS_PER_SCAN; ++position) {
                const bool stored = !failing || position >= c.first_stored;
                ASSERT_EQ(buffer[scan * PIXELS_PER_SCAN + position],
                          stored ? expected_value(scan + 1, position) : UNTOUCHED)
                    << "scan " << scan << " position " << position;
            }
        }
    }
}

TEST(AcquisitionWithoutPort, AnErrorResultIsNoCtsSignal) {
    // Every operation on a port that is not open fails (negative results): the
    // board never answered, so the first handshake wait times out.
    constexpr PortIndex CLOSED = 102;
    std::vector<uint16_t> buffer(PIXELS_PER_SCAN, UNTOUCHED);
    const auto [result, err] = acquire(CLOSED, 1, 650, buffer.data());

    EXPECT_EQ(result, -2);
    const std::regex report(
        R"(ERROR: S Command Timeout, Spectrometer CTS never asserted after \d+ msecs\(\) RETURNED: -206\n)");
    EXPECT_TRUE(std::regex_match(err, report)) << err;
    EXPECT_EQ(buffer[255], UNTOUCHED);
}

} // namespace
