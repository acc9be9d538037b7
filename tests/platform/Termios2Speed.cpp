#include "tests/platform/Termios2Speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace pelvar::test {

bool ReadLineSpeeds(int fd, LineSpeeds* speeds)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    speeds->input = t.c_ispeed;
    speeds->output = t.c_ospeed;
    return true;
}

} // namespace pelvar::test
