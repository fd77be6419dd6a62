#pragma once

#include <QString>
#include <optional>

// Basic Base64 with "=" padding of a text whose characters are taken as bytes.
// No value when a character lies above 255.
std::optional<QString> Base64Encode(const QString &text);
