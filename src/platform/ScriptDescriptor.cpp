#include "ScriptRunner.h"

#include <cmath>
#include <limits>

namespace platform {

qint32 ScriptDescriptor::int32Value() const {
    if (!text_)
        return 0;
    bool ok = false;
    const double v = text_->trimmed().toDouble(&ok);
    if (!ok || std::isnan(v))
        return 0;
    const double r = std::round(v);
    if (r >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (r <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint32(r);
}

bool ScriptDescriptor::booleanValue() const {
    if (!text_)
        return false;
    const QString t = text_->trimmed().toLower();
    if (t == u"true" || t == u"yes")
        return true;
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok && v != 0.0;
}

} // namespace platform
