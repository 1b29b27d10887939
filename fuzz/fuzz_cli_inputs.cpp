// What the console program reads from files: a set-up file (JSON) and a site list
// (CSV). Any bytes give a value or a message naming the file and a line within it;
// a set-up that is read holds only values the sensor can take, and writes back
// as the same set-up.
#include "cli/Cli.h"

#include <QJsonDocument>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "cli_inputs: %s: %s\n", what, qUtf8Printable(detail));
    std::abort();
}

// "name:LINE: ..." or "name: ..." with LINE within the text's lines.
void checkMessage(const QString &error, const QString &name, const QByteArray &text)
{
    if (!error.startsWith(name + QLatin1Char(':')))
        fail("message without the file", error);
    const QString rest = error.mid(name.size() + 1);
    const int colon = int(rest.indexOf(QLatin1Char(':')));
    bool number = false;
    const int line = colon > 0 ? rest.left(colon).toInt(&number) : 0;
    if (number && (line < 1 || line > text.count('\n') + 1))
        fail("line beyond the text", error);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    const auto setup = cli::SetupFromJson(text, QStringLiteral("s.json"), &error);
    if (!setup) {
        checkMessage(error, QStringLiteral("s.json"), text);
    } else {
        if (setup->type < 0 || setup->type > 4 || setup->heightMm < 0 || setup->heightMm > 10000 ||
            setup->lostEcho == -1 || setup->lostEcho < -32768 || setup->lostEcho > 65535)
            fail("value the sensor cannot take", QString::fromUtf8(text));
        QJsonObject root;
        root[QStringLiteral("schema")] = cli::jsonSchema;
        QMap<int, qint32> regs{{23, setup->heightMm}, {24, quint16(setup->lostEcho)}, {128, setup->type}};
        if (setup->maxHeightMm)
            regs[1] = *setup->maxHeightMm;
        root[QStringLiteral("setup")] = cli::SetupJson(regs, 10000);
        const auto again = cli::SetupFromJson(QJsonDocument(root).toJson(), QStringLiteral("r.json"), &error);
        if (!again || again->heightMm != setup->heightMm || again->type != setup->type ||
            quint16(again->lostEcho) != quint16(setup->lostEcho) || again->maxHeightMm != setup->maxHeightMm)
            fail("set-up does not write back", QString::fromUtf8(text));
    }
    const auto sites = cli::ParseSites(text, QStringLiteral("f.csv"), QStringLiteral("/base"), &error);
    if (!sites)
        checkMessage(error, QStringLiteral("f.csv"), text);
    else
        for (const cli::Site &s : *sites)
            if (s.name.isEmpty() || s.port.isEmpty())
                fail("site without name or port", QString::fromUtf8(text));
    return 0;
}
