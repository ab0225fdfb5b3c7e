#pragma once
// The forms are laid out for "MS Sans Serif" 8, which Linux does not have; without a
// stand-in of the same widths the fallback font runs captions under their neighbours.
namespace platform::ui {

// Points the Windows form font at a metric-compatible sans-serif. The application
// object calls it as it is made.
void substituteWindowsFonts();

} // namespace platform::ui
