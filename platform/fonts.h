#pragma once
// The forms are laid out for "MS Sans Serif" 8, which Linux does not have; without a
// stand-in of the same widths the fallback font runs captions under their neighbours.
namespace platform::ui {

// Points the Windows form font at a metric-compatible sans-serif. Call once the
// application object exists, before any window is built.
void substituteWindowsFonts();

} // namespace platform::ui
