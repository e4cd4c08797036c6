#include "platform/key_decoder.h"
#include "platform/key_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<int> decode(const std::string& bytes) {
    uint8_t codes[64];
    const size_t count = decode_key_bytes(reinterpret_cast<const uint8_t*>(bytes.data()),
                                          bytes.size(), codes, sizeof codes);
    return std::vector<int>(codes, codes + std::min(count, sizeof codes));
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::vector<int> codes;
};

#define ESC "\x1b"

const DecodeCase decode_cases[] = {
    // Plain bytes.
    {"Letter", "a", {'a'}},
    {"DeleteByteIsBackspace", "\x7f", {8}},
    {"BackspaceByte", "\b", {8}},
    {"ControlKeys", "\x03\x12\x15\x1a\x13\x11\x16", {3, 18, 21, 26, 19, 17, 22}},
    {"HighByte", "\xe9", {0xe9}},
    {"LoneEscape", ESC, {27}},
    // Function keys: xterm, VT220 and the Linux console.
    {"F1ToF4Ss3", ESC "OP" ESC "OQ" ESC "OR" ESC "OS", {0, 59, 0, 60, 0, 61, 0, 62}},
    {"F1ToF5Vt220", ESC "[11~" ESC "[15~", {0, 59, 0, 63}},
    {"F6ToF10",
     ESC "[17~" ESC "[18~" ESC "[19~" ESC "[20~" ESC "[21~",
     {0, 64, 0, 65, 0, 66, 0, 67, 0, 68}},
    {"F11F12", ESC "[23~" ESC "[24~", {224, 133, 224, 134}},
    {"LinuxConsoleF1ToF5", ESC "[[A" ESC "[[E", {0, 59, 0, 63}},
    {"LinuxConsoleShiftF3IsF13", ESC "[25~", {0, 86}},
    // Cursor and editing keys.
    {"ArrowsCsi", ESC "[A" ESC "[B" ESC "[C" ESC "[D", {224, 72, 224, 80, 224, 77, 224, 75}},
    {"ArrowsApplicationMode", ESC "OA" ESC "OD", {224, 72, 224, 75}},
    {"HomeEnd", ESC "[H" ESC "[F" ESC "OH" ESC "OF", {224, 71, 224, 79, 224, 71, 224, 79}},
    {"HomeEndVt220", ESC "[1~" ESC "[4~" ESC "[7~" ESC "[8~", {224, 71, 224, 79, 224, 71, 224, 79}},
    {"InsertDeletePages",
     ESC "[2~" ESC "[3~" ESC "[5~" ESC "[6~",
     {224, 82, 224, 83, 224, 73, 224, 81}},
    // Modifiers, as the Windows console gives them.
    {"ShiftF1", ESC "[1;2P", {0, 84}},
    {"ShiftF1Ss3Form", ESC "O2P", {0, 84}},
    {"CtrlF5", ESC "[15;5~", {0, 98}},
    {"AltF10", ESC "[21;3~", {0, 113}},
    {"ShiftF12", ESC "[24;2~", {224, 136}},
    {"ShiftUpIsUp", ESC "[1;2A", {224, 72}},
    {"CtrlUp", ESC "[1;5A", {224, 141}},
    {"AltUpStartsWithZero", ESC "[1;3A", {0, 152}},
    {"CtrlDelete", ESC "[3;5~", {224, 147}},
    {"ShiftTab", ESC "[Z", {0, 15}},
    {"RxvtCtrlInsert", ESC "[2^", {224, 146}},
    {"RxvtCtrlLeft", ESC "Od", {224, 115}},
    // Keypad in application mode.
    {"KeypadEnterAndDigits", ESC "OM" ESC "Op" ESC "Oy" ESC "Ok", {13, '0', '9', '+'}},
    // Unknown sequences are swallowed whole; what follows is read normally.
    {"UnknownTildeKey", ESC "[99~x", {'x'}},
    {"DeviceAttributesReply", ESC "[?1;2cx", {'x'}},
    {"BracketedPasteMarkers", ESC "[200~hi" ESC "[201~", {'h', 'i'}},
    {"LinuxConsolePause", ESC "[Px", {'x'}},
    {"LinuxConsoleUnknown", ESC "[[Zx", {'x'}},
    {"UnknownSs3", ESC "Ozx", {'x'}},
    {"ModifierNoTerminalSends", ESC "[1;99A", {}},
    {"TooManyParameters", ESC "[1;2;3A", {}},
    {"HugeParameter", ESC "[99999999999999999999~", {}},
    {"AltWithALetter",
     ESC "x"
         "y",
     {'y'}},
    {"UnfinishedSequenceAtTheEnd", ESC "[1;", {}},
    // Keys typed into the middle of a sequence count as keys.
    {"EscapeThenCtrlC", ESC "\x03", {27, 3}},
    {"EscapeThenEnter", ESC "\r", {27, 13}},
    {"CtrlCInsideASequence", ESC "[1\x03", {3}},
    {"DeleteInsideASequence", ESC "[\x7f", {8}},
    {"EscapeRestartsASequence", ESC "[1;" ESC "[A", {224, 72}},
    {"TwoEscapes", ESC ESC, {27, 27}},
    {"EscapeBeforeAnArrow", ESC ESC "[A", {27, 224, 72}},
};

