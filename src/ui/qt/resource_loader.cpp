#include "ui/qt/resource_loader.h"

#include <QFile>
#include <QString>

#include "image/firmware_image.h"

namespace qvx {

std::optional<std::vector<std::uint8_t>> LoadEmbeddedResource(std::string_view type, int id) {
  if (!IsPlainResourceName(type) || id < 0) return std::nullopt;
  QFile file(QStringLiteral(":/%1/%2")
                 .arg(QString::fromLatin1(type.data(), static_cast<qsizetype>(type.size())))
                 .arg(id));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  if (bytes.size() != file.size()) return std::nullopt;
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace qvx
