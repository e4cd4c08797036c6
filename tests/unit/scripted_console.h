// Test support for the console: the operator's keys from a script, and what
// the program writes to standard output and standard error, captured.
#pragma once

#include "platform/key_reader.h"

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

// Plays a list of key codes to the line editor; once they run out every read
// is a cancel (3), so a test that asks for more keys than it scripted ends.
struct ScriptedKeys {
    static inline std::vector<int> codes;
    static inline size_t next = 0;

    static int read() { return next < codes.size() ? codes[next++] : 3; }

    explicit ScriptedKeys(std::vector<int> keys) {
        codes = std::move(keys);
        next = 0;
        set_key_source(&ScriptedKeys::read);
    }
    ~ScriptedKeys() { set_key_source(nullptr); }
    size_t unread() const { return codes.size() - next; }
};

// Keys as typed: each character of the text is one code.
inline std::vector<int> typed(const std::string& text) {
    std::vector<int> codes;
    for (unsigned char c : text) {
        codes.push_back(c);
    }
    return codes;
}

// Captures everything written to one of the standard streams while it lives.
class CapturedStream {
  public:
    explicit CapturedStream(FILE* stream) : stream_(stream), fd_(fileno(stream)) {
        std::fflush(stream_);
        file_ = std::tmpfile();
        saved_ = dup(fd_);
        dup2(fileno(file_), fd_);
    }
    ~CapturedStream() { text(); }

    // Ends the capture (on the first call) and returns what was written.
    const std::string& text() {
        if (saved_ >= 0) {
            std::fflush(stream_);
            dup2(saved_, fd_);
            close(saved_);
            saved_ = -1;
            std::rewind(file_);
            int c;
            while ((c = std::fgetc(file_)) != EOF) {
                text_.push_back(static_cast<char>(c));
            }
            std::fclose(file_);
        }
        return text_;
    }

    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

  private:
    FILE* stream_;
    int fd_;
    FILE* file_ = nullptr;
    int saved_ = -1;
    std::string text_;
};
