// Feeds arbitrary bytes to the ADI and ADX readers: they never crash, hang
// or leak, and what the ADI reader takes, written back, reads back the same.
#include "adif/Adif.h"

#include <cstdint>
#include <cstdlib>

using namespace qardel::adif;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // the first byte picks the encoding an operator may force
    const Encoding forced = size > 0 ? Encoding(data[0] % 4) : Encoding::Auto;
    (void)readAdx(bytes, forced);
    (void)read(bytes, forced);
    const ReadResult r = readAdi(bytes);
    const ReadResult back =
        readAdi(writeAdi(r.records, QStringLiteral("QARDEL"), QStringLiteral("1")));
    if (back.records.size() != r.records.size() || !back.refused.isEmpty()) abort();
    for (qsizetype i = 0; i < r.records.size(); ++i) {
        const auto& a = r.records[i].fields;
        const auto& b = back.records[i].fields;
        if (a.size() != b.size()) abort();
        for (qsizetype k = 0; k < a.size(); ++k)
            if (a[k].name != b[k].name || a[k].value != b[k].value) abort();
    }
    return 0;
}
