#include "tests/support/filesizelimit.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>

// Writes beyond the limit then fail with EFBIG instead of ending the process.
FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
        return;
    m_previous = limit.rlim_cur;
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = rlim_t(bytes);
    m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (!m_active)
        return;
    rlimit limit {};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(m_previous);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, m_previousHandler);
}
#else
FileSizeLimit::FileSizeLimit(qint64) { }

FileSizeLimit::~FileSizeLimit() = default;
#endif

bool FileSizeLimit::isActive() const
{
    return m_active;
}
