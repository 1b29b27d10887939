// echogauge-mkupdate: writes a firmware update file that the application, the
// loader stand-in and the simulated sensor accept, for trying an upgrade by hand.
//   echogauge-mkupdate 1.13 UPD_Files/fw113.upd
#include "model/UpdateImage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("echogauge-mkupdate"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a firmware update file for the simulated sensor."));
    parser.addHelpOption();
    const QCommandLineOption productOpt("product", "Product code (default 115, the sensor's).", "n", "115");
    const QCommandLineOption kindOpt("kind", "File kind (default 1, firmware).", "n", "1");
    const QCommandLineOption sizeOpt("size", "Size of the whole file in bytes (default 1024).", "bytes",
                                     "1024");
    parser.addOptions({productOpt, kindOpt, sizeOpt});
    parser.addPositionalArgument("version", "Firmware version carried, such as 1.13.");
    parser.addPositionalArgument("file", "The update file to write.");
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    UpdateImageSpec spec;
    bool productOk = false, kindOk = false, sizeOk = false;
    const uint product = parser.value(productOpt).toUInt(&productOk);
    const uint kind = parser.value(kindOpt).toUInt(&kindOk);
    spec.size = parser.value(sizeOpt).toInt(&sizeOk);
    if (args.size() != 2 || !parseUpdateVersion(args[0], &spec.major, &spec.minor) || !productOk ||
        product > 0xFFFF || !kindOk || kind > 0xFFFF || !sizeOk || spec.size < 112 ||
        spec.size > 1024 * 1024) {
        std::fprintf(stderr, "usage: echogauge-mkupdate [--product n] [--kind n] [--size bytes] "
                             "<major.minor> <file>\n");
        return 1;
    }
    spec.product = quint16(product);
    spec.kind = quint16(kind);

    QFile file(args[1]);
    const QByteArray image = makeUpdateImage(spec);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(image) != image.size()) {
        std::fprintf(stderr, "echogauge-mkupdate: cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    std::printf("echogauge-mkupdate: %s carries firmware %d.%02d\n", qPrintable(args[1]), spec.major,
                spec.minor);
    return 0;
}
