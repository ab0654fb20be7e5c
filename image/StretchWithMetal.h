// The GPU rendering pass: the whole render of an Image as one OpenCL kernel launch.
#pragma once

#include <cstddef>
#include <cstdint>

class Image;

// Renders `image` (its bitmap, points, pattern, white balance and the "highlightOverexposure"
// setting, as the CPU path reads them) on the compute device into `destination`: height rows
// of width x 3 bytes, `rowBytes` apart. True when every row was written; false when the CPU
// path must run instead (no device, program or pipeline, points beyond +-2^40, a layout the
// kernel has no conversion for, or any OpenCL step failing), and then `destination` may hold
// anything.
bool stretchWithMetalInto(Image& image, uint8_t* destination, size_t rowBytes);

// Releases the image's GPU buffers, if any.
void releaseMetalBuffers(Image& image);
