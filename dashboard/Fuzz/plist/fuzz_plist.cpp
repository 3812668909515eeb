// The XML property-list reader (PropertyList::parse): it either fails with a
// sentence and no value, or succeeds with a value built only of the types it
// documents (dict, array, string, integer, real, Boolean, date, data).
#include "FuzzSupport.h"

#include "platform/PropertyList.h"

#include <QDateTime>

namespace {

bool documentedTypes(const QVariant &value, int depth)
{
    if (depth > 200)
        return false;
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
        for (const QVariant &item : value.toMap())
            if (!documentedTypes(item, depth + 1))
                return false;
        return true;
    case QMetaType::QVariantList:
        for (const QVariant &item : value.toList())
            if (!documentedTypes(item, depth + 1))
                return false;
        return true;
    case QMetaType::QDateTime:
        return value.toDateTime().isValid() && value.toDateTime().timeSpec() == Qt::UTC;
    case QMetaType::QString:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
    case QMetaType::QByteArray:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray xml(reinterpret_cast<const char *>(data), qsizetype(size));
    const PropertyList::ParseResult result = PropertyList::parse(xml);
    if (!result.ok()) {
        FUZZ_CHECK(!result.value.isValid(), result.error);
        return 0;
    }
    FUZZ_CHECK(result.value.isValid(), QStringLiteral("success without a value"));
    FUZZ_CHECK(documentedTypes(result.value, 0), QString::fromLatin1(result.value.typeName()));
    return 0;
}
