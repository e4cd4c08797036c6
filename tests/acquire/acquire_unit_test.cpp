// The acquisition tool's plain functions: times, the mean and the dark
// subtraction, the two formats, the dark-file reader and the cadence.
#include "tools/csv_format.h"
#include "tools/dark_file.h"
#include "tools/jsonl_format.h"
#include "tools/record.h"
#include "tools/series.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AcquireTimes, Iso8601InUtcWithMilliseconds) {
    struct Case {
        int64_t ms;
        const char* text;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
        {951782400000, "2000-02-29T00:00:00.000Z"},  // a leap day of a century year
        {1798761599999, "2026-12-31T23:59:59.999Z"}, // the last millisecond of a year
        {4107542400123, "2100-03-01T00:00:00.123Z"}, // 2100 is no leap year
    };
    for (const Case& c : cases) {
        EXPECT_EQ(iso8601_utc_ms(c.ms), c.text) << c.ms;
    }
    EXPECT_EQ(iso8601_utc_s(1798761599999), "2026-12-31T23:59:59Z");
}

TEST(AcquireValues, MeanRoundsHalvesUpAndDarkClampsAtZero) {
    std::vector<uint16_t> scans(2 * 256, 0);
    scans[0] = 1; // pixel 1: (1 + 2) / 2 = 1.5 -> 2
    scans[256] = 2;
    scans[1] = 65535; // pixel 2: no overflow
    scans[257] = 65535;
    scans[2] = 4; // pixel 3: (4 + 5) / 2 = 4.5 -> 5, (4 + 4) / 2 = 4
    scans[258] = 5;
    const std::vector<uint16_t> mean = pixel_mean(scans, 2);
    EXPECT_EQ(mean[0], 2);
    EXPECT_EQ(mean[1], 65535);
    EXPECT_EQ(mean[2], 5);
    EXPECT_EQ(pixel_mean(std::vector<uint16_t>(3 * 256, 7), 3)[100], 7);

    Record record;
    record.data_scans = 2;
    record.scans = scans;
    record.mean = mean;
    DarkSpectrum dark{};
    dark[0] = 2;
    dark[2] = 10;
    subtract_dark(record, dark);
    EXPECT_EQ(record.scans[0], 0);   // 1 - 2 clamps
    EXPECT_EQ(record.scans[256], 0); // 2 - 2
    EXPECT_EQ(record.scans[2], 0);
    EXPECT_EQ(record.scans[1], 65535);
    EXPECT_EQ(record.mean[0], 0);
    EXPECT_EQ(record.mean[2], 0);
}

Record sample_record(uint16_t scans_count, bool with_mean) {
    Record record;
    record.number = 7;
    record.start_utc_ms = 1798761599999;
    record.end_utc_ms = 1798761600500;
    record.data_scans = scans_count;
    record.period_ms = 100;
    for (size_t i = 0; i < scans_count * 256u; ++i) {
        record.scans.push_back(static_cast<uint16_t>(i));
    }
    if (with_mean) {
        record.mean = pixel_mean(record.scans, scans_count);
    }
    return record;
}

TEST(AcquireFormats, CsvRowsAndHeader) {
    EXPECT_EQ(csv_column_header(3, true), "acquisition,start,pixel,scan1,scan2,scan3,mean");
    EXPECT_EQ(csv_column_header(1, false), "acquisition,start,pixel,scan1");
    const std::string text = csv_record(sample_record(2, true));
    EXPECT_EQ(text.substr(0, text.find('\n')), "7,2026-12-31T23:59:59.999Z,1,0,256,128");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 256);
    EXPECT_NE(text.find("\n7,2026-12-31T23:59:59.999Z,256,255,511,383\n"), std::string::npos);
}

TEST(AcquireFormats, CommentLinesCannotBreakTheTable) {
    RunInfo run;
    run.firmware = "ZORVI\nDLK\r";
    run.dark_path = "a\nb.csv";
    const std::string text = csv_run_comment(run);
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; ++at) {
        EXPECT_TRUE(at + 1 == text.size() || text[at + 1] == '#') << text;
    }
}

