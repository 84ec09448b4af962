#ifndef LOCALPATH_H
#define LOCALPATH_H

#include <QString>

// Local paths that callers may hand over as "file:///" addresses.
class LocalPath
{
public:
    // The path a leading "file:///" (matched case-sensitively) stands for: "file:///C:/nc"
    // is "C:/nc" on Windows, "file:///home/nc" is "/home/nc" elsewhere. Any other text is
    // returned unchanged.
    static QString fromFileUrl(const QString &path);
};

#endif // LOCALPATH_H
