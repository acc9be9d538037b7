#include "camera/TextFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/FileReplace.h"

namespace pelvar {

std::string LimitText(std::size_t limit)
{
    if (limit % (1u << 20) == 0)
        return std::to_string(limit >> 20) + " MiB";
    if (limit % 1024 == 0)
        return std::to_string(limit >> 10) + " KiB";
    return std::to_string(limit) + " bytes";
}

namespace {

std::string OverLimit(std::size_t limit) { return "is over the " + LimitText(limit) + " limit"; }

} // namespace

bool ReadTextFile(const std::string& path, std::size_t limit, std::string* text, std::string* why)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec) {
        *why = ec.value() == ENOENT ? std::strerror(ENOENT) : ec.message();
        return false;
    }
    if (fs::is_directory(status)) {
        *why = "is a directory";
        return false;
    }
    // A device or a pipe may never end (/dev/zero) or never begin.
    if (!fs::is_regular_file(status)) {
        *why = "is not a regular file";
        return false;
    }
    const std::uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > limit) {
        *why = OverLimit(limit);
        return false;
    }
    errno = 0;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) {
        *why = errno != 0 ? std::strerror(errno) : "cannot be opened";
        return false;
    }
    // The file may grow between the look and the read: the read stops one
    // block past the limit either way.
    const bool ok = ReadTextStream(in, limit, text, why);
    std::fclose(in);
    return ok;
}

bool ReadTextStream(std::FILE* in, std::size_t limit, std::string* text, std::string* why)
{
    text->clear();
    char block[65536];
    for (;;) {
        const std::size_t n = std::fread(block, 1, sizeof block, in);
        text->append(block, n);
        if (text->size() > limit) {
            *why = OverLimit(limit);
            return false;
        }
        if (n < sizeof block)
            break;
    }
    if (std::ferror(in)) {
        *why = std::strerror(errno);
        return false;
    }
    return true;
}

bool WriteTextFileReplacing(const std::string& path, const std::string& text, std::string* error)
{
    const std::string temporary = path + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) {
        *error = path + ": cannot write: " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    int failure = written ? 0 : errno;
    if (std::fclose(f) != 0 && failure == 0)
        failure = errno;
    if (failure == 0)
        failure = ReplaceFileWith(temporary.c_str(), path.c_str());
    if (failure != 0) {
        *error = path + ": cannot write: " + std::strerror(failure);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace pelvar
