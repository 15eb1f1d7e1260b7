#include "ui/fwImages.h"

#include <map>

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

TImage DecodePng(const void *data, size_t size)
{
    TImage out;
    if (!data || size == 0 || size > 0x7fffffff) return out;
    int w = 0, h = 0, n = 0;
    unsigned char *px = stbi_load_from_memory(static_cast<const stbi_uc *>(data), static_cast<int>(size), &w, &h, &n, 4);
    if (!px) return out;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp && bits) {
        // AlphaBlend wants BGRA with the colour already multiplied by alpha.
        auto *dst = static_cast<unsigned char *>(bits);
        const size_t count = static_cast<size_t>(w) * h;
        for (size_t i = 0; i < count; ++i) {
            const unsigned char *s = px + i * 4;
            unsigned a = s[3];
            dst[i * 4 + 0] = static_cast<unsigned char>((s[2] * a + 127) / 255);
            dst[i * 4 + 1] = static_cast<unsigned char>((s[1] * a + 127) / 255);
            dst[i * 4 + 2] = static_cast<unsigned char>((s[0] * a + 127) / 255);
            dst[i * 4 + 3] = static_cast<unsigned char>(a);
        }
        out.Bitmap = bmp;
        out.Width = w;
        out.Height = h;
    } else if (bmp) {
        DeleteObject(bmp);
    }
    stbi_image_free(px);
    return out;
}

const TImage &Image(const std::string &name)
{
    // Images are used on the user-interface thread only; they live as long as
    // the process, as the windows that draw them do.
    static std::map<std::string, TImage> cache;
    auto it = cache.find(name);
    if (it != cache.end()) return it->second;
    TImage img;
    HMODULE self = GetModuleHandleA(nullptr);
    if (HRSRC res = FindResourceA(self, name.c_str(), MAKEINTRESOURCEA(10))) {
        HGLOBAL mem = LoadResource(self, res);
        const void *data = mem ? LockResource(mem) : nullptr;
        if (data) img = DecodePng(data, SizeofResource(self, res));
    }
    return cache.emplace(name, img).first->second;
}

void DrawImagePart(HDC dc, const TImage &image, const RECT &dst, int sx, int sy, int sw, int sh)
{
    if (!image || sw <= 0 || sh <= 0 || dst.right <= dst.left || dst.bottom <= dst.top) return;
    HDC mem = CreateCompatibleDC(dc);
    if (!mem) return;
    HGDIOBJ old = SelectObject(mem, image.Bitmap);
    BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, dst.left, dst.top, dst.right - dst.left, dst.bottom - dst.top, mem, sx, sy, sw, sh, bf);
    SelectObject(mem, old);
    DeleteDC(mem);
}

void DrawImage(HDC dc, const TImage &image, int x, int y)
{
    RECT r = {x, y, x + image.Width, y + image.Height};
    DrawImagePart(dc, image, r, 0, 0, image.Width, image.Height);
}

void DrawImageSliced(HDC dc, const TImage &image, const RECT &dst, int edge)
{
    if (!image) return;
    const int w = dst.right - dst.left;
    if (w <= 2 * edge || image.Width <= 2 * edge) {
        DrawImagePart(dc, image, dst, 0, 0, image.Width, image.Height);
        return;
    }
    RECT l = {dst.left, dst.top, dst.left + edge, dst.bottom};
    RECT m = {dst.left + edge, dst.top, dst.right - edge, dst.bottom};
    RECT r = {dst.right - edge, dst.top, dst.right, dst.bottom};
    DrawImagePart(dc, image, l, 0, 0, edge, image.Height);
    DrawImagePart(dc, image, m, edge, 0, image.Width - 2 * edge, image.Height);
    DrawImagePart(dc, image, r, image.Width - edge, 0, edge, image.Height);
}

void DrawStripFrame(HDC dc, const TImage &strip, int frames, int k, int x, int y)
{
    if (!strip || frames <= 0) return;
    const int fh = strip.Height / frames;
    const int index = ((k % frames) + frames) % frames;
    RECT dst = {x, y, x + strip.Width, y + fh};
    DrawImagePart(dc, strip, dst, 0, index * fh, strip.Width, fh);
}
