#include "httptransfer.h"

#include "dataparse.h"
#include "network.h"

#include <QDebug>
#include <QUrl>

namespace {

Network *defaultClient()
{
    return Network::getInstance(QStringLiteral("defalut"));
}

// Each value becomes exactly one path segment: "/", "?", "#", "%" and spaces are escaped
// so that they reach the service as part of the value.
QString pathSegment(const QVariant &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value.toString()));
}

} // namespace

HttpTransfer::HttpTransfer()
    : QObject(nullptr)
{ }

QVariantMap HttpTransfer::login(QVariantMap iDataMap)
{
    return toReplyMap(sendPath(QStringLiteral("user/login/%1/%2"), iDataMap,
        { QStringLiteral("username"), QStringLiteral("password") }));
}

QVariantMap HttpTransfer::getTaskList(QVariantMap iDataMap)
{
    const QString reply = sendPath(QStringLiteral("device/task_list/%1/%2"), iDataMap,
        { QStringLiteral("uid"), QStringLiteral("time") });
    qDebug() << "qqqqqqqqqqqqqqq" << reply;
    return toReplyMap(reply);
}

QVariantMap HttpTransfer::changeStatu(QVariantMap iDataMap)
{
    return toReplyMap(sendPath(QStringLiteral("device/change_status/%1/%2"), iDataMap,
        { QStringLiteral("task_id"), QStringLiteral("status") }));
}

QVariantMap HttpTransfer::deleteStatu(QVariantMap iDataMap)
{
    const QString reply = sendPath(QStringLiteral("device/dele/%1"), iDataMap, { QStringLiteral("id") });
    qDebug() << "wqqqqqq" << reply;
    return toReplyMap(reply);
}

QVariantMap HttpTransfer::registraAndmodifica(QVariantMap iDataMap)
{
    // The JSON is escaped so that "&", "+", "=" and "%" in a value survive form decoding.
    const QString json = DataParse::variantToJson(QVariant(iDataMap));
    QByteArray body = QByteArrayLiteral("data=") + QUrl::toPercentEncoding(json);
    const QString reply = defaultClient()->getPostResult(QStringLiteral("device/record"), body);
    return toReplyMap(reply);
}

// The values are substituted in one pass, so a "%2" inside the first value stays text.
// A value of "." or ".." cannot be sent as a segment at all: the HTTP stack folds it into
// the path, which would send the request to another address, so none is sent.
QString HttpTransfer::sendPath(
    const QString &pathTemplate, const QVariantMap &iDataMap, const QStringList &keys)
{
    QStringList segments;
    for (const QString &key : keys)
        segments << pathSegment(iDataMap.value(key));
    const QString path = segments.size() == 1 ? pathTemplate.arg(segments.at(0))
                                              : pathTemplate.arg(segments.at(0), segments.at(1));
    for (const QString &segment : qAsConst(segments)) {
        if (segment == QLatin1String(".") || segment == QLatin1String("..")) {
            qDebug() << "HttpTransfer: not sent, a value is a dot segment:" << path;
            return QString();
        }
    }
    return defaultClient()->runCmd(path, false);
}

QVariantMap HttpTransfer::toReplyMap(const QString &reply)
{
    return DataParse::jsonToVariant(reply, nullptr).toMap();
}
