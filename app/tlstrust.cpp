#include "app/tlstrust.h"

#include "app/applog.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace {

// A few certificates in PEM take some kilobytes; a larger file is no CA file.
constexpr qint64 largestCaFile = 1024 * 1024;

} // namespace

// Only a plain file of a sensible size is read: a pipe or a device named there would keep
// the start-up waiting for ever, or read without end.
QString TlsTrust::addCompanyCa(const QString &caFile)
{
    if (caFile.isEmpty())
        return QString();
    const QFileInfo info(caFile);
    if (info.exists() && (!info.isFile() || info.size() > largestCaFile)) {
        qCWarning(appLog).noquote() << "caFile" << caFile
                                    << "is not read: it is no plain file of at most 1 MiB";
        return tr("公司证书文件不是普通文件或大于 1 MiB，未读取：%1").arg(QDir::toNativeSeparators(caFile));
    }
    QFile file(caFile);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(appLog).noquote() << "caFile" << caFile << "cannot be read:" << file.errorString();
        return tr("公司证书文件无法读取：%1").arg(QDir::toNativeSeparators(caFile));
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (certificates.isEmpty()) {
        qCWarning(appLog).noquote() << "caFile" << caFile << "holds no PEM certificate";
        return tr("公司证书文件中没有证书：%1").arg(QDir::toNativeSeparators(caFile));
    }

    // Once a configuration has certificates of its own, Qt stops loading the system's roots
    // as they are needed, so they are listed here beside the company's.
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(QSslConfiguration::systemCaCertificates() + certificates);
    QSslConfiguration::setDefaultConfiguration(configuration);
    qCInfo(appLog).noquote() << "trusting" << certificates.size() << "certificate(s) from" << caFile
                             << "beside the system's roots";
    return QString();
}
