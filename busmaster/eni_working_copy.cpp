#include "eni_working_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "ecm_log.h"

namespace {

std::runtime_error failure(const std::string& what)
{
    return std::runtime_error("[ENI_Working_Copy][make_ex] " + what);
}

std::runtime_error system_failure(const std::string& what)
{
    return failure(what + ": " + std::strerror(errno));
}

// Closes the descriptor it owns.
class Owned_Fd {
public:
    explicit Owned_Fd(int fd) : m_fd(fd) {}
    ~Owned_Fd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Owned_Fd(const Owned_Fd&) = delete;
    Owned_Fd& operator=(const Owned_Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now; false when close fails.
    bool close_now()
    {
        const int fd = m_fd;
        m_fd = -1;
        return close(fd) == 0;
    }

private:
    int m_fd;
};

void require_regular(const struct stat& st, const std::string& source)
{
    if (!S_ISREG(st.st_mode))
        throw failure(source + " is not a regular file");
}

void require_size(std::size_t size, std::size_t max_bytes, const std::string& source)
{
    if (size > max_bytes)
        throw failure(source + " is larger than " + std::to_string(max_bytes) + " bytes");
}

// The whole of a regular file of at most max_bytes. Its kind is checked
// before it is opened (opening a device may act on it) and again on the
// descriptor, which O_NONBLOCK keeps from waiting on a FIFO put in between.
std::string read_bounded_ex(const std::string& source, std::size_t max_bytes)
{
    struct stat st {};
    if (stat(source.c_str(), &st) != 0)
        throw system_failure(source);
    require_regular(st, source);
    Owned_Fd fd(open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        throw system_failure(source);
    if (fstat(fd.get(), &st) != 0)
        throw system_failure(source);
    require_regular(st, source);
    require_size(static_cast<std::size_t>(st.st_size), max_bytes, source);
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd.get(), chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw system_failure(source);
        if (n == 0)
            return text;
        text.append(chunk, static_cast<std::size_t>(n));
        require_size(text.size(), max_bytes, source);  // it may grow while read
    }
}

void write_all_ex(int fd, const std::string& text, const std::string& name)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw system_failure("cannot write " + name);
        done += static_cast<std::size_t>(n);
    }
}

// text into a fresh owner-only file, then renamed to copy: a file or a link
// planted at copy is replaced, never written through.
void write_owner_only_ex(const std::string& copy, const std::string& text)
{
    std::string name = copy + ".XXXXXX";
    Owned_Fd fd(mkostemp(&name[0], O_CLOEXEC));
    if (fd.get() < 0)
        throw system_failure("cannot create " + name);
    try {
        if (fchmod(fd.get(), 0600) != 0)
            throw system_failure("cannot protect " + name);
        write_all_ex(fd.get(), text, name);
        if (!fd.close_now())
            throw system_failure("cannot write " + name);
        if (rename(name.c_str(), copy.c_str()) != 0)
            throw system_failure("cannot rename " + name + " to " + copy);
    } catch (const std::exception&) {
        unlink(name.c_str());
        throw;
    }
}

}  // namespace

void ENI_Working_Copy::make_ex(const std::string& source, const std::string& copy, std::size_t max_bytes)
{
    // A refused source leaves no copy of an earlier one behind.
    if (std::remove(copy.c_str()) != 0 && errno != ENOENT)
        throw system_failure("cannot remove " + copy);
    std::string text = read_bounded_ex(source, max_bytes);
    for (std::size_t at = text.find("#x"); at != std::string::npos; at = text.find("#x", at + 2))
        text[at] = '0';
    write_owner_only_ex(copy, text);
}

std::unique_ptr<EtherCATConfig_Config> ENI_Working_Copy::load_ex(const std::string& source, const std::string& copy)
{
    make_ex(source, copy);
    try {
        return std::make_unique<EtherCATConfig_Config>(copy);
    } catch (const std::exception&) {
        if (std::remove(copy.c_str()) != 0)
            ecm_log_err("[ENI_Working_Copy][load_ex] cannot remove " + copy + ": " + std::strerror(errno));
        throw;
    }
}
