#pragma once

#include <QString>
#include <optional>

// A refusal with a complete English sentence for the user and, where an HTTP
// answer caused it, that answer's status.
struct RecorderError
{
    QString message;
    std::optional<int> statusCode;

    QString description() const { return message; }
};