class DecodeKeys : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeKeys, GivesWindowsConsoleCodes) {
    EXPECT_EQ(decode(GetParam().bytes), GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(Table, DecodeKeys, ::testing::ValuesIn(decode_cases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(KeyDecoder, WaitsOnlyInsideASequence) {
    KeyDecoder decoder;
    EXPECT_FALSE(key_decoder_waiting(decoder));
    EXPECT_EQ(key_decoder_feed(decoder, 27).count, 0);
    EXPECT_TRUE(key_decoder_waiting(decoder));
    const KeyCodes escape = key_decoder_expire(decoder);
    ASSERT_EQ(escape.count, 1);
    EXPECT_EQ(escape.code[0], 27);
    EXPECT_FALSE(key_decoder_waiting(decoder));
    EXPECT_EQ(key_decoder_expire(decoder).count, 0);
}

TEST(KeyDecoder, ReportsCodesBeyondTheCapacityWithoutWritingThem) {
    uint8_t codes[2] = {99, 99};
    const uint8_t f1[] = {27, 'O', 'P'};
    EXPECT_EQ(decode_key_bytes(f1, sizeof f1, codes, 1), 2U);
    EXPECT_EQ(codes[0], 0);
    EXPECT_EQ(codes[1], 99);
}

// Random terminal input: never more codes than bytes, the same codes whether
// the bytes come one by one or all at once, and a known key decodes afterwards.
TEST(KeyDecoder, RandomInputStaysBounded) {
    std::mt19937 random(12345);
    const char alphabet[] = "\x1b\x1b\x1b[[O0123456789;;~ABPZ?$^\x03\x7f\xe0"
                            "az";
    for (int round = 0; round < 2000; ++round) {
        std::string bytes;
        const int length = static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) {
            bytes.push_back(random() % 4 == 0 ? char(random() % 256)
                                              : alphabet[random() % (sizeof alphabet - 1)]);
        }
        const std::vector<int> whole = decode(bytes);
        ASSERT_LE(whole.size(), bytes.size() + 1);
        KeyDecoder decoder;
        std::vector<int> stepwise;
        for (char byte : bytes) {
            const KeyCodes out = key_decoder_feed(decoder, static_cast<uint8_t>(byte));
            stepwise.insert(stepwise.end(), out.code, out.code + out.count);
        }
        const KeyCodes rest = key_decoder_expire(decoder);
        stepwise.insert(stepwise.end(), rest.code, rest.code + rest.count);
        ASSERT_EQ(stepwise, whole);
        const std::string tail = ESC "[A";
        for (char byte : tail) {
            const KeyCodes out = key_decoder_feed(decoder, static_cast<uint8_t>(byte));
            if (byte == 'A') {
                ASSERT_EQ(out.count, 2);
                EXPECT_EQ(out.code[1], 72);
            }
        }
    }
}

int out_of_range_key() {
    return 300;
}

TEST(KeyReader, AScriptedCodeOutsideTheByteRangeReadsAsACancel) {
    set_key_source(out_of_range_key);
    EXPECT_EQ(read_key(), 3);
    set_key_source(nullptr);
}

} // namespace
