// Parses arbitrary reply text with DataParse::jsonToVariant. A failure must come with an
// error record and a success without one; what was parsed, written back as JSON, must read
// back as the same JSON text.

#include "service/dataparse.h"
#include "service/errorinfo.h"
#include "tests/fuzz/fuzzcheck.h"

#include <QString>
#include <QVariant>

#include <cstddef>
#include <cstdint>

namespace {

void dropMessages(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(dropMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    ErrorInfo error(1, QStringLiteral("left over from an earlier call"));
    const QVariant value = DataParse::jsonToVariant(text, &error);
    FUZZ_CHECK(value.isValid() != error.hasError());
    FUZZ_CHECK(DataParse::jsonToVariant(text, nullptr) == value);
    if (!value.isValid())
        return 0;

    const QString json = DataParse::variantToJson(value);
    ErrorInfo againError;
    const QVariant again = DataParse::jsonToVariant(json, &againError);
    FUZZ_CHECK(!againError.hasError());
    FUZZ_CHECK(DataParse::variantToJson(again) == json);
    return 0;
}
