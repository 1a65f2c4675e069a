// platform::PropertyList::parse on any bytes: a value, or a description of the fault.
#include "platform/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray xml = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const std::optional<QVariant> root = platform::PropertyList::parse(xml, &error);
    if (!root && error.isEmpty())
        std::abort(); // a refusal always says why
    return 0;
}
