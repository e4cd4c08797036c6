// The serial service's version word: major number in the bits above 8 (sign
// kept), minor in bits 4-7, patch in bits 0-3. The minor number is printed in
// decimal: word 421 (0x1A5) is version 1.10.5.
#pragma once

struct VersionNumbers {
    int major_number;
    int minor_number;
    int patch_number;
};

constexpr VersionNumbers split_version_word(int word) {
    return {word >> 8, (word >> 4) & 0xF, word & 0xF};
}
