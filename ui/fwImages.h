// The product's artwork at run time: PNG resources (rendered from the SVG
// sources at build time) decoded once into premultiplied 32-bit bitmaps and
// drawn alpha-blended.
#pragma once

#include <windows.h>

#include <string>

struct TImage {
    HBITMAP Bitmap = nullptr;  // top-down 32-bit DIB, premultiplied alpha
    int Width = 0, Height = 0;
    explicit operator bool() const { return Bitmap != nullptr; }
};

// The image of resource name (RCDATA holding a PNG) of the running program,
// decoded on first use and kept for the life of the process; an empty image
// when the resource is missing or not a PNG.
const TImage &Image(const std::string &name);
// Decodes PNG bytes; an empty image for anything that is not a PNG.
TImage DecodePng(const void *data, size_t size);

// Draws src (x, y, w, h of the image) into dst, scaled when the sizes differ.
void DrawImagePart(HDC dc, const TImage &image, const RECT &dst, int sx, int sy, int sw, int sh);
void DrawImage(HDC dc, const TImage &image, int x, int y);
// Draws the image stretched to dst in three slices: the left and right edge
// columns keep their width, only the middle stretches (buttons and tabs that
// grow with their caption keep round ends).
void DrawImageSliced(HDC dc, const TImage &image, const RECT &dst, int edge);
// Frame k (modulo frames) of a sprite strip whose frames are stacked downwards.
void DrawStripFrame(HDC dc, const TImage &strip, int frames, int k, int x, int y);
