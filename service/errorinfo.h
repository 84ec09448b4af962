#ifndef ERRORINFO_H
#define ERRORINFO_H

#include <QMetaType>
#include <QString>

// An error record that an operation fills when it is handed one; a default-constructed
// record means "no error".
class ErrorInfo
{
    Q_GADGET

public:
    ErrorInfo() = default;
    ErrorInfo(int code, const QString &message, int offset = -1);

    bool hasError() const;
    int code() const;
    QString message() const;
    // Position in the input the error refers to, or -1 when it has none.
    int offset() const;

    void set(int code, const QString &message, int offset = -1);
    void clear();

private:
    int m_code = 0;
    QString m_message;
    int m_offset = -1;
};

Q_DECLARE_METATYPE(ErrorInfo)

#endif // ERRORINFO_H
