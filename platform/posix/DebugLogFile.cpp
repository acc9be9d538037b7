#include "platform/DebugLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelvar {

std::FILE* CreateEmptyLogFile(const char* name)
{
    // In a shared, group-writable directory a planted link would otherwise
    // make every connect truncate another file. O_NONBLOCK: a FIFO in its
    // place must not hang the open.
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "w");
    if (!file)
        close(fd);
    return file;
}

} // namespace pelvar
