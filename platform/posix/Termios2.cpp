#include "platform/posix/Termios2.h"

#include <asm/termbits.h>
#include <cstring>
#include <sys/ioctl.h>

namespace pelvar {

static_assert(sizeof(struct termios2) <= sizeof(SavedTermios::raw));

bool SaveTermios2(int fd, SavedTermios* saved)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    std::memcpy(saved->raw, &t, sizeof t);
    saved->valid = true;
    return true;
}

bool RestoreTermios2(int fd, const SavedTermios& saved)
{
    if (!saved.valid)
        return true;
    struct termios2 t {};
    std::memcpy(&t, saved.raw, sizeof t);
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool SetCustomBaud(int fd, std::uint32_t baud)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag &= ~CBAUD;
    t.c_cflag |= BOTHER;
    t.c_cflag &= ~(CBAUD << IBSHIFT);
    t.c_cflag |= BOTHER << IBSHIFT;
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &t) == 0;
}

} // namespace pelvar
