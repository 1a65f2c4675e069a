#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A file's name and bytes.
class PostedFile {
public:
    std::optional<QString> fileName;
    std::optional<QByteArray> fileData;
};
