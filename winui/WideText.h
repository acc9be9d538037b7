// UTF-8 (the core's texts) to and from UTF-16 (the window system's).
#pragma once

#include <string>

namespace pelvar {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

} // namespace pelvar
