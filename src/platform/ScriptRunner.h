#pragma once

#include <QString>

#include <optional>

namespace platform {

// The value a compiled script returned. A result may carry no text at all.
class ScriptDescriptor {
public:
    ScriptDescriptor() = default;
    explicit ScriptDescriptor(std::optional<QString> text)
        : text_(std::move(text)) {}

    const std::optional<QString>& stringValue() const { return text_; }
    // The value coerced to a signed 32-bit integer: a number text rounded to the nearest integer and
    // clamped; 0 for anything that is not a number.
    qint32 int32Value() const;
    // "true" or "yes" (any case, surrounding blanks ignored) or a non-zero number.
    bool booleanValue() const;

private:
    std::optional<QString> text_;
};

struct ScriptError {
    int number = 0;
    QString message;
};

// What one run of a compiled script gave: a result, or the error of loading or running it.
// A script that does not exist gives neither a result nor an error: it ran nothing.
struct ScriptRunResult {
    std::optional<ScriptDescriptor> result;
    std::optional<ScriptError> loadError;
    std::optional<ScriptError> runError;
};

// Runs the compiled scripts of a bundle by name.
class ScriptRunner {
public:
    // The error number of a script run that did not end in time.
    static constexpr int kTimeoutErrorNumber = -1712;
    // The error number of a script the user did not allow to automate its target.
    static constexpr int kNotPermittedErrorNumber = -1743;
    // The error number of a script run ended because the program quits.
    static constexpr int kCancelledErrorNumber = -128;

    virtual ~ScriptRunner() = default;
    virtual ScriptRunResult run(const QString& name) = 0;
};

} // namespace platform
