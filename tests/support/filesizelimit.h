#ifndef FILESIZELIMIT_H
#define FILESIZELIMIT_H

#include <QtGlobal>

// Makes every file this process writes fail beyond a size, as a full disk makes the last
// writes fail, for as long as the object lives. Only Unix has such a limit (RLIMIT_FSIZE);
// elsewhere isActive() is false.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isActive() const;

private:
    bool m_active = false;
    quint64 m_previous = 0;
    void (*m_previousHandler)(int) = nullptr;
};

#endif // FILESIZELIMIT_H
