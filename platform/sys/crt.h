#pragma once
// The C runtime behaviour the programs rely on: low-level files with text mode
// (each '\n' stored as CR LF) and the runtime's own random generator.
#include <cstdint>

namespace crt {

constexpr int O_RDONLY_ = 0x0000;
constexpr int O_WRONLY_ = 0x0001;
constexpr int O_RDWR_ = 0x0002;
constexpr int O_APPEND_ = 0x0008;
constexpr int O_CREAT_ = 0x0100;
constexpr int O_TRUNC_ = 0x0200;
constexpr int O_EXCL_ = 0x0400;
constexpr int O_TEXT_ = 0x4000;
constexpr int O_BINARY_ = 0x8000;

constexpr int SEEK_SET_ = 0;
constexpr int SEEK_CUR_ = 1;
constexpr int SEEK_END_ = 2;

// Opens a file; the path may use Windows separators and any letter case.
// Text mode (the default unless O_BINARY_) turns each '\n' written into CR LF.
// Returns a descriptor or -1.
int Open(const char* path, int flags, int permissions = 0644);
int Close(int fd);
// Reads up to count bytes (binary: no CR LF translation on reading). -1 on error.
int Read(int fd, void* buffer, unsigned count);
// Writes count bytes in one system call; returns the bytes of the caller's buffer
// written, or -1.
int Write(int fd, const void* buffer, unsigned count);
long Seek(int fd, long offset, int origin);

// The runtime's generator: per-thread state starting at 1,
// state = state * 214013 + 2531011, result = bits 16..30 (0..32767).
constexpr int RAND_MAX_ = 0x7FFF;
int Rand();
void Srand(unsigned seed);

// The same generator as an object, for code that owns its sequence.
struct RandomGenerator {
    std::uint32_t state = 1;
    int Next()
    {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFFu);
    }
};

}  // namespace crt
