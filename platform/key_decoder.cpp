// Terminal bytes to Windows console key codes; see key_decoder.h for the map.
#include "platform/key_decoder.h"

namespace {

constexpr uint8_t ESC = 27;

enum State : uint8_t {
    IDLE = 0,
    ESCAPE,   // ESC seen
    CSI,      // ESC [ seen, reading parameters
    SS3,      // ESC O seen, reading parameters
    LINUX_FN, // ESC [ [ seen: the Linux console's F1..F5
};

// Largest parameter value kept; longer digit runs stay at it (and map to nothing).
constexpr uint16_t PARAM_LIMIT = 9999;

enum Column : uint8_t { PLAIN = 0, SHIFT, CTRL, ALT };

// A key without a character: its two codes with no modifier, with Shift, with Ctrl, with Alt.
struct ExtendedKey {
    uint8_t prefix[4];
    uint8_t code[4];
};

constexpr ExtendedKey function_key(int n) { // F1..F10
    return {{0, 0, 0, 0}, {uint8_t(58 + n), uint8_t(83 + n), uint8_t(93 + n), uint8_t(103 + n)}};
}

constexpr ExtendedKey F11 = {{224, 224, 224, 224}, {133, 135, 137, 139}};
constexpr ExtendedKey F12 = {{224, 224, 224, 224}, {134, 136, 138, 140}};
constexpr ExtendedKey HOME = {{224, 224, 224, 0}, {71, 71, 119, 151}};
constexpr ExtendedKey UP = {{224, 224, 224, 0}, {72, 72, 141, 152}};
constexpr ExtendedKey PAGE_UP = {{224, 224, 224, 0}, {73, 73, 134, 153}};
constexpr ExtendedKey LEFT = {{224, 224, 224, 0}, {75, 75, 115, 155}};
constexpr ExtendedKey RIGHT = {{224, 224, 224, 0}, {77, 77, 116, 157}};
constexpr ExtendedKey END = {{224, 224, 224, 0}, {79, 79, 117, 159}};
constexpr ExtendedKey DOWN = {{224, 224, 224, 0}, {80, 80, 145, 160}};
constexpr ExtendedKey PAGE_DOWN = {{224, 224, 224, 0}, {81, 81, 118, 161}};
constexpr ExtendedKey INSERT = {{224, 224, 224, 0}, {82, 82, 146, 162}};
constexpr ExtendedKey DELETE = {{224, 224, 224, 0}, {83, 83, 147, 163}};
constexpr ExtendedKey BACK_TAB = {{0, 0, 0, 0}, {15, 15, 148, 15}};

KeyCodes none() {
    return {};
}

KeyCodes one(uint8_t code) {
    KeyCodes out;
    out.count = 1;
    out.code[0] = code;
    return out;
}

KeyCodes extended(const ExtendedKey& key, Column column) {
    KeyCodes out;
    out.count = 2;
    out.code[0] = key.prefix[column];
    out.code[1] = key.code[column];
    return out;
}

// The xterm modifier parameter: 1 + Shift 1 + Alt 2 + Ctrl 4 + Meta 8.
// Returns false for a value no terminal sends.
bool modifier_column(unsigned modifier, Column* column) {
    if (modifier < 1 || modifier > 16) {
        return false;
    }
    const unsigned bits = modifier - 1;
    if (bits & (2 | 8)) {
        *column = ALT;
    } else if (bits & 4) {
        *column = CTRL;
    } else if (bits & 1) {
        *column = SHIFT;
    } else {
        *column = PLAIN;
    }
    return true;
}

void start_sequence(KeyDecoder& d, uint8_t state) {
    d.state = state;
    d.param_count = 0;
    d.unknown = false;
    d.params[0] = 0;
    d.params[1] = 0;
}

// The key named by "ESC [ n ~" (VT220, xterm, rxvt and the Linux console).
const ExtendedKey* tilde_key(unsigned n, Column* shifted_column) {
    *shifted_column = PLAIN;
    switch (n) {
    case 1:
    case 7:
        return &HOME;
    case 2:
        return &INSERT;
    case 3:
        return &DELETE;
    case 4:
    case 8:
        return &END;
    case 5:
        return &PAGE_UP;
    case 6:
        return &PAGE_DOWN;
    case 11:
    case 12:
    case 13:
    case 14:
    case 15: {
        static constexpr ExtendedKey keys[] = {function_key(1), function_key(2), function_key(3),
                                               function_key(4), function_key(5)};
        return &keys[n - 11];
    }
    case 17:
    case 18:
    case 19:
    case 20:
    case 21: {
        static constexpr ExtendedKey keys[] = {function_key(6), function_key(7), function_key(8),
                                               function_key(9), function_key(10)};
        return &keys[n - 17];
    }
    case 23:
        return &F11;
    case 24:
        return &F12;
    default:
        break;
    }
    // F13..F20: what the Linux console and rxvt send for Shift+F3..Shift+F10.
    static constexpr struct {
        uint8_t n;
        ExtendedKey key;
    } shifted[] = {{25, function_key(3)}, {26, function_key(4)}, {28, function_key(5)},
                   {29, function_key(6)}, {31, function_key(7)}, {32, function_key(8)},
                   {33, function_key(9)}, {34, function_key(10)}};
    for (const auto& entry : shifted) {
        if (entry.n == n) {
            *shifted_column = SHIFT;
            return &entry.key;
        }
    }
    return nullptr;
}

// The key named by a final letter after ESC [ (csi) or ESC O (!csi).
const ExtendedKey* letter_key(uint8_t final_byte, bool csi, bool has_modifier, Column* column) {
    switch (final_byte) {
    case 'A':
        return &UP;
    case 'B':
        return &DOWN;
    case 'C':
        return &RIGHT;
    case 'D':
        return &LEFT;
    case 'H':
        return &HOME;
    case 'F':
        return &END;
    case 'P':
    case 'Q':
    case 'R':
    case 'S': {
        // The Linux console sends ESC [ P for Pause: only the modified form is F1..F4 there.
        if (csi && !has_modifier) {
            return nullptr;
        }
        static constexpr ExtendedKey keys[] = {function_key(1), function_key(2), function_key(3),
                                               function_key(4)};
        return &keys[final_byte - 'P'];
    }
    case 'Z':
        return csi ? &BACK_TAB : nullptr;
    case 'a':
    case 'b':
    case 'c':
    case 'd': {
        // rxvt: Shift+arrow as ESC [ a..d, Ctrl+arrow as ESC O a..d.
        static constexpr const ExtendedKey* arrows[] = {&UP, &DOWN, &RIGHT, &LEFT};
        *column = csi ? SHIFT : CTRL;
        return arrows[final_byte - 'a'];
    }
    default:
        return nullptr;
    }
}

// A finished CSI or SS3 sequence ending in `final_byte`.
KeyCodes finish_sequence(const KeyDecoder& d, uint8_t final_byte) {
    if (d.unknown || d.param_count > 2) {
        return none();
    }
    const bool csi = d.state == CSI;
    Column column = PLAIN;
    if (csi && final_byte == '~') {
        Column shifted = PLAIN;
        const ExtendedKey* key = tilde_key(d.params[0], &shifted);
        if (key == nullptr) {
            return none();
        }
        if (d.param_count == 2 && !modifier_column(d.params[1], &column)) {
            return none();
        }
        return extended(*key, column == PLAIN ? shifted : column);
    }
    if (csi && (final_byte == '^' || final_byte == '$' || final_byte == '@')) {
        // rxvt: ESC [ n ^ with Ctrl, ESC [ n $ with Shift, ESC [ n @ with both.
        Column shifted = PLAIN;
        const ExtendedKey* key = d.param_count == 1 ? tilde_key(d.params[0], &shifted) : nullptr;
        if (key == nullptr || shifted != PLAIN) {
            return none();
        }
        return extended(*key, final_byte == '$' ? SHIFT : CTRL);
    }
    if (!csi && d.param_count == 0) {
        // The numeric keypad in application mode.
        static constexpr char keypad[] = "*+,-./0123456789";
        if (final_byte >= 'j' && final_byte <= 'y') {
            return one(uint8_t(keypad[final_byte - 'j']));
        }
        if (final_byte == 'M') {
            return one(13);
        }
        if (final_byte == 'X') {
            return one('=');
        }
        if (final_byte == 'I') {
            return one(9);
        }
    }
    // Letters: the modifier is the second parameter ("ESC [ 1 ; 5 A"), or the
    // only one after ESC O ("ESC O 2 P", as some terminals send it).
    unsigned modifier = 1;
    if (d.param_count == 2) {
        modifier = d.params[1];
    } else if (d.param_count == 1 && !csi) {
        modifier = d.params[0];
    } else if (d.param_count == 1 && d.params[0] > 1) {
        return none();
    }
    if (!modifier_column(modifier, &column)) {
        return none();
    }
    const ExtendedKey* key = letter_key(final_byte, csi, modifier != 1, &column);
    if (key == nullptr) {
        return none();
    }
    return extended(*key, column);
}

void add_parameter_byte(KeyDecoder& d, uint8_t byte) {
    if (byte == ';') {
        if (d.param_count == 0) {
            d.param_count = 1; // an empty first parameter
        }
        if (d.param_count < 3) {
            ++d.param_count;
        }
        return;
    }
    if (byte >= '0' && byte <= '9') {
        if (d.param_count == 0) {
            d.param_count = 1;
        }
        if (d.param_count <= 2) {
            uint16_t& p = d.params[d.param_count - 1];
            const unsigned next = p * 10U + (byte - '0');
            p = next > PARAM_LIMIT ? PARAM_LIMIT : uint16_t(next);
        }
        return;
    }
    d.unknown = true; // ':' sub-parameters and '<' '=' '>' '?' private markers
}

KeyCodes feed_idle(KeyDecoder& d, uint8_t byte) {
    if (byte == ESC) {
        start_sequence(d, ESCAPE);
        return none();
    }
    return one(byte == 127 ? 8 : byte);
}

KeyCodes append(KeyCodes first, KeyCodes second) {
    for (uint8_t i = 0; i < second.count && first.count < 2; ++i) {
        first.code[first.count++] = second.code[i];
    }
    return first;
}

} // namespace