TEST(AcquireFormats, JsonStringsAreEscaped) {
    EXPECT_EQ(json_string("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(json_string("x\ny\x01"), "\"x\\u000ay\\u0001\"");
    EXPECT_EQ(json_string("\xe9"), "\"\\u00e9\"");
    const std::string line = jsonl_record(RunInfo{}, sample_record(1, false));
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    EXPECT_EQ(line.find("\"mean\""), std::string::npos);
    EXPECT_EQ(line.find("\"dark\""), std::string::npos);
}

// The dark reference read back from what the writers produce.
TEST(AcquireDark, BothFormatsGiveTheRoundedMeanOfTheFirstAcquisition) {
    const Record record = sample_record(2, true);
    RunInfo run;
    run.data_scans = 2;
    const std::string csv = csv_run_comment(run) + csv_column_header(2, true) + "\n" +
                            csv_record(record) + csv_record(sample_record(1, false));
    const std::string jsonl = jsonl_record(run, record) + "garbage\n";
    for (const std::string& text : {csv, jsonl}) {
        DarkSpectrum dark{};
        std::string error;
        ASSERT_TRUE(parse_dark_text(text, dark, error)) << error;
        EXPECT_EQ(dark[0], 128);
        EXPECT_EQ(dark[255], 383);
    }
}

TEST(AcquireDark, WhatIsNotASpectrumIsRefused) {
    struct Case {
        std::string text;
        const char* error;
    };
    std::string rows;
    for (int p = 1; p <= 256; ++p) {
        rows += "1,t," + std::to_string(p == 9 ? 10 : p) + ",5\n";
    }
    const Case cases[] = {
        {"", "it is empty"},
        {"# only comments\n", "no column header"},
        {"acquisition,start,pixel,scan1,extra\n", "no column header"},
        {"acquisition,start,pixel,scan1\n" + rows, "pixel 10 where 9 belongs"},
        {"acquisition,start,pixel,scan1\n1,t,1\n", "a row with 3 fields"},
        {"acquisition,start,pixel,scan1\n1,t,1,70000\n", "not a count: 70000"},
        {"{\"scans\": 5}", "not a list of scans"},
        {"{\"scans\": [[1, 2]]}", "not a list of 256 counts"},
        {"{\"acquisition\": 1}", "no \"scans\""},
    };
    for (const Case& c : cases) {
        DarkSpectrum dark{};
        std::string error;
        EXPECT_FALSE(parse_dark_text(c.text, dark, error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(AcquireCadence, SlotsKeepTheirGridAndLateStartsCountTheSkipped) {
    using namespace std::chrono;
    const steady_clock::time_point t0{};
    struct Case {
        double every;
        uint64_t slot;
        int now_ms;
        uint64_t next_slot;
        int start_ms; // -1: at once (now)
        uint64_t skipped;
    };
    const Case cases[] = {
        {0, 4, 12345, 5, -1, 0},  // back to back
        {1, 0, 450, 1, 1000, 0},  // waits for its slot
        {1, 3, 3999, 4, 4000, 0}, // ended just before the slot
        {1, 0, 1200, 1, -1, 0},   // slot 1 passed: at once, nothing skipped
        {0.2, 0, 450, 2, -1, 1},  // slots 1 and 2 passed: takes 2, skips 1
        {0.2, 2, 1390, 6, -1, 3}, // takes slot 6, skips 3, 4, 5
        {10, 100, 1010000, 101, -1, 0},
    };
    for (const Case& c : cases) {
        const auto now = t0 + milliseconds(c.now_ms);
        const CadenceStep step = cadence_next(t0, c.every, c.slot, now);
        EXPECT_EQ(step.slot, c.next_slot) << c.every << " " << c.now_ms;
        EXPECT_EQ(step.skipped, c.skipped) << c.every << " " << c.now_ms;
        const auto expected = c.start_ms < 0 ? now : t0 + milliseconds(c.start_ms);
        EXPECT_LE(std::chrono::abs(step.start - expected), microseconds(10))
            << c.every << " " << c.now_ms;
    }
}

} // namespace
