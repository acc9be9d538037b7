// --port's forms besides a number: a network port rfc2217://HOST:PORT and,
// where the system has them, a device path. Either gets a port number for
// the run (the highest one free), under which the camera logic finds it.
#pragma once

#include <string>

namespace pelvar {

// False with one line in *error for a malformed name; false with *error
// empty when `text` is no name at all (a number, or a typo of one).
bool ParsePortName(const std::string& text, int* port, std::string* error);

} // namespace pelvar
