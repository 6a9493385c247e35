#pragma once

// File permissions as an ordinary account meets them, also when the tests run as root: for
// as long as the object lives, the calling thread works without the capabilities that let
// root read, write and search any file (its own files and folders behave as the mode says).
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace telvox::test {

class Unprivileged
{
public:
    Unprivileged()
    {
        if (::geteuid() != 0 || !get(m_saved))
            return;
        __user_cap_data_struct data[2] = {m_saved[0], m_saved[1]};
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            data[cap / 32].effective &= ~(1u << (cap % 32));
        m_dropped = set(data);
    }
    ~Unprivileged()
    {
        if (m_dropped)
            set(m_saved);
    }
    Unprivileged(const Unprivileged &) = delete;
    Unprivileged &operator=(const Unprivileged &) = delete;

    // Whether permissions now apply (an ordinary account, or root without its overrides).
    bool effective() const { return ::geteuid() != 0 || m_dropped; }

private:
    static bool get(__user_cap_data_struct (&data)[2])
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capget, &header, data) == 0;
    }
    static bool set(__user_cap_data_struct (&data)[2])
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(SYS_capset, &header, data) == 0;
    }

    __user_cap_data_struct m_saved[2] = {};
    bool m_dropped = false;
};

} // namespace telvox::test
