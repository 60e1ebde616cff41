// Memory, row geometry, file-type detection, temporary storage, disk space and
// progress: the general support services the codecs rely on, with the two
// settings that bound memory use (large-buffer grants and plane heap).
#pragma once

#include <cstdint>

#include "rastik/RastikApi.h"

extern "C" {

// Buffers. Flags a and b only describe the caller's use; every buffer is
// zero-filled. Release with FreeBuffer, which clears the pointer variable.
RASTIK_API void* AllocBuffer(uint32_t size, int a, int b);
// Grants as much as it can of requested bytes, at least one unit (never more
// than requested, and never more than the large-buffer cap unless one unit is
// larger), and stores the granted count in *granted. Null when not even one
// unit can be had.
RASTIK_API void* AllocLargeBuffer(uint32_t requested, uint32_t unit, uint32_t* granted, int reserved);
RASTIK_API void FreeBuffer(void* pointerVariable);

// Byte stride of a row of the given number of bits: whole 4-byte words.
RASTIK_API uint32_t BytesPerRow(uint32_t bits);
// Row alignment unit in bytes (4).
RASTIK_API uint32_t GetRowAlignment();

// File-type code of an image file by its content; for a path that does not
// exist yet, by its extension. 0 when not recognised.
RASTIK_API uint16_t DetectFileType(const char* path);

// Directory for temporary files: TMPDIR, else /tmp.
RASTIK_API const char* GetTempDirectory();
// Non-zero when the file system holding dir has at least bytes free.
RASTIK_API int HasFreeDiskSpace(const char* dir, uint64_t bytes);
// Bytes free to the caller on the file system holding dir; 0 when unknown.
RASTIK_API uint64_t GetFreeDiskSpace(const char* dir);

// Progress. Each thread has its own range, starting as 0..1000; a host may
// set it and install a callback (for every thread) that receives every
// position with the calling thread's range. The callback runs on the thread
// that called the codec or ImgProc (never on a worker thread of the
// conversion); codecs on several threads may call it at the same time.
typedef void (*ProgressCallback)(int32_t position, int32_t start, int32_t end, void* user);
RASTIK_API void SetProgressCallback(ProgressCallback callback, void* user);
RASTIK_API void SetProgressRange(int32_t start, int32_t end);
RASTIK_API void GetProgressRange(int32_t* start, int32_t* end);
RASTIK_API int32_t GetProgressSpan();
RASTIK_API void SetProgress(int32_t position);
RASTIK_API void BeginProgress();
RASTIK_API void EndProgress();

// Memory settings for hosts with little memory and for tests.
// Largest grant of AllocLargeBuffer; 0 restores the default (32 MiB).
RASTIK_API void SetLargeBufferCap(uint32_t bytes);
RASTIK_API uint32_t GetLargeBufferCap();
// Heap bytes all channel planes of the process may take together before
// further planes go to the temporary file; 0 restores the default (half of
// physical memory).
RASTIK_API void SetPlaneHeapCap(uint64_t bytes);
RASTIK_API uint64_t GetPlaneHeapCap();
// Heap bytes held by channel planes now.
RASTIK_API uint64_t GetPlaneHeapInUse();
// Pixels (width x height) an image may declare for its header to be read,
// for untrusted input: every reader refuses a larger image in
// ReadImageHead (27710). 0, the default, sets no limit.
RASTIK_API void SetMaxPixels(uint64_t pixels);
RASTIK_API uint64_t GetMaxPixels();
}

// Accounting of heap planes against the cap: Reserve returns false (and takes
// nothing) when the plane would pass the cap.
RASTIK_API bool ReservePlaneHeap(uint64_t bytes);
RASTIK_API void ReleasePlaneHeap(uint64_t bytes);

// Reports one row of a loop: start + done * span / total, in signed 32-bit
// arithmetic as the codecs do it.
RASTIK_API void StepProgress(int32_t start, int32_t span, uint32_t done, uint32_t total);
