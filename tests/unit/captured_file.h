// A stdio stream whose text a test reads back (a temporary file, removed when
// closed; open_memstream exists on POSIX systems only).
#pragma once

#include <cstdio>
#include <string>

class CapturedFile {
  public:
    CapturedFile() : file_(std::tmpfile()) {}
    ~CapturedFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    CapturedFile(const CapturedFile&) = delete;
    CapturedFile& operator=(const CapturedFile&) = delete;

    std::FILE* stream() const { return file_; }

    // Everything written so far, byte for byte.
    std::string text() const {
        std::string out;
        if (file_ == nullptr) {
            return out;
        }
        std::fflush(file_);
        std::rewind(file_);
        char chunk[4096];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file_)) > 0) {
            out.append(chunk, got);
        }
        return out;
    }

  private:
    std::FILE* file_;
};
