// Turns the bytes a Linux terminal sends for its keys into the key codes of
// the Windows console key reader, which the line editor works in:
//   127 (the Backspace of most terminals) -> 8
//   F1..F10 -> 0, 59..68         F11, F12 -> 224, 133 / 224, 134
//   Up 72, Down 80, Left 75, Right 77, Home 71, End 79, Insert 82,
//   Delete 83, Page Up 73, Page Down 81, each after 224
//   Shift, Ctrl and Alt variants as that console gives them (Shift+F1 -> 0, 84;
//   Ctrl+Up -> 224, 141; Alt+Up -> 0, 152; Shift+Tab -> 0, 15; ...)
//   a lone Escape (nothing follows within the escape wait) -> 27
// Both the xterm forms (CSI "ESC [", SS3 "ESC O", with or without modifier
// parameters) and the Linux console forms ("ESC [ [ A" for F1...) are known.
// A sequence the decoder does not know is swallowed whole, as is Alt with a
// printable key (ESC then the key); nothing of it reaches an entry.
//
// The decoder is plain data with a fixed size: any byte string, of any
// length, leaves it in a valid state and yields at most two codes per byte.
#pragma once

#include <cstddef>
#include <cstdint>

struct KeyDecoder {
    uint8_t state = 0;       // where in an escape sequence the decoder stands
    uint8_t param_count = 0; // parameters seen so far (the one being read included)
    bool unknown = false;    // the sequence carries something the decoder does not map
    uint16_t params[2] = {0, 0};
};

// Up to two codes produced by one step of the decoder.
struct KeyCodes {
    uint8_t count = 0;
    uint8_t code[2] = {0, 0};
};

// Feeds one byte from the terminal.
KeyCodes key_decoder_feed(KeyDecoder& decoder, uint8_t byte);

// True while the decoder holds the start of an escape sequence; the reader
// then waits a short time for the rest and calls key_decoder_expire when none comes.
bool key_decoder_waiting(const KeyDecoder& decoder);

// The escape wait ran out: a lone Escape becomes 27, an unfinished sequence is dropped.
KeyCodes key_decoder_expire(KeyDecoder& decoder);

// Decodes a whole byte string as if the escape wait ran out after its last byte.
// Writes at most `capacity` codes and returns how many codes the string gives
// (which may exceed `capacity`; the codes beyond it are not written).
size_t decode_key_bytes(const uint8_t* bytes, size_t count, uint8_t* codes, size_t capacity);
