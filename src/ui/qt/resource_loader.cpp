#include "ui/qt/resource_loader.h"

#include <QFile>
#include <QString>
#include <algorithm>

namespace qvx {
namespace {

// Only plain names become a resource path, so no type can reach outside its own folder.
bool IsPlainName(std::string_view type) {
  return !type.empty() && std::all_of(type.begin(), type.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  });
}

}  // namespace

std::optional<std::vector<std::uint8_t>> LoadEmbeddedResource(std::string_view type, int id) {
  if (!IsPlainName(type) || id < 0) return std::nullopt;
  QFile file(QStringLiteral(":/%1/%2")
                 .arg(QString::fromLatin1(type.data(), static_cast<qsizetype>(type.size())))
                 .arg(id));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  if (bytes.size() != file.size()) return std::nullopt;
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace qvx
