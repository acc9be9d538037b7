// termios2 (arbitrary bit rates, exact save and restore) kept in its own file:
// the kernel's <asm/termbits.h> and glibc's <termios.h> cannot share one.
#pragma once

#include <cstdint>

namespace pelvar {

struct SavedTermios {
    alignas(8) unsigned char raw[64];
    bool valid = false;
};

bool SaveTermios2(int fd, SavedTermios* saved);
bool RestoreTermios2(int fd, const SavedTermios& saved);
// Sets input and output speed to `baud` through BOTHER.
bool SetCustomBaud(int fd, std::uint32_t baud);

} // namespace pelvar
