// The register boxes' reading against the standard library's own: the first
// 8 characters through wcstoul in base 16 (in the "C" locale, the fuzzer's
// own), low 16 bits kept.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "camera/CameraController.h"

namespace {

// Bytes that are no UTF-8 become lone surrogates, as a text widget would
// never hold them: characters that are neither digit nor blank.
std::wstring DecodeUtf8(const std::string& text)
{
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        int extra = -1;
        std::uint32_t code = 0;
        if (b < 0x80)
            extra = 0, code = b;
        else if (b >= 0xC2 && b <= 0xDF)
            extra = 1, code = b & 0x1Fu;
        else if (b >= 0xE0 && b <= 0xEF)
            extra = 2, code = b & 0x0Fu;
        else if (b >= 0xF0 && b <= 0xF4)
            extra = 3, code = b & 0x07u;
        bool good = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
        for (int k = 1; good && k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            good = (c & 0xC0) == 0x80;
            code = (code << 6) | (c & 0x3Fu);
        }
        if (good
            && ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)))
                || (extra == 3 && (code < 0x10000 || code > 0x10FFFF))))
            good = false;
        if (!good) {
            out.push_back(static_cast<wchar_t>(0xDC00 + b));
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(code));
        i += 1 + static_cast<std::size_t>(extra);
    }
    return out;
}

std::uint16_t Reference(const std::string& text)
{
    const std::wstring box = DecodeUtf8(text).substr(0, 8);
    // A box holds no NUL; wcstoul would stop there anyway.
    return static_cast<std::uint16_t>(std::wcstoul(box.c_str(), nullptr, 16) & 0xFFFF);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::uint16_t got = pelvar::ParseHexBoxText(text);
    const std::uint16_t want = Reference(text);
    if (got != want) {
        std::fprintf(stderr, "box text read as 0x%04x, wcstoul gives 0x%04x\n", got, want);
        std::abort();
    }
    return 0;
}
