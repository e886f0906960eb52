// Writes each image of a Windows icon as <out-dir>/<size>.png, for the desktop's icon theme.
// Run at build time so the package's PNGs always match the window icon.
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // lets Qt find its image format plugins
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s icon.ico out-dir\n", argv[0]);
    return 2;
  }
  QImageReader reader(QString::fromLocal8Bit(argv[1]), "ico");
  const QDir out(QString::fromLocal8Bit(argv[2]));
  int written = 0;
  for (int i = 0; i < reader.imageCount(); ++i) {
    reader.jumpToImage(i);
    const QImage image = reader.read();
    if (image.isNull() || image.width() != image.height()) {
      std::fprintf(
          stderr, "%s: image %d: %s\n", argv[1], i,
          qPrintable(image.isNull() ? reader.errorString() : QStringLiteral("not square")));
      return 1;
    }
    const QString name = out.filePath(QString::number(image.width()) + QStringLiteral(".png"));
    if (!image.save(name, "png")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
      return 1;
    }
    ++written;
  }
  if (written == 0) {
    std::fprintf(stderr, "%s: no images\n", argv[1]);
    return 1;
  }
  return 0;
}
