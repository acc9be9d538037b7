// A text file's lines, without their line ends; none for a missing file.
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace pelvar::test {

inline std::vector<std::string> FileLines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace pelvar::test
