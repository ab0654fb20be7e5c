// The GPU rendering pass.
//
// The kernel "stretch" (resources/stretch.cl) makes the three output bytes of one pixel per
// work item, for every source layout, pattern, white balance and highlight setting, with
// exactly the bytes of the CPU path. Per image, two buffers are made at its first GPU render
// and kept for its life: `metalBitmapData`, the source pixels (made over the bitmap's own
// memory, which a device that shares the host's memory reads in place and any other copies
// once; never refreshed: the bitmap does not change), and `metalCachedBitmapData`, the 8-bit
// output. Each pass sets the argument table, runs one work item per pixel on a queue of its
// own and reads the output back into the caller's memory, waiting for it: the pass is
// synchronous.
//
// The pipeline (the kernel object made from the program) is process-wide and made under a
// lock; its argument table is set and the launch enqueued under the same lock, since OpenCL
// kernel arguments belong to the kernel object and are captured at the enqueue. Images render
// on several threads at once; each image's buffers are its own.
#include "StretchWithMetal.h"

#include "Image.h"
#include "MetalDevice.h"
#include "Settings.h"

#include <algorithm>
#include <mutex>

namespace {

struct StretchPipeline {
    std::mutex mutex;            // guards the fields and the kernel's arguments
    cl_program from = nullptr;   // the program `kernel` was made from
    cl_kernel kernel = nullptr;  // "stretch", or none
    size_t groupWidth = 1;       // the device's preferred multiple of items in a group
    size_t groupItems = 1;       // most items in one group for this kernel
};

// Never destroyed: renders may run during static destruction at exit.
StretchPipeline& stretchPipeline() {
    static StretchPipeline* pipeline = new StretchPipeline;
    return *pipeline;
}

// The kernel of `library`, made when missing (a failure is tried again at the next render).
// The caller holds the pipeline's lock.
cl_kernel pipelineLocked(cl_program library) {
    StretchPipeline& p = stretchPipeline();
    if (p.kernel && p.from == library) return p.kernel;
    if (p.kernel) clReleaseKernel(p.kernel);  // made from a program that was replaced
    p.kernel = nullptr;
    p.from = nullptr;
    cl_int error = CL_SUCCESS;
    cl_kernel kernel = clCreateKernel(library, "stretch", &error);
    if (!kernel || error != CL_SUCCESS) return nullptr;
    cl_device_id device = nullptr;
    size_t width = 0, items = 0;
    if (clGetProgramInfo(library, CL_PROGRAM_DEVICES, sizeof device, &device, nullptr) !=
            CL_SUCCESS ||
        clGetKernelWorkGroupInfo(kernel, device, CL_KERNEL_PREFERRED_WORK_GROUP_SIZE_MULTIPLE,
                                 sizeof width, &width, nullptr) != CL_SUCCESS ||
        clGetKernelWorkGroupInfo(kernel, device, CL_KERNEL_WORK_GROUP_SIZE, sizeof items, &items,
                                 nullptr) != CL_SUCCESS) {
        clReleaseKernel(kernel);
        return nullptr;
    }
    p.kernel = kernel;
    p.from = library;
    p.groupWidth = std::max<size_t>(1, width);
    p.groupItems = std::max<size_t>(1, items);
    return kernel;
}

// Within these points the kernel's integer stretch equals the CPU's double division.
constexpr int64_t pointLimit = int64_t(1) << 40;

bool convertible(int64_t bitsPerPixel) {
    return bitsPerPixel == 8 || bitsPerPixel == 16 || bitsPerPixel == 24 || bitsPerPixel == 32 ||
           bitsPerPixel == 48;
}

// Makes both buffers when either is missing. The source buffer uses the bitmap's memory (the
// bitmap outlives it: ~Image releases the buffers first), so a CPU device or one sharing the
// host's memory holds no second copy of the samples. A 32-bit source starts at its alpha
// offset, so that every pixel's colour starts at byte 4p of the buffer (OpenCL cannot bind a
// buffer at an odd offset).
bool makeBuffers(Image& image, const MetalDevice& device, size_t pixels) {
    if (image.metalBitmapData && image.metalCachedBitmapData) return true;
    releaseMetalBuffers(image);
    const auto& rep = *image.originalImageRep;
    const size_t offset =
        image.bitsPerPixel == 32 ? size_t(rep.bitmapFormat & BitmapFormatAlphaFirst) : 0;
    const size_t sourceBytes = pixels * size_t(image.bitsPerPixel / 8) - offset;
    cl_int error = CL_SUCCESS;
    image.metalBitmapData =
        clCreateBuffer(device.context, CL_MEM_READ_ONLY | CL_MEM_USE_HOST_PTR, sourceBytes,
                       const_cast<uint8_t*>(rep.bitmapData()) + offset, &error);
    if (error != CL_SUCCESS) image.metalBitmapData = nullptr;
    image.metalCachedBitmapData =
        clCreateBuffer(device.context, CL_MEM_WRITE_ONLY, pixels * 3, nullptr, &error);
    if (error != CL_SUCCESS) image.metalCachedBitmapData = nullptr;
    if (image.metalBitmapData && image.metalCachedBitmapData) return true;
    releaseMetalBuffers(image);
    return false;
}

// Sets the argument table and enqueues the grid; the launch captures the arguments.
bool launch(cl_command_queue queue, cl_program library, const Image& image, cl_uchar highlight) {
    const cl_long bitsPerPixel = image.bitsPerPixel, black = image._blackPoint,
                  white = image._whitePoint, debayer = image._debayer, width = image.width,
                  height = image.height;
    const cl_float redCoef = image.redCoef, blueCoef = image.blueCoef;
    std::lock_guard<std::mutex> lock(stretchPipeline().mutex);
    cl_kernel kernel = pipelineLocked(library);
    if (!kernel) return false;
    cl_int e = CL_SUCCESS;
    e |= clSetKernelArg(kernel, 0, sizeof(cl_mem), &image.metalBitmapData);
    e |= clSetKernelArg(kernel, 1, sizeof(cl_mem), &image.metalCachedBitmapData);
    e |= clSetKernelArg(kernel, 2, sizeof bitsPerPixel, &bitsPerPixel);
    e |= clSetKernelArg(kernel, 3, sizeof highlight, &highlight);
    e |= clSetKernelArg(kernel, 4, sizeof black, &black);
    e |= clSetKernelArg(kernel, 5, sizeof white, &white);
    e |= clSetKernelArg(kernel, 6, sizeof debayer, &debayer);
    e |= clSetKernelArg(kernel, 7, sizeof redCoef, &redCoef);
    e |= clSetKernelArg(kernel, 8, sizeof blueCoef, &blueCoef);
    e |= clSetKernelArg(kernel, 9, sizeof width, &width);
    e |= clSetKernelArg(kernel, 10, sizeof height, &height);
    if (e != CL_SUCCESS) return false;
    // Groups one execution width across and as many rows as fit; the grid is rounded up to
    // whole groups (OpenCL 1.2), and the kernel skips the items beyond the frame.
    const StretchPipeline& p = stretchPipeline();
    const size_t groupWidth = std::min(size_t(width), p.groupWidth);
    const size_t groupHeight =
        std::max<size_t>(1, std::min(size_t(height), p.groupItems / groupWidth));
    const size_t group[2] = {groupWidth, groupHeight};
    const size_t grid[2] = {(size_t(width) + groupWidth - 1) / groupWidth * groupWidth,
                            (size_t(height) + groupHeight - 1) / groupHeight * groupHeight};
    return clEnqueueNDRangeKernel(queue, kernel, 2, nullptr, grid, group, 0, nullptr, nullptr) ==
           CL_SUCCESS;
}

// Reads the output buffer into the destination rows, waiting for the pass.
bool readBack(cl_command_queue queue, const Image& image, uint8_t* destination, size_t rowBytes) {
    const size_t packedRow = size_t(image.width) * 3, rows = size_t(image.height);
    if (rowBytes == packedRow)
        return clEnqueueReadBuffer(queue, image.metalCachedBitmapData, CL_TRUE, 0, packedRow * rows,
                                   destination, 0, nullptr, nullptr) == CL_SUCCESS;
    const size_t origin[3] = {0, 0, 0}, region[3] = {packedRow, rows, 1};
    return clEnqueueReadBufferRect(queue, image.metalCachedBitmapData, CL_TRUE, origin, origin,
                                   region, packedRow, 0, rowBytes, 0, destination, 0, nullptr,
                                   nullptr) == CL_SUCCESS;
}

}  // namespace

