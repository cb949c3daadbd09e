// The panel picture (app/panel_description.h) rendered with GDI+ into a
// bitmap for the main dialog's picture control (1007), scaled to the dialog's
// client area, so that it fills the dialog whatever the font made of its size.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace korvane {

struct BitmapDeleter {
  void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
using OwnedBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

// A bitmap of the given size with the picture drawn from its top left corner
// at the picture's size; empty when GDI+ cannot draw it (the dialog then
// shows its plain background).
OwnedBitmap RenderPanelBitmap(SIZE bitmap, SIZE picture);

}  // namespace korvane
