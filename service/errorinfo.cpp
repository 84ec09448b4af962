#include "service/errorinfo.h"

ErrorInfo::ErrorInfo(int code, const QString &message, int offset)
    : m_code(code)
    , m_message(message)
    , m_offset(offset)
{ }

bool ErrorInfo::hasError() const
{
    return m_code != 0;
}

int ErrorInfo::code() const
{
    return m_code;
}

QString ErrorInfo::message() const
{
    return m_message;
}

int ErrorInfo::offset() const
{
    return m_offset;
}

void ErrorInfo::set(int code, const QString &message, int offset)
{
    m_code = code;
    m_message = message;
    m_offset = offset;
}

void ErrorInfo::clear()
{
    set(0, QString(), -1);
}
