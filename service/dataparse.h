#ifndef DATAPARSE_H
#define DATAPARSE_H

#include <QObject>
#include <QString>
#include <QVariant>

class ErrorInfo;

// Conversion between JSON text and QVariant values.
class DataParse : public QObject
{
    Q_OBJECT

public:
    explicit DataParse(QObject *parent = nullptr);

    // An object gives a QVariantMap, an array a QVariantList, a scalar the matching
    // variant. Empty or malformed text gives an invalid variant; when error is given it
    // then holds the parser's complaint (and is cleared on success).
    static QVariant jsonToVariant(const QString &json, ErrorInfo *error);
    // Compact JSON text of a map, a list or a scalar.
    static QString variantToJson(const QVariant &value);
};

#endif // DATAPARSE_H