KeyCodes key_decoder_feed(KeyDecoder& d, uint8_t byte) {
    switch (d.state) {
    case ESCAPE:
        if (byte == '[') {
            start_sequence(d, CSI);
            return none();
        }
        if (byte == 'O') {
            start_sequence(d, SS3);
            return none();
        }
        if (byte == ESC) {
            // The first Escape stood alone; the second may start a sequence.
            return one(ESC);
        }
        d.state = IDLE;
        if (byte < 0x20) {
            // Escape, then a control key such as Ctrl+C or Enter: both count.
            return append(one(ESC), feed_idle(d, byte));
        }
        return none(); // Alt with a key: ESC and the key's byte
    case CSI:
    case SS3:
        if (byte < 0x20 || byte >= 0x7F) {
            // Not part of any key sequence: the sequence ends unfinished and
            // the byte is a key of its own.
            d.state = IDLE;
            return feed_idle(d, byte);
        }
        if (d.state == CSI && byte == '[' && d.param_count == 0 && !d.unknown) {
            d.state = LINUX_FN;
            return none();
        }
        if (byte >= 0x30 && byte <= 0x3F) {
            add_parameter_byte(d, byte);
            return none();
        }
        {
            // A final byte (0x40..0x7E), or an intermediate byte (0x20..0x2F),
            // which no key sends but rxvt's '$': either one ends the sequence.
            const KeyCodes out = finish_sequence(d, byte);
            d.state = IDLE;
            return out;
        }
    case LINUX_FN:
        d.state = IDLE;
        if (byte < 0x20 || byte >= 0x7F) {
            return feed_idle(d, byte);
        }
        if (byte >= 'A' && byte <= 'E') {
            return extended(function_key(byte - 'A' + 1), PLAIN);
        }
        return none();
    default:
        d.state = IDLE;
        return feed_idle(d, byte);
    }
}

bool key_decoder_waiting(const KeyDecoder& d) {
    return d.state != IDLE;
}

KeyCodes key_decoder_expire(KeyDecoder& d) {
    const bool lone_escape = d.state == ESCAPE;
    d.state = IDLE;
    return lone_escape ? one(ESC) : none();
}

size_t decode_key_bytes(const uint8_t* bytes, size_t count, uint8_t* codes, size_t capacity) {
    KeyDecoder decoder;
    size_t total = 0;
    auto store = [&](const KeyCodes& out) {
        for (uint8_t i = 0; i < out.count; ++i) {
            if (total < capacity) {
                codes[total] = out.code[i];
            }
            ++total;
        }
    };
    for (size_t i = 0; i < count; ++i) {
        store(key_decoder_feed(decoder, bytes[i]));
    }
    store(key_decoder_expire(decoder));
    return total;
}
