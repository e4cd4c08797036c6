// The key reader's escape-sequence decoder on any byte string. Checks:
//   - each byte gives at most two codes, an expiry at most one, and a pair is
//     an extended key (0 or 224 first) or Escape followed by a control key;
//   - a control byte (Ctrl+C, Enter, Tab... anything below 0x20 but Escape)
//     is never swallowed: the control codes out are the control bytes in, in
//     order (a sequence cannot hide Ctrl+C from the prompts);
//   - without an Escape byte every byte is its own key (127 gives 8);
//   - decode_key_bytes gives what feeding byte by byte and expiring gives,
//     writes no more than its capacity, and counts what it could not write.
// The first input byte says after which bytes the escape wait runs out.
#include "platform/key_decoder.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// Control codes that only a control byte can produce: not 0 (extended-key
// prefix), 8 (Backspace, also from 127), 9 and 13 (also from the keypad in
// application mode), 15 (second code of Shift+Tab) or 27 (Escape).
bool plain_control(uint8_t code) {
    return code < 0x20 && code != 0 && code != 8 && code != 9 && code != 13 && code != 15 &&
           code != 27;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t expiry_pattern = data[0];
    ++data;
    --size;

    // Streaming, with the escape wait running out where the pattern says.
    KeyDecoder decoder;
    std::vector<uint8_t> streamed;
    std::vector<uint8_t> controls_in;
    bool escape_seen = false;
    for (size_t i = 0; i < size; ++i) {
        const KeyCodes out = key_decoder_feed(decoder, data[i]);
        check(out.count <= 2);
        if (out.count == 2) {
            check(out.code[0] == 0 || out.code[0] == 224 || out.code[0] == 27);
        }
        streamed.insert(streamed.end(), out.code, out.code + out.count);
        if (plain_control(data[i])) {
            controls_in.push_back(data[i]);
        }
        escape_seen = escape_seen || data[i] == 27;
        if ((expiry_pattern >> (i % 8)) & 1) {
            const bool waiting = key_decoder_waiting(decoder);
            const KeyCodes expired = key_decoder_expire(decoder);
            check(expired.count <= (waiting ? 1 : 0));
            check(expired.count == 0 || expired.code[0] == 27);
            check(!key_decoder_waiting(decoder));
            streamed.insert(streamed.end(), expired.code, expired.code + expired.count);
        }
    }
    const KeyCodes last = key_decoder_expire(decoder);
    check(last.count <= 1);
    streamed.insert(streamed.end(), last.code, last.code + last.count);

    std::vector<uint8_t> controls_out;
    for (const uint8_t code : streamed) {
        if (plain_control(code)) {
            controls_out.push_back(code);
        }
    }
    check(controls_out == controls_in);

    if (!escape_seen) {
        check(streamed.size() == size);
        for (size_t i = 0; i < size; ++i) {
            check(streamed[i] == (data[i] == 127 ? 8 : data[i]));
        }
    }

    if (expiry_pattern == 0) {
        // The whole string at once, into a buffer of exactly the capacity given.
        const size_t full = decode_key_bytes(data, size, nullptr, 0);
        check(full == streamed.size());
        const size_t capacity = full / 2;
        std::unique_ptr<uint8_t[]> codes(new uint8_t[capacity + 1]);
        const size_t counted = decode_key_bytes(data, size, codes.get(), capacity);
        check(counted == full);
        for (size_t i = 0; i < capacity; ++i) {
            check(codes[i] == streamed[i]);
        }
    }
    return 0;
}
