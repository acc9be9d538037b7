#include "app/win/PanelPicture.h"

#include <cstdio>
#include <vector>

namespace pelvar {

namespace {

struct ScreenCopy {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bottomUpBgr; // rows padded to four bytes
};

bool CopyFromScreen(const RECT& r, ScreenCopy* copy)
{
    copy->width = r.right - r.left;
    copy->height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, copy->width, copy->height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool ok = BitBlt(memory, 0, 0, copy->width, copy->height, screen, r.left, r.top, SRCCOPY) != 0;
    SelectObject(memory, old);

    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), copy->width, copy->height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const int stride = (copy->width * 3 + 3) & ~3;
    copy->bottomUpBgr.assign(static_cast<std::size_t>(stride) * copy->height, 0);
    ok = ok && GetDIBits(memory, bitmap, 0, copy->height, copy->bottomUpBgr.data(), &info, DIB_RGB_COLORS) != 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

} // namespace

bool SaveWindowPicture(HWND hwnd, const std::wstring& path)
{
    RECT r;
    ScreenCopy copy;
    if (!GetWindowRect(hwnd, &r) || !CopyFromScreen(r, &copy))
        return false;
    BITMAPINFOHEADER info{sizeof(info), copy.width, copy.height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + static_cast<DWORD>(copy.bottomUpBgr.size());
    std::FILE* out = _wfopen(path.c_str(), L"wb");
    if (out == nullptr)
        return false;
    bool ok = std::fwrite(&file, sizeof(file), 1, out) == 1 && std::fwrite(&info, sizeof(info), 1, out) == 1
              && std::fwrite(copy.bottomUpBgr.data(), 1, copy.bottomUpBgr.size(), out) == copy.bottomUpBgr.size();
    return std::fclose(out) == 0 && ok;
}

} // namespace pelvar
