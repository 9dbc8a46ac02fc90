#pragma once
// The one crossing between the core's UTF-8 byte strings and Qt's QString.

#include <string>

#include <QString>

namespace brevanto::ui {

inline QString ToQt(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQt(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace brevanto::ui
