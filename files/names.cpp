// File names: "[X:]base[.number]", and the names BuildFileName makes. The base gives the 8 name bytes (space
// padded); the text after the last dot gives the extension, 999 when there
// is no dot or the value lies outside 0..999.
#include <stdio.h>
#include <string.h>

#include "files/files_internal.h"

namespace cardfs {
namespace {

// Decimal value of text as atoi reads it, clamped to 0..999 (else 999).
uint16_t parse_extension(const char *text) {
    while (is_space(*text)) text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') text++;
    int32_t value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > 999) return 999;
    }
    if (negative && value != 0) return 999;
    return uint16_t(value);
}

}  // namespace

int16_t parse_file_name(const char *text, ParsedName *out) {
    if (text == nullptr) text = "";
    out->device = nullptr;
    if (text[0] != '\0' && text[1] == ':') {
        out->device = NameToDevice(text);
        text += 2;
    } else {
        out->device = g_frame.current;
    }
    if (out->device == nullptr) return CARDFS_E_NAME_DEVICE;
    const char *dot = strrchr(text, '.');
    size_t baseLength = dot != nullptr ? size_t(dot - text) : strlen(text);
    memset(out->name, ' ', 8);
    memcpy(out->name, text, baseLength < 8 ? baseLength : 8);
    out->extension = dot != nullptr ? parse_extension(dot + 1) : 999;
    return kOk;
}


}  // namespace cardfs

extern "C" CARDFS_API int16_t BuildFileName(char *out, const char *name8, int16_t number) {
    using cardfs::is_space;
    if (out == nullptr || name8 == nullptr) return 0;
    char text[9];
    memcpy(text, name8, 8);
    text[8] = '\0';
    for (int i = 7; i >= 0 && is_space(text[i]); i--) text[i] = '\0';
    int n = snprintf(out, 16, "%s.%.3d", text, int(number));
    return static_cast<int16_t>(n < 0 ? 0 : (n > 15 ? 15 : n));
}
