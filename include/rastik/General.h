// Memory, row geometry, file-type detection, temporary storage, disk space and
// progress: the general support services the codecs rely on, with the two
// settings that bound memory use (large-buffer grants and plane heap).
#pragma once

#include <cstdint>

extern "C" {

// Buffers. Flags a and b only describe the caller's use; every buffer is
// zero-filled. Release with FreeBuffer, which clears the pointer variable.
void* AllocBuffer(uint32_t size, int a, int b);
// Grants as much as it can of requested bytes, at least one unit (never more
// than requested, and never more than the large-buffer cap unless one unit is
// larger), and stores the granted count in *granted. Null when not even one
// unit can be had.
void* AllocLargeBuffer(uint32_t requested, uint32_t unit, uint32_t* granted, int reserved);
void FreeBuffer(void* pointerVariable);

// Byte stride of a row of the given number of bits: whole 4-byte words.
uint32_t BytesPerRow(uint32_t bits);
// Row alignment unit in bytes (4).
uint32_t GetRowAlignment();

// File-type code of an image file by its content; for a path that does not
// exist yet, by its extension. 0 when not recognised.
uint16_t DetectFileType(const char* path);

// Directory for temporary files: TMPDIR, else /tmp.
const char* GetTempDirectory();
// Non-zero when the file system holding dir has at least bytes free.
int HasFreeDiskSpace(const char* dir, uint64_t bytes);

// Progress. Each thread has its own range, starting as 0..1000; a host may
// set it and install a callback (for every thread) that receives every
// position with the calling thread's range.
typedef void (*ProgressCallback)(int32_t position, int32_t start, int32_t end, void* user);
void SetProgressCallback(ProgressCallback callback, void* user);
void SetProgressRange(int32_t start, int32_t end);
void GetProgressRange(int32_t* start, int32_t* end);
int32_t GetProgressSpan();
void SetProgress(int32_t position);
void BeginProgress();
void EndProgress();

// Memory settings for hosts with little memory and for tests.
// Largest grant of AllocLargeBuffer; 0 restores the default (32 MiB).
void SetLargeBufferCap(uint32_t bytes);
uint32_t GetLargeBufferCap();
// Heap bytes all channel planes of the process may take together before
// further planes go to the temporary file; 0 restores the default (half of
// physical memory).
void SetPlaneHeapCap(uint64_t bytes);
uint64_t GetPlaneHeapCap();
// Heap bytes held by channel planes now.
uint64_t GetPlaneHeapInUse();
}

// Accounting of heap planes against the cap: Reserve returns false (and takes
// nothing) when the plane would pass the cap.
bool ReservePlaneHeap(uint64_t bytes);
void ReleasePlaneHeap(uint64_t bytes);

// Reports one row of a loop: start + done * span / total, in signed 32-bit
// arithmetic as the codecs do it.
void StepProgress(int32_t start, int32_t span, uint32_t done, uint32_t total);
