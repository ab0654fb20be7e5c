#include "FITSHeaderWalk.h"

#include "FITSCards.h"
#include "FITSHeaderCheck.h"

#include <algorithm>
#include <cstdlib>

namespace {

// True when the card at `at` is named `name`: a header starts there.
bool opensHeader(const char* bytes, size_t size, uint64_t at, const char* name) {
    return at + kFitsCardBytes <= size && readFitsCard(bytes + at).name == name;
}

}  // namespace

std::vector<FitsHduPlace> walkFitsHeaders(const char* bytes, size_t size) {
    std::vector<FitsHduPlace> places;
    uint64_t at = 0;
    while (opensHeader(bytes, size, at, places.empty() ? "SIMPLE" : "XTENSION")) {
        FitsHduPlace place;
        place.header = at;
        uint64_t card = at;
        while (card + kFitsCardBytes <= size && !isFitsEndCard(bytes + card))
            card += kFitsCardBytes;
        if (card + kFitsCardBytes > size) {
            place.refusal = "the header has no END card";
            places.push_back(place);
            break;
        }
        place.cards = (card - at) / kFitsCardBytes;
        place.data = (card / kFitsRecordBytes + 1) * kFitsRecordBytes;
        const FitsHeaderVerdict verdict =
            checkFitsHeader(bytes + at, size_t(place.cards), places.empty());
        place.refusal = verdict.refusal;
        place.bytes = verdict.dataBytes;
        if (verdict.dataBytes) {
            // The data size is below 2^63, and so is the offset: the sum cannot wrap.
            const uint64_t records = *verdict.dataBytes / kFitsRecordBytes +
                                     (*verdict.dataBytes % kFitsRecordBytes != 0);
            if (records <= (UINT64_MAX - place.data) / kFitsRecordBytes)
                place.end = place.data + records * kFitsRecordBytes;
        }
        // CFITSIO's memory driver does not check reads against the end of the bytes.
        if (place.end && *place.end > size && place.sound())
            place.refusal = "the data ends beyond the end of the file";
        places.push_back(place);
        if (!place.end || *place.end >= size) break;
        at = *place.end;
    }
    return places;
}

int moveToFitsHdu(fitsfile* f, const std::vector<FitsHduPlace>& places, int hdu, int* type,
                  int* status) {
    if (*status > 0) return *status;
    if (hdu < 1 || size_t(hdu) > places.size() || !places[size_t(hdu) - 1].sound())
        return *status = BAD_HDU_NUM;
    FITSfile& file = *f->Fptr;
    // CFITSIO moves to HDU k by the start it knows for it, headstart[k - 1], and knows the
    // starts up to one past the highest HDU it has read (maxhdu). Made to know them all up to
    // the one wanted, it reads that header alone. Room for them as fits_movabs_hdu makes it.
    if (hdu >= file.MAXHDU) {
        auto* grown = static_cast<LONGLONG*>(
            std::realloc(file.headstart, (size_t(hdu) + 1001) * sizeof(LONGLONG)));
        if (!grown) return *status = MEMORY_ALLOCATION;
        std::fill(grown + file.MAXHDU + 1, grown + hdu + 1001, 0);
        file.headstart = grown;
        file.MAXHDU = hdu + 1000;
    }
    for (int k = file.maxhdu + 1; k < hdu; ++k)
        file.headstart[k] = LONGLONG(places[size_t(k)].header);
    if (file.maxhdu < hdu - 2) {
        file.maxhdu = hdu - 2;
        // Where the HDU after it starts is not known yet; CFITSIO looks at it even when it
        // fails to read the header, and a stale value there would hide its failure.
        file.headstart[hdu] = 0;
    }
    return fits_movabs_hdu(f, hdu, type, status);
}
