#ifndef DISKSPACE_H
#define DISKSPACE_H

#include <QString>

// Room left on the volume a file is written to. The program never fills a volume to the
// last byte: the machine's own software and the system need some room on the same disk.
class DiskSpace
{
public:
    // What every write leaves free on its volume.
    static constexpr qint64 defaultReserve = qint64(64) << 20;

    // The bytes that may still be written to the volume holding path (a file or folder, which
    // need not exist yet) while reserve bytes stay free; negative when less than the reserve
    // is free already. When the volume cannot be asked, the largest qint64.
    static qint64 spareBytes(const QString &path, qint64 reserve);
};

#endif // DISKSPACE_H
