#include "sim/events.h"

#include "platform/clock.h"

namespace {

// A JSON string literal of arbitrary bytes: quotes, backslashes, control
// characters and bytes outside ASCII are escaped.
std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

void write_event(EventLog& log, const char* kind, const std::string& fields) {
    if (log.file == nullptr) {
        return;
    }
    const double seconds = static_cast<double>(monotonic_us() - log.start_us) / 1e6;
    std::fprintf(log.file, "{\"t\": %.6f, \"event\": \"%s\"%s}\n", seconds, kind, fields.c_str());
    std::fflush(log.file);
}

} // namespace

bool events_open(EventLog& log, const std::string& path, int64_t start_us) {
    log.start_us = start_us;
    log.file = std::fopen(path.c_str(), "w");
    return log.file != nullptr;
}

void events_close(EventLog& log) {
    if (log.file != nullptr) {
        std::fclose(log.file);
        log.file = nullptr;
    }
}

void event_command(EventLog& log, const std::string& text) {
    write_event(log, "command", ", \"text\": " + json_string(text));
}

void event_led(EventLog& log, int led, bool on) {
    write_event(log, "led",
                ", \"led\": " + std::to_string(led) + ", \"on\": " + (on ? "true" : "false"));
}

void event_spectrum(EventLog& log, uint32_t scan, const std::array<uint16_t, 256>& values) {
    std::string fields = ", \"scan\": " + std::to_string(scan) + ", \"values\": [";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            fields += ", ";
        }
        fields += std::to_string(values[i]);
    }
    fields += "]";
    write_event(log, "spectrum", fields);
}

void event_sent(EventLog& log, uint32_t scan) {
    write_event(log, "sent", ", \"scan\": " + std::to_string(scan));
}

void event_fault(EventLog& log, const char* name) {
    write_event(log, "fault", ", \"name\": " + json_string(name));
}

void event_client(EventLog& log, const char* state) {
    write_event(log, "client", ", \"state\": " + json_string(state));
}

void event_adapter(EventLog& log, const char* name, double first_tick_s, double period_s) {
    std::string fields = ", \"name\": " + json_string(name);
    if (first_tick_s >= 0) {
        char timer[96];
        std::snprintf(timer, sizeof timer, ", \"cts_first_tick\": %.6f, \"cts_period\": %.6f",
                      first_tick_s, period_s);
        fields += timer;
    }
    write_event(log, "adapter", fields);
}
