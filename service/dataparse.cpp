#include "service/dataparse.h"

#include "service/errorinfo.h"
#include "service/servicelog.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

namespace {

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

// QJsonDocument accepts only an object or an array at the top, so a scalar is parsed as
// the single element of an array around it.
QVariant parseScalar(const QByteArray &utf8, QJsonParseError *parseError)
{
    const QJsonDocument wrapped = QJsonDocument::fromJson("[" + utf8 + "]", parseError);
    if (parseError->error != QJsonParseError::NoError)
        return QVariant();
    const QJsonArray array = wrapped.array();
    if (array.size() != 1) {
        parseError->error = QJsonParseError::IllegalValue;
        parseError->offset = 0;
        return QVariant();
    }
    return array.first().toVariant();
}

} // namespace

DataParse::DataParse(QObject *parent)
    : QObject(parent)
{ }

QVariant DataParse::jsonToVariant(const QString &json, ErrorInfo *error)
{
    if (error)
        error->clear();
    if (isBlank(json)) {
        if (error)
            error->set(QJsonParseError::IllegalValue, QStringLiteral("empty text"), 0);
        return QVariant();
    }

    const QByteArray utf8 = json.toUtf8();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(utf8, &parseError);
    if (parseError.error == QJsonParseError::NoError)
        return document.toVariant();

    const QJsonParseError documentError = parseError;
    const QVariant scalar = parseScalar(utf8, &parseError);
    if (parseError.error == QJsonParseError::NoError)
        return scalar;

    qCDebug(serviceLog) << "DataParse: not JSON:" << documentError.errorString() << "at"
                        << documentError.offset;
    if (error)
        error->set(documentError.error, documentError.errorString(), documentError.offset);
    return QVariant();
}

QString DataParse::variantToJson(const QVariant &value)
{
    const int type = value.userType();
    if (type == QMetaType::QVariantMap || type == QMetaType::QVariantHash || type == QMetaType::QVariantList
        || type == QMetaType::QStringList) {
        return QString::fromUtf8(QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact));
    }

    // A scalar is written as the element of a one-element array, brackets dropped.
    const QByteArray array
        = QJsonDocument(QJsonArray { QJsonValue::fromVariant(value) }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}
