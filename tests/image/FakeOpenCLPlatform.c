/* An OpenCL platform for the ICD loader with one device of GPU type, for the tests of the
 * OpenCL probe: the variable FAKE_OPENCL_GPU says what the device is like:
 *   usable        available, with a compiler, little-endian
 *   unavailable   not available
 *   no-compiler   without a compiler
 * A context cannot be made on it. Loaded through OCL_ICD_VENDORS (a vendor file naming this
 * library by its full path). */
#define CL_TARGET_OPENCL_VERSION 120
#define CL_USE_DEPRECATED_OPENCL_1_2_APIS
#include <CL/cl.h>
#include <CL/cl_icd.h>

#include <stdlib.h>
#include <string.h>

struct _cl_platform_id {
    cl_icd_dispatch* dispatch; /* the loader reads the table through the first field */
};
struct _cl_device_id {
    cl_icd_dispatch* dispatch; /* as for the platform */
};

static cl_icd_dispatch table;
static struct _cl_platform_id platform = {&table};
static struct _cl_device_id device = {&table};

/* Copies `size` bytes of `value` to the caller's `out` of `capacity` bytes, as OpenCL's
 * queries do; CL_INVALID_VALUE when they do not fit. */
static cl_int answer(const void* value, size_t size, size_t capacity, void* out, size_t* written) {
    if (written) *written = size;
    if (!out) return CL_SUCCESS;
    if (capacity < size) return CL_INVALID_VALUE;
    memcpy(out, value, size);
    return CL_SUCCESS;
}

static cl_int CL_API_CALL getPlatformInfo(cl_platform_id p, cl_platform_info what, size_t size,
                                          void* value, size_t* written) {
    const char* text = NULL;
    (void)p;
    switch (what) {
        case CL_PLATFORM_PROFILE:
            text = "FULL_PROFILE";
            break;
        case CL_PLATFORM_VERSION:
            text = "OpenCL 1.2 fake";
            break;
        case CL_PLATFORM_NAME:
            text = "Fake platform";
            break;
        case CL_PLATFORM_VENDOR:
            text = "Quasel tests";
            break;
        case CL_PLATFORM_EXTENSIONS:
            text = "cl_khr_icd";
            break;
        case CL_PLATFORM_ICD_SUFFIX_KHR:
            text = "FAKE";
            break;
        default:
            return CL_INVALID_VALUE;
    }
    return answer(text, strlen(text) + 1, size, value, written);
}

static cl_int CL_API_CALL getDeviceIDs(cl_platform_id p, cl_device_type type, cl_uint capacity,
                                       cl_device_id* devices, cl_uint* count) {
    (void)p;
    if (!(type & (CL_DEVICE_TYPE_GPU | CL_DEVICE_TYPE_DEFAULT))) return CL_DEVICE_NOT_FOUND;
    if (count) *count = 1;
    if (devices && capacity > 0) devices[0] = &device;
    return CL_SUCCESS;
}

static cl_int CL_API_CALL getDeviceInfo(cl_device_id d, cl_device_info what, size_t size,
                                        void* value, size_t* written) {
    const char* kind = getenv("FAKE_OPENCL_GPU");
    const cl_device_type type = CL_DEVICE_TYPE_GPU;
    cl_bool flag = CL_TRUE;
    (void)d;
    if (!kind) kind = "usable";
    switch (what) {
        case CL_DEVICE_TYPE:
            return answer(&type, sizeof type, size, value, written);
        case CL_DEVICE_NAME:
            return answer("Fake GPU", 9, size, value, written);
        case CL_DEVICE_AVAILABLE:
            flag = strcmp(kind, "unavailable") != 0;
            break;
        case CL_DEVICE_COMPILER_AVAILABLE:
            flag = strcmp(kind, "no-compiler") != 0;
            break;
        case CL_DEVICE_ENDIAN_LITTLE:
            flag = CL_TRUE;
            break;
        default:
            return CL_INVALID_VALUE;
    }
    return answer(&flag, sizeof flag, size, value, written);
}

static cl_context CL_API_CALL createContext(
    const cl_context_properties* properties, cl_uint count, const cl_device_id* devices,
    void(CL_CALLBACK* notify)(const char*, const void*, size_t, void*), void* data, cl_int* error) {
    (void)properties, (void)count, (void)devices, (void)notify, (void)data;
    if (error) *error = CL_OUT_OF_RESOURCES;
    return NULL;
}

CL_API_ENTRY cl_int CL_API_CALL clIcdGetPlatformIDsKHR(cl_uint capacity, cl_platform_id* platforms,
                                                       cl_uint* count) {
    table.clGetPlatformInfo = getPlatformInfo;
    table.clGetDeviceIDs = getDeviceIDs;
    table.clGetDeviceInfo = getDeviceInfo;
    table.clCreateContext = createContext;
    if (count) *count = 1;
    if (platforms && capacity > 0) platforms[0] = &platform;
    return CL_SUCCESS;
}

CL_API_ENTRY cl_int CL_API_CALL clGetPlatformInfo(cl_platform_id p, cl_platform_info what,
                                                  size_t size, void* value, size_t* written) {
    return getPlatformInfo(p, what, size, value, written);
}

CL_API_ENTRY void* CL_API_CALL clGetExtensionFunctionAddress(const char* name) {
    if (strcmp(name, "clIcdGetPlatformIDsKHR") == 0) return (void*)clIcdGetPlatformIDsKHR;
    return NULL;
}
