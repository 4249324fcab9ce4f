// The bytes of a text that are printable ASCII but "<". A text of them and
// of line feeds is its own decoding in a code page that keeps ASCII as it
// is: the catalogue reader notes which msgids are such, the decoder knows
// such texts at a glance, and the import takes the one for the other, so
// both go by this one definition.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace modtext {

constexpr bool plain_byte(unsigned char byte) { return byte >= 0x20 && byte < 0x7F && byte != '<'; }

#if defined(__SSE2__)
// A bit for each of sixteen bytes that is not plain: below a space (signed,
// so from 0x80 on too), DEL or "<".
inline unsigned odd_bytes(__m128i bytes) {
    return static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('<')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F))))));
}
#endif

}  // namespace modtext
