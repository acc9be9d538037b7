// What a function printed to a FILE*, through a temporary file (Windows has
// no open_memstream).
#pragma once

#include <cstdio>
#include <string>

namespace pelvar::test {

class FileOutput {
public:
    FileOutput() : m_pFile(std::tmpfile()) {}
    ~FileOutput()
    {
        if (m_pFile)
            std::fclose(m_pFile);
    }
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    std::FILE* File() const { return m_pFile; }

    std::string Text()
    {
        std::fflush(m_pFile);
        std::rewind(m_pFile);
        std::string text;
        char buf[512];
        while (std::size_t n = std::fread(buf, 1, sizeof buf, m_pFile))
            text.append(buf, n);
        return text;
    }

private:
    std::FILE* m_pFile;
};

} // namespace pelvar::test
