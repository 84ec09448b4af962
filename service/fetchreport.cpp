#include "service/fetchreport.h"

#include "history/historyentry.h"
#include "history/historyoutcome.h"

#include <QMetaEnum>

namespace {

template <typename Enum>
QString nameOf(Enum value)
{
    return QString::fromLatin1(QMetaEnum::fromType<Enum>().valueToKey(int(value)));
}

} // namespace

bool FetchReport::succeeded() const
{
    return fetch == Fetch::Fetched || fetch == Fetch::NothingToFetch;
}

bool FetchReport::inPlace() const
{
    if (identical)
        return true;
    return pdf ? fetch == Fetch::Fetched : unpack == ArchiveUnpacker::Result::Unpacked;
}

bool FetchReport::ncNotUpdated() const
{
    if (identical)
        return false;
    const bool nothingToUnpack
        = fetch == Fetch::NothingToFetch && unpack == ArchiveUnpacker::Result::NotAnArchive;
    return unpack != ArchiveUnpacker::Result::Unpacked && !nothingToUnpack;
}

// A label PDF is no archive, so NotAnArchive after its download says nothing.
bool FetchReport::unpackTellsSomething() const
{
    if (fetch == Fetch::NothingToFetch)
        return true;
    if (fetch != Fetch::Fetched)
        return false;
    return !pdf || unpack != ArchiveUnpacker::Result::NotAnArchive;
}

QStringList FetchReport::steps() const
{
    QStringList names { nameOf(fetch) };
    if (downloadRan)
        names << nameOf(download);
    if (identical && !pdf)
        names << QString::fromLatin1(HistoryEntry::identicalOutcome);
    else if (unpackTellsSomething())
        names << nameOf(unpack);
    return names;
}

QString FetchReport::logText() const
{
    const QByteArray hex = sha256.isEmpty() ? QByteArray("-") : sha256.toHex();
    return QStringLiteral("%1, %2 bytes, SHA-256 %3, %4 ms")
        .arg(steps().join(QLatin1Char(' ')))
        .arg(bytes)
        .arg(QString::fromLatin1(hex))
        .arg(durationMs);
}

QString FetchReport::historyOutcome() const
{
    if (identical)
        return QString::fromLatin1(HistoryEntry::identicalOutcome);
    return HistoryOutcome(steps()).text();
}
