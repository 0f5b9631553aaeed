// Feeds arbitrary datagrams to WSJT-X's decoder: it never crashes, hangs or
// leaks, and a QSO it reads, written again, reads back the same.
#include "rig/QsoLogger.h"
#include "rig/WsjtxProtocol.h"

#include <cstdint>
#include <cstdlib>

using namespace qardel::rig;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    WsjtxQso q;
    if (decodeWsjtx(bytes, &q) != WsjtxDecode::Qso) return 0;
    // what the log would take of it (the ADI reader included)
    IncomingQso in;
    QString why;
    (void)incomingFrom(q, &in, &why);
    for (quint32 schema : {2u, 3u}) {
        WsjtxQso back;
        if (decodeWsjtx(encodeWsjtx(q, schema), &back) != WsjtxDecode::Qso) abort();
        if (back.type != q.type || back.id != q.id || back.call != q.call || back.mode != q.mode ||
            back.txFrequency != q.txFrequency || back.adif != q.adif || back.name != q.name ||
            back.comments != q.comments)
            abort();
    }
    return 0;
}
