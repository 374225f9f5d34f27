#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

// Sends standard output to /dev/null for its lifetime (the attach of the
// segment opener logs one line per segment).
class Quiet_Stdout {
public:
    Quiet_Stdout()
    {
        std::fflush(stdout);
        m_saved = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null != -1) {
            dup2(null, STDOUT_FILENO);
            close(null);
        }
    }
    ~Quiet_Stdout()
    {
        std::fflush(stdout);
        if (m_saved != -1) {
            dup2(m_saved, STDOUT_FILENO);
            close(m_saved);
        }
    }
    Quiet_Stdout(const Quiet_Stdout&) = delete;
    Quiet_Stdout& operator=(const Quiet_Stdout&) = delete;

private:
    int m_saved = -1;
};
