// Hex text runs through every message the program handles, so both
// directions work 16 bytes at a time where the processor has SSE2 (every
// x86-64 does) and by table lookups elsewhere. Text with blanks or faults
// takes the byte-at-a-time path, which alone decides every error message.
#include "hex.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tovik {

namespace {

// The two lower-case digits of every byte value, side by side.
constexpr std::array<char, 512> kPairs = [] {
    constexpr char digits[] = "0123456789abcdef";
    std::array<char, 512> t{};
    for (std::size_t b = 0; b < 256; ++b) {
        t[2 * b] = digits[b >> 4];
        t[2 * b + 1] = digits[b & 15];
    }
    return t;
}();

// Value of every character as a hex digit, -1 when it is none.
constexpr std::array<int8_t, 256> kValues = [] {
    std::array<int8_t, 256> t{};
    t.fill(-1);
    for (int c = 0; c < 10; ++c)
        t[static_cast<std::size_t>('0' + c)] = static_cast<int8_t>(c);
    for (int c = 0; c < 6; ++c) {
        t[static_cast<std::size_t>('a' + c)] = static_cast<int8_t>(10 + c);
        t[static_cast<std::size_t>('A' + c)] = static_cast<int8_t>(10 + c);
    }
    return t;
}();

int digit(char c) {
    return kValues[static_cast<unsigned char>(c)];
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

#if defined(__SSE2__)
// Sixteen digit values (0-15) -> their lower-case digits.
__m128i digitsOf(__m128i v) {
    const __m128i letter = _mm_cmpgt_epi8(v, _mm_set1_epi8(9));
    return _mm_add_epi8(_mm_add_epi8(v, _mm_set1_epi8('0')),
                        _mm_and_si128(letter, _mm_set1_epi8('a' - '0' - 10)));
}

void toHex16(const uint8_t* in, char* out) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i low4 = _mm_set1_epi8(0x0f);
    const __m128i hi = digitsOf(_mm_and_si128(_mm_srli_epi16(bytes, 4), low4));
    const __m128i lo = digitsOf(_mm_and_si128(bytes, low4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(hi, lo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(hi, lo));
}

// Sixteen characters -> their digit values in 16-bit pairs (high digit first)
// combined to bytes in the low half of each lane; false unless all are digits.
bool pairsOf(const char* text, __m128i& out) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
    const __m128i d = _mm_sub_epi8(c, _mm_set1_epi8('0'));
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
    const __m128i a = _mm_sub_epi8(_mm_or_si128(c, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(a, _mm_set1_epi8(5)), a);
    if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xffff)
        return false;
    const __m128i v = _mm_or_si128(_mm_and_si128(isDigit, d),
                                   _mm_and_si128(isLetter, _mm_add_epi8(a, _mm_set1_epi8(10))));
    out = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, _mm_set1_epi16(0x00ff)), 4),
                       _mm_srli_epi16(v, 8));
    return true;
}

// 32 characters -> 16 bytes; false (nothing written) unless all are digits.
bool fromHex32(const char* text, uint8_t* out) {
    __m128i first, second;
    if (!pairsOf(text, first) || !pairsOf(text + 16, second))
        return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(first, second));
    return true;
}
#endif

} // namespace

std::string toHex(const uint8_t* data, std::size_t size) {
    std::string out(size * 2, '\0');
    char* p = out.data();
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= size; i += 16, p += 32)
        toHex16(data + i, p);
#endif
    for (; i < size; ++i, p += 2)
        std::memcpy(p, &kPairs[2 * std::size_t{data[i]}], 2);
    return out;
}

bool fromHex(std::string_view text, std::vector<uint8_t>& out, std::string* error) {
    out.clear();
    out.resize(text.size() / 2);
    uint8_t* const first = out.data();
    uint8_t* o = first;
    std::size_t i = 0;
    const std::size_t n = text.size();
    const char* t = text.data();
    std::size_t slowUntil = 0; // after blanks or a fault, go byte by byte for a while
    while (i < n) {
#if defined(__SSE2__)
        if (i >= slowUntil && n - i >= 32) {
            if (fromHex32(t + i, o)) {
                i += 32;
                o += 16;
                continue;
            }
            slowUntil = i + 32;
        }
#endif
        if (isSpace(t[i])) {
            ++i;
            continue;
        }
        const int hi = digit(t[i]);
        if (hi < 0) {
            if (error)
                *error = "bad hex digit '" + std::string(1, t[i]) + "' at position " +
                         std::to_string(i);
            out.clear();
            return false;
        }
        const int lo = i + 1 < n ? digit(t[i + 1]) : -1;
        if (lo < 0) {
            if (error) {
                if (i + 1 >= n || isSpace(t[i + 1]))
                    *error = "odd number of hex digits";
                else
                    *error = "bad hex digit '" + std::string(1, t[i + 1]) + "' at position " +
                             std::to_string(i + 1);
            }
            out.clear();
            return false;
        }
        *o++ = static_cast<uint8_t>((hi << 4) | lo);
        i += 2;
    }
    out.resize(static_cast<std::size_t>(o - first));
    return true;
}

} // namespace tovik
