// Files a user names (scripts, register maps, presets, settings) read whole,
// within a size limit: a directory, a device or a pipe is refused before it
// is read, so `/dev/zero` or a directory gets one clear line at once instead
// of a long read and a misleading parse error.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace pelvar {

// Scripts, maps and presets are written by hand or by a short program; a
// larger file is no such thing.
constexpr std::size_t kUserFileLimit = 4u << 20;

// The whole regular file into *text; false with the reason in *why:
// "No such file or directory", "is a directory", "is not a regular file",
// "is over the 4 MiB limit".
bool ReadTextFile(const std::string& path, std::size_t limit, std::string* text, std::string* why);

// The whole of a stream (standard input) into *text, at most `limit` bytes;
// false with the reason in *why ("is over the 4 MiB limit", or the system's).
bool ReadTextStream(std::FILE* in, std::size_t limit, std::string* text, std::string* why);

// Written beside `path` and renamed over it, so a failed write never leaves
// half a file where a good one was. False with *error "PATH: cannot write: why".
bool WriteTextFileReplacing(const std::string& path, const std::string& text, std::string* error);

// "4 MiB": a limit as the messages name it.
std::string LimitText(std::size_t limit);

} // namespace pelvar
