// A FILE* that writes into memory, to check what a function prints.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace pelvar::test {

class CapturedOutput {
public:
    CapturedOutput() : m_pFile(open_memstream(&m_pBuffer, &m_nSize)) {}
    ~CapturedOutput()
    {
        if (m_pFile)
            std::fclose(m_pFile);
        std::free(m_pBuffer);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::FILE* File() const { return m_pFile; }

    std::string Text()
    {
        std::fflush(m_pFile);
        return std::string(m_pBuffer, m_nSize);
    }

private:
    char* m_pBuffer = nullptr;
    std::size_t m_nSize = 0;
    std::FILE* m_pFile = nullptr;
};

} // namespace pelvar::test
