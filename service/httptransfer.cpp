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

HttpTransfer::HttpTransfer() : QObject(nullptr)
{
}

QVariantMap HttpTransfer::login(QVariantMap iDataMap)
{
    const QString path = fillPath(QStringLiteral("user/login/%1/%2"), iDataMap,
                                  {QStringLiteral("username"), QStringLiteral("password")});
    return toReplyMap(requestPath(path));
}

QVariantMap HttpTransfer::getTaskList(QVariantMap iDataMap)
{
    const QString path = fillPath(QStringLiteral("device/task_list/%1/%2"), iDataMap,
                                  {QStringLiteral("uid"), QStringLiteral("time")});
    const QString reply = requestPath(path);
    qDebug() << "qqqqqqqqqqqqqqq" << reply;
    return toReplyMap(reply);
}

QVariantMap HttpTransfer::changeStatu(QVariantMap iDataMap)
{
    const QString path = fillPath(QStringLiteral("device/change_status/%1/%2"), iDataMap,
                                  {QStringLiteral("task_id"), QStringLiteral("status")});
    return toReplyMap(requestPath(path));
}

QVariantMap HttpTransfer::deleteStatu(QVariantMap iDataMap)
{
    const QString path =
        fillPath(QStringLiteral("device/dele/%1"), iDataMap, {QStringLiteral("id")});
    const QString reply = requestPath(path);
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
QString HttpTransfer::fillPath(const QString &pathTemplate, const QVariantMap &iDataMap,
                               const QStringList &keys)
{
    QStringList segments;
    for (const QString &key : keys)
        segments << pathSegment(iDataMap.value(key));
    if (segments.size() == 1)
        return pathTemplate.arg(segments.at(0));
    return pathTemplate.arg(segments.at(0), segments.at(1));
}

QString HttpTransfer::requestPath(const QString &path)
{
    return defaultClient()->runCmd(path, false);
}

QVariantMap HttpTransfer::toReplyMap(const QString &reply)
{
    return DataParse::jsonToVariant(reply, nullptr).toMap();
}
