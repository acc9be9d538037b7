// Scoped environment variables and temporary port directories for tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace pelvar::test {

// Sets (or unsets) one variable for the scope and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// A fresh directory, mode 0700, removed with everything in it at scope end.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "pelvar-disc-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }

    // A private subdirectory (mode 0700), parents included.
    std::string MakeDir(const std::string& relative) const
    {
        std::filesystem::path dir = std::filesystem::path(m_path) / relative;
        std::filesystem::create_directories(dir);
        for (auto p = dir; p != std::filesystem::path(m_path); p = p.parent_path())
            std::filesystem::permissions(p, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
        return dir.string();
    }

private:
    std::string m_path;
};

} // namespace pelvar::test
