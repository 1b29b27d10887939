// The Telnet framing a device server sends, in pieces of any size:
//   - the data never holds more bytes than came in, the answers never more than
//     three bytes for every three that came in, the held subnegotiation stays bounded;
//   - cutting the same input at other places gives the same data and answers;
//   - data framed by the sender's own encoder comes back unchanged through a reader
//     that has agreed to binary.
#include "serial/Rfc2217.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "rfc2217: %s\n", what);
    std::abort();
}

void feedAll(Rfc2217Codec &codec, const QByteArray &input, const std::vector<size_t> &cuts, QByteArray *data,
             QByteArray *answers)
{
    size_t at = 0;
    for (size_t cut : cuts) {
        const size_t n = std::min(cut, size_t(input.size()) - at);
        *answers += codec.feed(input.constData() + at, qsizetype(n), data);
        at += n;
    }
    if (at < size_t(input.size()))
        *answers += codec.feed(input.constData() + at, input.size() - qsizetype(at), data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *raw, size_t size)
{
    FuzzedDataProvider in(raw, size);
    std::vector<size_t> cuts;
    const int pieces = in.ConsumeIntegralInRange(0, 16);
    for (int i = 0; i < pieces; ++i)
        cuts.push_back(in.ConsumeIntegralInRange<size_t>(0, 64));
    const bool started = in.ConsumeBool();
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QByteArray input(rest.data(), qsizetype(rest.size()));

    Rfc2217Codec whole, cut;
    if (started) {
        whole.start();
        cut.start();
    }
    QByteArray data1, answers1, data2, answers2;
    answers1 = whole.feed(input.constData(), input.size(), &data1);
    feedAll(cut, input, cuts, &data2, &answers2);
    if (data1.size() > input.size())
        fail("more data than input");
    if (answers1.size() > input.size())
        fail("more answers than input");
    if (data1 != data2 || answers1 != answers2)
        fail("the cut changes the result");
    if (whole.comPort() != cut.comPort() || whole.confirmedBaud() != cut.confirmedBaud())
        fail("the cut changes what was learnt");

    // Round trip of the input as data, through a reader in binary.
    Rfc2217Codec sender;
    sender.start();
    QByteArray ignored;
    const QByteArray agree("\xff\xfd\x00\xff\xfb\x00", 6); // DO BINARY, WILL BINARY
    sender.feed(agree.constData(), agree.size(), &ignored);
    Rfc2217Codec reader;
    reader.start();
    reader.feed(agree.constData(), agree.size(), &ignored);
    const QByteArray framed = sender.encodeData(input.constData(), input.size());
    QByteArray back;
    feedAll(reader, framed, cuts, &back, &ignored);
    if (back != input)
        fail("data does not survive its framing");
    return 0;
}
