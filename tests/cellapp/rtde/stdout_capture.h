#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>

// Standard output of the whole process (all threads) into a file while the
// object lives; text() gives what arrived so far, colour escapes removed.
// Text written after destruction goes to the real standard output again.
class Stdout_Capture {
public:
    explicit Stdout_Capture(const std::string& path = "/tmp/captured_stdout.log") : m_path(path)
    {
        std::cout.flush();
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDOUT_FILENO);
        close(fd);
    }
    // Gives the captured text back to standard output when the test has
    // failed: the failure messages of the test are among it.
    ~Stdout_Capture()
    {
        const std::string captured = text();
        dup2(m_saved, STDOUT_FILENO);
        close(m_saved);
        if (::testing::Test::HasFailure())
            std::cout << "---- captured standard output ----\n" << captured << "----" << std::endl;
    }
    Stdout_Capture(const Stdout_Capture&) = delete;
    Stdout_Capture& operator=(const Stdout_Capture&) = delete;

    std::string text() const
    {
        std::cout.flush();
        std::fflush(stdout);
        std::ifstream file(m_path);
        std::ostringstream text;
        text << file.rdbuf();
        static const std::regex colour("\x1b\\[[0-9;]*m");
        return std::regex_replace(text.str(), colour, "");
    }

private:
    std::string m_path;
    int m_saved = -1;
};
