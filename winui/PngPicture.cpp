#include "winui/PngPicture.h"

#include <objidl.h>

#include <gdiplus.h>

namespace pelvar {

namespace {

// GDI+'s PNG encoder, {557CF406-1A04-11D3-9A73-0000F81EF32E}: fixed by the
// system, so no walk through the encoder list to find it.
constexpr CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

// The encoded stream's bytes, read back from its start.
std::string StreamBytes(IStream* stream)
{
    STATSTG stat{};
    if (stream->Stat(&stat, STATFLAG_NONAME) != S_OK || stat.cbSize.QuadPart == 0 || stat.cbSize.HighPart != 0)
        return {};
    LARGE_INTEGER start{};
    if (stream->Seek(start, STREAM_SEEK_SET, nullptr) != S_OK)
        return {};
    std::string bytes(stat.cbSize.LowPart, '\0');
    ULONG read = 0;
    if (stream->Read(bytes.data(), stat.cbSize.LowPart, &read) != S_OK || read != stat.cbSize.LowPart)
        return {};
    return bytes;
}

} // namespace

std::string EncodePng(HBITMAP bitmap)
{
    using namespace Gdiplus::DllExports;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return {};
    std::string png;
    Gdiplus::GpBitmap* image = nullptr;
    if (GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == Gdiplus::Ok) {
        IStream* stream = nullptr;
        if (CreateStreamOnHGlobal(nullptr, TRUE, &stream) == S_OK) {
            if (GdipSaveImageToStream(image, stream, &kPngEncoder, nullptr) == Gdiplus::Ok)
                png = StreamBytes(stream);
            stream->Release();
        }
        GdipDisposeImage(image);
    }
    Gdiplus::GdiplusShutdown(token);
    return png;
}

} // namespace pelvar
