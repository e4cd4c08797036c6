#include "tools/record.h"

#include <cstdio>

std::vector<uint16_t> pixel_mean(const std::vector<uint16_t>& scans, size_t scan_count) {
    std::vector<uint16_t> mean(256, 0);
    if (scan_count == 0) {
        return mean;
    }
    for (size_t p = 0; p < 256; ++p) {
        uint64_t sum = 0;
        for (size_t s = 0; s < scan_count; ++s) {
            sum += scans[s * 256 + p];
        }
        mean[p] = static_cast<uint16_t>((sum * 2 + scan_count) / (scan_count * 2));
    }
    return mean;
}

namespace {

uint16_t minus_clamped(uint16_t value, uint16_t dark) {
    return value > dark ? static_cast<uint16_t>(value - dark) : 0;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civil_from_days(int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::string format_utc(int64_t utc_ms, bool with_ms) {
    int64_t seconds = utc_ms / 1000;
    int64_t ms = utc_ms % 1000;
    if (ms < 0) {
        ms += 1000;
        --seconds;
    }
    int64_t days = seconds / 86400;
    int64_t second_of_day = seconds % 86400;
    if (second_of_day < 0) {
        second_of_day += 86400;
        --days;
    }
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civil_from_days(days, year, month, day);
    char text[40];
    const int hour = static_cast<int>(second_of_day / 3600);
    const int minute = static_cast<int>(second_of_day / 60 % 60);
    const int second = static_cast<int>(second_of_day % 60);
    if (with_ms) {
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", year, month, day,
                      hour, minute, second, static_cast<int>(ms));
    } else {
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", year, month, day, hour,
                      minute, second);
    }
    return text;
}

} // namespace

void subtract_dark(Record& record, const DarkSpectrum& dark) {
    for (size_t i = 0; i < record.scans.size(); ++i) {
        record.scans[i] = minus_clamped(record.scans[i], dark[i % 256]);
    }
    for (size_t p = 0; p < record.mean.size(); ++p) {
        record.mean[p] = minus_clamped(record.mean[p], dark[p]);
    }
}

std::string iso8601_utc_ms(int64_t utc_ms) {
    return format_utc(utc_ms, true);
}

std::string iso8601_utc_s(int64_t utc_ms) {
    return format_utc(utc_ms, false);
}