void releaseMetalBuffers(Image& image) {
    if (image.metalBitmapData) clReleaseMemObject(image.metalBitmapData);
    if (image.metalCachedBitmapData) clReleaseMemObject(image.metalCachedBitmapData);
    image.metalBitmapData = image.metalCachedBitmapData = nullptr;
}

bool stretchWithMetalInto(Image& image, uint8_t* destination, size_t rowBytes) {
    const auto& rep = image.originalImageRep;
    if (!destination || !rep || !rep->bitmapData() || image.width <= 0 || image.height <= 0 ||
        rowBytes < size_t(image.width) * 3 || !convertible(image.bitsPerPixel))
        return false;
    for (int64_t point : {image._blackPoint, image._whitePoint})
        if (point < -pointLimit || point > pointLimit) return false;

    cl_program library = metalLibrary();
    const MetalDevice* device = metalDevice();
    if (!library || !device) return false;
    {
        std::lock_guard<std::mutex> lock(stretchPipeline().mutex);
        if (!pipelineLocked(library)) return false;
    }
    if (!makeBuffers(image, *device, size_t(image.width) * size_t(image.height))) return false;

    cl_int error = CL_SUCCESS;
    cl_command_queue queue = clCreateCommandQueue(device->context, device->device, 0, &error);
    if (!queue || error != CL_SUCCESS) return false;
    const cl_uchar highlight = userDefaults().defaultsBool("highlightOverexposure", true) ? 1 : 0;
    image.updateWhiteBalance();
    const bool done =
        launch(queue, library, image, highlight) && readBack(queue, image, destination, rowBytes);
    clReleaseCommandQueue(queue);
    return done;
}

bool Image::stretchWithMetal() {
    stretchedOnGPU = stretchWithMetalInto(*this, cachedBitmapData, size_t(width) * 3);
    return stretchedOnGPU;
}
