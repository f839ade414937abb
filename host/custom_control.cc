#include "host/custom_control.h"

namespace axis {

namespace {
PngWriter g_png_writer = nullptr;
}  // namespace

void SetPngWriter(PngWriter writer) { g_png_writer = writer; }
PngWriter GetPngWriter() { return g_png_writer; }

}  // namespace axis
