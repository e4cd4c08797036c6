// Prompts built on the line editor, and the operator's failure and range messages.
#include "console/prompts.h"

#include "console/line_editor.h"
#include "console/number_entry.h"
#include "platform/beep.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr short KEY_ENTRY_SIZE = 2;
constexpr short NUMBER_ENTRY_SIZE = 20;
constexpr int YES_NO_QUESTION_LENGTH = 90;

enum class CaseRule { UPPER, LOWER, AS_TYPED };

bool is_lower(char c) {
    return c >= 'a' && c <= 'z';
}
bool is_upper(char c) {
    return c >= 'A' && c <= 'Z';
}

CaseRule case_rule(const char* allowed) {
    bool lower = false;
    bool upper = false;
    for (const char* c = allowed; *c != '\0'; ++c) {
        lower = lower || is_lower(*c);
        upper = upper || is_upper(*c);
    }
    if (!lower) {
        return CaseRule::UPPER;
    }
    return upper ? CaseRule::AS_TYPED : CaseRule::LOWER;
}

char fold(char c, CaseRule rule) {
    if (rule == CaseRule::UPPER && is_lower(c)) {
        return static_cast<char>(c - 'a' + 'A');
    }
    if (rule == CaseRule::LOWER && is_upper(c)) {
        return static_cast<char>(c - 'A' + 'a');
    }
    return c;
}

const char* or_empty(const char* text) {
    return text != nullptr ? text : "";
}

} // namespace

int prompt_key(const char* text, char default_key, const char* allowed, char* out) {
    text = or_empty(text);
    allowed = or_empty(allowed);
    char unused = 0;
    if (out == nullptr) {
        out = &unused;
    }
    const CaseRule rule = case_rule(allowed);
    for (;;) {
        std::fputs(text, stdout);
        char entry[KEY_ENTRY_SIZE];
        if (default_key != '\0') {
            *out = default_key;
            std::printf(" [%c]", default_key);
            if (edit_line(entry, KEY_ENTRY_SIZE) == 0) {
                return 0;
            }
            if (entry[0] == '\0') {
                return 1;
            }
        } else if (edit_line(entry, KEY_ENTRY_SIZE) == 0) {
            return 0;
        }
        // An empty entry gives the character 0, which every allowed set holds.
        *out = fold(entry[0], rule);
        if (*out == '\0' || std::strchr(allowed, *out) != nullptr) {
            return 1;
        }
        if (text[0] != '\n') {
            std::putchar('\n');
        }
    }
}

int prompt_yes_no(const char* text, int default_yes) {
    char line[YES_NO_QUESTION_LENGTH + sizeof " (Yes/No)"];
    std::snprintf(line, sizeof line, "%.*s (Yes/No)", YES_NO_QUESTION_LENGTH, or_empty(text));
    char key = 0;
    if (prompt_key(line, default_yes ? 'Y' : 'N', "YN", &key) == 0) {
        return 0;
    }
    return key == 'Y' ? 1 : 0;
}

// Both formats stand for the 32-bit unsigned conversion ("%lu" where long is
// 32 bits), the only one the program uses: the value is shown and parsed at
// 32 bits whatever the width of long here. An empty show format shows nothing.
int prompt_value(const char* text, const char* show_format, const char* /*parse_format*/,
                 uint32_t* value) {
    if (value == nullptr) {
        return 0;
    }
    text = or_empty(text);
    for (;;) {
        std::fputs(text, stdout);
        if (show_format != nullptr && show_format[0] != '\0') {
            char shown[NUMBER_TEXT_SIZE];
            format_number_entry(*value, shown);
            std::printf(" [%s]", shown);
        }
        std::fputs(" ? ", stdout);
        char entry[NUMBER_ENTRY_SIZE];
        if (edit_line(entry, NUMBER_ENTRY_SIZE) == 0) {
            return 0;
        }
        if (entry[0] == '\0' || convert_number_entry(entry, sizeof entry, value) != 0) {
            return 1;
        }
        if (text[0] != '\n') {
            std::putchar('\n');
        }
    }
}

void report_failure(const char* name, int32_t code) {
    std::fflush(stdout); // what stands on standard output comes first on a shared screen
    std::fprintf(stderr, "ERROR: %s() RETURNED: %d\n", or_empty(name), static_cast<int>(code));
    alert_beep();
}

void report_range_error(int32_t low, int32_t high) {
    std::printf("\n  Invalid Entry, valid range = %ld - %ld\n", static_cast<long>(low),
                static_cast<long>(high));
    std::fflush(stdout);
    alert_beep();
}

void alert_beep() {
    platform_beep(523, 500);
}
