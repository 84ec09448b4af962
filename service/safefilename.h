#ifndef SAFEFILENAME_H
#define SAFEFILENAME_H

#include <QString>

// Decides which names may become a file or folder name beside the program: task numbers
// and the components of archive entries alike. The rules are Windows' strictest on every
// platform, so a name accepted on one system means the same file on the machine's PC.
class SafeFileName
{
public:
    // True for a non-empty name that is one ordinary file name: no separator, drive or
    // stream colon, control or wildcard character, no device name such as "CON" or
    // "com1.txt", and no trailing dot or space (Windows drops them, so "x. " would be "x"
    // and ". ." the folder itself).
    static bool isSafeComponent(const QString &name);

private:
    static bool isDeviceName(const QString &name);
};

#endif // SAFEFILENAME_H
