// Reads keystroke codes from standard input; see key_reader.h.
#include "platform/key_reader.h"

#include "platform/key_decoder.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <unistd.h>

namespace {

KeySource key_source = nullptr;

// The reader's own state: the decoder, codes it produced that are still to be
// handed out (the partner code of a two-code key), and whether input has ended.
struct StdinKeys {
    KeyDecoder decoder;
    KeyCodes queued;
    uint8_t next = 0;
    bool ended = false;
};

StdinKeys stdin_keys;

// Waits up to timeout_ms (-1: no limit) for standard input to have something:
// 1 when there is a byte or an end to read, 0 when the time ran out.
int wait_for_input(int timeout_ms) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    for (;;) {
        const int ready = poll(&fd, 1, timeout_ms);
        if (ready >= 0) {
            return ready > 0 ? 1 : 0;
        }
        if (errno != EINTR) {
            return 1; // let the read report what is wrong
        }
    }
}

// Reads one byte: 1 with the byte, 0 at the end of input (or a failed read).
int read_byte(uint8_t* byte) {
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, byte, 1);
        if (count == 1) {
            return 1;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            wait_for_input(-1); // standard input was left non-blocking
            continue;
        }
        return 0; // 0 bytes: end of file or hang-up; EIO: terminal gone
    }
}

int take_queued(StdinKeys& keys) {
    const int code = keys.queued.code[keys.next++];
    if (keys.next >= keys.queued.count) {
        keys.queued.count = 0;
        keys.next = 0;
    }
    return code;
}

int read_terminal_key(StdinKeys& keys) {
    for (;;) {
        if (keys.queued.count > 0) {
            return take_queued(keys);
        }
        if (keys.ended) {
            return 3;
        }
        if (key_decoder_waiting(keys.decoder) && wait_for_input(KEY_ESCAPE_WAIT_MS) == 0) {
            keys.queued = key_decoder_expire(keys.decoder);
            continue;
        }
        uint8_t byte = 0;
        if (read_byte(&byte) == 0) {
            keys.ended = true;
            keys.queued = key_decoder_expire(keys.decoder);
            continue;
        }
        keys.queued = key_decoder_feed(keys.decoder, byte);
    }
}

int read_stream_key(StdinKeys& keys) {
    uint8_t byte = 0;
    if (keys.ended || read_byte(&byte) == 0) {
        keys.ended = true;
        return 3;
    }
    return byte == 127 ? 8 : byte;
}

} // namespace

void set_key_source(KeySource source) {
    key_source = source;
}

int read_key() {
    if (key_source != nullptr) {
        const int code = key_source();
        return code >= 0 && code <= 255 ? code : 3;
    }
    if (isatty(STDIN_FILENO)) {
        return read_terminal_key(stdin_keys);
    }
    return read_stream_key(stdin_keys);
}
