#include "gdi.h"

namespace win32 {

void Picture::Load(HINSTANCE instance, int id) {
  bitmap.reset(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  BITMAP bm{};
  if (bitmap && GetObjectW(bitmap.get(), sizeof bm, &bm)) size = SIZE{bm.bmWidth, bm.bmHeight};
}

void FillSolid(HDC dc, const RECT& r, COLORREF colour) {
  UniqueGdiObject brush(CreateSolidBrush(colour));
  FillRect(dc, &r, static_cast<HBRUSH>(brush.get()));
}

void DrawPicture(HDC dc, const Picture& picture, const RECT& box, bool stretch) {
  if (!picture) return;
  UniqueDc mem(CreateCompatibleDC(dc));
  Selected sel(mem.get(), picture.bitmap.get());
  if (stretch) {
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);  // HALFTONE needs the brush origin set after the mode
    StretchBlt(dc, box.left, box.top, box.right - box.left, box.bottom - box.top, mem.get(), 0, 0, picture.size.cx,
               picture.size.cy, SRCCOPY);
  } else {
    BitBlt(dc, box.left, box.top, picture.size.cx, picture.size.cy, mem.get(), 0, 0, SRCCOPY);
  }
}

}  // namespace win32
