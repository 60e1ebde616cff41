// Whole-file conversion: reads an image file with the codec of its type and
// writes it with the codec of the target's type, changing size (bilinear),
// resolution and colour mode on the way.
//
// The road taken depends on what changes:
//   nothing, or only the resolution  the source codec writes the target
//                                     (a new resolution in dots per inch);
//   the size                         colour conversion (if any) into a plain
//                                     image, then resampling into the target
//                                     (for an indexed target: resampling,
//                                     then quantizing at the new size);
//   only the file type               the target borrows the source's planes;
//   the mode                         colour conversion into the target.
// Bitmap sources go to the black-and-white writer in bitmap mode and grey
// sources stay grey. Asked to write the format the target names, a bitmap
// source goes to that format instead, and a mode the target's writer cannot
// hold becomes the nearest one it can. Channels past the colour channels
// (an alpha plane) reach only writers that keep them. A mode pair without a
// conversion rule fails before anything is written; a target whose write
// fails is removed (an existing one that a following writer replaces stays
// as it was). Whatever the road, the writer gets the source's
// compression, byte order and thumbnail setting (a TIFF source's own), or
// those the options ask for, and a TIFF source's clip paths. The steps may
// spread their rows over the conversion's worker threads; the bytes written
// are the same for every thread count.
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/CFileFind.h"
#include "platform/Win32.h"
#include "rastik/CJpgIO.h"
#include "rastik/CRastik.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CColorConverter.h"
#include "rastik/core/CConversionCosts.h"
#include "rastik/core/CConversionFailure.h"
#include "rastik/core/CPlaneLoan.h"
#include "rastik/core/CPlaneRowSink.h"
#include "rastik/core/CPlaneWindow.h"
#include "rastik/core/CProgressPhases.h"
#include "rastik/core/CReadFeed.h"
#include "rastik/core/CReplacedTarget.h"
#include "rastik/core/CResampler.h"
#include "rastik/core/CSizeRule.h"
#include "rastik/core/CTargetFileSize.h"
#include "rastik/core/CWriterModes.h"
#include "rastik/core/ClipPathCopy.h"
#include "rastik/support/CPoolScope.h"

namespace {

// Widest row whose bit count BytesPerRow can take.
constexpr uint32_t kMaxWidth = 0x1FFFFFFFu;

// What one conversion does, worked out before the pixels are read.
struct ConversionPlan {
    const char* TargetPath = nullptr;
    // Where the writer writes when it is not TargetPath: the file that
    // replaces an existing target once the conversion has succeeded.
    const char* WritePath = nullptr;
    uint16_t TargetType = 0;
    uint32_t TargetMode = 0;
    uint32_t NewWidth = 0, NewHeight = 0;
    int32_t NewResolution = 0;
    int WithQorHeader = 1;
    // What differs from the source.
    bool ModeChanged = false, ResolutionChanged = false, TypeChanged = false, SizeChanged = false;
    // Writer settings: the source's, or those the options ask for.
    int32_t Compression = 1;
    int32_t IntelByteOrder = 1;
    int32_t WritePreview = 1;
    int32_t BigTiff = 0;
};

bool SourceExists(const char* path)
{
    CFileFind find;
    bool found = find.FindFile(path);
    find.Close();
    // A name holding pattern characters ('[', '*') may not find itself.
    return found || FileExists(path);
}

bool OpenForRead(CRastik& codec, const char* path)
{
    CFileException error;
    return codec.File.Open(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary, &error);
}

const char* WritePathOf(const ConversionPlan& p)
{
    return p.WritePath ? p.WritePath : p.TargetPath;
}

// Opens the target, lets the codec write it and closes it. A write that
// reports failure, throws, or cannot be flushed at close leaves no partial
// file behind and gives 0.
int WriteTarget(CRastik& codec, const ConversionPlan& p)
{
    const char* path = WritePathOf(p);
    codec.Compression = p.Compression;
    codec.IntelByteOrder = p.IntelByteOrder;
    codec.WritePreview = p.WritePreview;
    codec.BigTiff = p.BigTiff;
    CFileException error;
    if (!codec.File.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::typeBinary, &error)) return 0;
    int written = 0;
    try {
        written = codec.WriteFile();
    } catch (...) {
        written = 0;
    }
    bool closed = true;
    try {
        codec.File.Close();
    } catch (const CFileException&) {
        closed = false;
    }
    if (written && closed) return 1;
    CConversionFailure::OfThread().Set(closed ? codec.GetLastMessage() : kMsgDiskFull);
    DeleteFile(path);
    return 0;
}

// Planes of an image of a colour mode.
uint32_t PlanesOfMode(uint32_t mode)
{
    return mode == kModeRgb ? 3 : mode == kModeCmyk ? 4 : 1;
}

// Bytes of the temporary directory the conversion's planes take at their
// peak: the source's, then those of the image between and the target's,
// each set released as the steps release it.
uint64_t SpilledPeak(const CRastik& source, const ConversionPlan& p)
{
    uint64_t cap = GetPlaneHeapCap(), used = GetPlaneHeapInUse();
    CConversionCosts costs(cap > used ? cap - used : 0);
    uint32_t w = source.Width, h = source.Height, planes = source.ChannelCount;
    int read = costs.Make(planes, w, h);
    uint32_t target = PlanesOfMode(p.TargetMode);
    if (!p.SizeChanged) {
        if (p.ModeChanged) costs.Make(target, w, h);
    } else if (!p.ModeChanged) {
        costs.Make(planes, p.NewWidth, p.NewHeight);
    } else if (p.TargetMode == kModeIndexed) {
        costs.Make(planes, p.NewWidth, p.NewHeight);
        costs.Release(read);
        costs.Make(target, p.NewWidth, p.NewHeight);
    } else {
        costs.Make(target, w, h);
        costs.Release(read);
        costs.Make(target, p.NewWidth, p.NewHeight);
    }
    return costs.PeakSpilled();
}

// The cause of a failed read: the reader's message, else the row where the
// data ended.
void NoteReadFailure(const CRastik& source)
{
    CConversionFailure& failure = CConversionFailure::OfThread();
    if (source.GetLastMessage()) failure.Set(source.GetLastMessage());
    else if (!source.EscPressed && source.RowsRead() < source.Height)
        failure.Set(kMsgDataEnded, uint64_t{source.RowsRead()} + 1, source.Height);
}

// The directory a path names its file in.
std::string DirectoryOf(const char* path)
{
    std::string dir(path);
    size_t slash = dir.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : dir.substr(0, slash);
}

// Bytes the target's directory must hold: the largest file the target's
// writer may make for the image, and the spilled planes when the temporary
// directory lies on the same file system.
uint64_t TargetNeed(const CRastik& source, const ConversionPlan& p, uint64_t spilled, const std::string& dir)
{
    uint32_t samples = p.ModeChanged ? PlanesOfMode(p.TargetMode)
                                     : source.UseColorChannels ? source.ColorChannels : source.ChannelCount;
    CTargetFileSize size(p.NewWidth, p.NewHeight, samples, p.TargetMode == kModeBitmap);
    uint64_t need = size.Of(p.TargetType, p.Compression);
    if (OnOneFileSystem(dir.c_str(), GetTempDirectory())) need += spilled;
    return need;
}

// Whether the target's directory holds the target; a target it overwrites
// counts as free, one it replaces only once the new file is written. A
// directory that cannot be asked is left to the target's open.
bool TargetFits(const CRastik& source, const ConversionPlan& p, uint64_t spilled)
{
    const std::string dir = DirectoryOf(p.TargetPath);
    if (!HasFreeDiskSpace(dir.c_str(), 0)) return true;
    uint64_t need = TargetNeed(source, p, spilled, dir);
    uint64_t free = GetFreeDiskSpace(dir.c_str()) + (p.WritePath ? 0 : FileBytes(p.TargetPath));
    if (need <= free) return true;
    CConversionFailure::OfThread().Set(kMsgNoTargetSpace, need, free);
    return false;
}

// Whether the target's directory holds a new target beside the existing
// one it is to replace.
bool HoldsBeside(const CRastik& source, const ConversionPlan& p)
{
    const std::string dir = DirectoryOf(p.TargetPath);
    if (!HasFreeDiskSpace(dir.c_str(), 0)) return true;
    return TargetNeed(source, p, SpilledPeak(source, p), dir) <= GetFreeDiskSpace(dir.c_str());
}

// Before anything is allocated: the temporary directory must hold what the
// conversion spills at its peak (one that cannot be used fails even when
// nothing spills), and the target's directory the target.
bool DisksHold(const CRastik& source, const ConversionPlan& p)
{
    const char* temp = GetTempDirectory();
    uint64_t spilled = SpilledPeak(source, p);
    if (!HasFreeDiskSpace(temp, spilled)) {
        CConversionFailure::OfThread().Set(kMsgNoTempSpace, spilled, GetFreeDiskSpace(temp));
        return false;
    }
    return TargetFits(source, p, spilled);
}

// The source's planes, once the disks hold what the conversion needs.
bool AllocSource(CRastik& source, const ConversionPlan& p)
{
    source.BytesPerLine = BytesPerRow(source.Width * 8);
    if (!DisksHold(source, p)) return false;
    if (source.AllocChannelSpace()) return true;
    uint64_t free = GetFreeDiskSpace(GetTempDirectory());
    CConversionFailure::OfThread().Set(kMsgNoPlaneSpace, GetPlaneHeapCap(), free);
    return false;
}

// Reads the whole source image into its planes.
bool ReadPlanes(CRastik& source)
{
    source.TransparentIndex = -1;
    bool ok = source.ReadImageData() != 0;
    if (!ok) NoteReadFailure(source);
    return ok;
}

// Reads the whole source image into its planes and closes its file.
bool ReadSource(CRastik& source, const ConversionPlan& p)
{
    bool ok = AllocSource(source, p) && ReadPlanes(source);
    source.File.Abort();
    return ok;
}

// Whether every entry of the image's palette is a grey.
bool HasGreyPalette(const CRastik& image)
{
    if (!image.Palette || image.PaletteSize == 0) return false;
    for (uint32_t i = 0; i < image.PaletteSize && i < 256; ++i) {
        const uint8_t* e = image.Palette + 4 * i;
        if (e[0] != e[1] || e[1] != e[2]) return false;
    }
    return true;
}

void SetNewResolution(CRastik& image, int32_t resolution)
{
    image.XResolution = static_cast<float>(resolution);
    image.YResolution = static_cast<float>(resolution);
    image.ResolutionUnit = 1;
}

// The compression a target keeps of a TIFF source's: the source's own
// where the writer stores it, JPEG for old-style JPEG, none for the fax
// codes (bilevel images are stored uncompressed anyway), Deflate for the
// other lossless codes, so that no conversion of a TIFF file into TIFF
// fails on its source's compression.
int32_t KeptTiffCompression(int32_t code)
{
    switch (code) {
    case 1:
    case 5:
    case 7:
    case 8:
    case 32773: return code;
    case 6: return 7;
    case 2:
    case 3:
    case 4: return 1;
    default: return 8;
    }
}

// Type, mode, size and resolution of the target, from the arguments and the
// source header.
ConversionPlan MakePlan(const CRastik& source, uint16_t sourceType, uint16_t targetType, uint32_t mode,
                        int sizeMode, int resolution, unsigned width, int height, bool targetFormat)
{
    ConversionPlan p;
    if (source.ColorMode == kModeBitmap) {
        if (!targetFormat) targetType = kTypeBlackWhite;
        mode = kModeBitmap;
    } else if (source.ColorMode == kModeGrey) {
        mode = kModeGrey;
    }
    if (targetFormat) mode = CWriterModes(targetType).Nearest(mode, HasGreyPalette(source));
    // Size mode 7 rescales by the source resolution rounded, so that the
    // 71.98 dots per inch of a 72-dpi file stored per metre count as 72.
    int32_t dpi = sizeMode == 7 ? CSizeRule::NearestDotsPerInch(source.XResolution, source.ResolutionUnit)
                                : CSizeRule::DotsPerInch(source.XResolution, source.ResolutionUnit);
    CSizeRule rule(source.Width, source.Height, dpi);
    rule.Apply(sizeMode, width, height, resolution);
    p.TargetType = targetType;
    p.TargetMode = mode;
    p.NewWidth = rule.NewWidth;
    p.NewHeight = rule.NewHeight;
    p.NewResolution = rule.NewResolution;
    p.ModeChanged = mode != source.ColorMode;
    p.ResolutionChanged = rule.NewResolution != dpi;
    p.TypeChanged = targetType != sourceType;
    p.SizeChanged = rule.NewWidth != source.Width || rule.NewHeight != source.Height;
    p.Compression = sourceType == kTypeTiff ? KeptTiffCompression(source.Compression) : source.Compression;
    p.IntelByteOrder = source.IntelByteOrder;
    p.WritePreview = source.WritePreview;
    return p;
}

// The writer settings the options of ImgProcEx ask for.
void ApplyWriterOptions(ConversionPlan& p, unsigned options)
{
    if (options & kImgProcCompressionNone) p.Compression = 1;
    if (options & kImgProcCompressionLzw) p.Compression = 5;
    if (options & kImgProcCompressionPackBits) p.Compression = 32773;
    if (options & kImgProcCompressionDeflate) p.Compression = 8;
    if (options & kImgProcCompressionJpeg) p.Compression = 7;
    if (options & kImgProcLittleEndian) p.IntelByteOrder = 1;
    if (options & kImgProcBigEndian) p.IntelByteOrder = 0;
    if (options & kImgProcNoThumbnail) p.WritePreview = 0;
    if (options & kImgProcBigTiff) p.BigTiff = 1;
}

// Nothing but the resolution changes: the source codec writes the target,
// at the source's size.
int RewriteWithSource(CRastik& source, ConversionPlan& p, CProgressPhases& phases)
{
    phases.Enter(CProgressPhases::kWrite);
    if (p.ResolutionChanged) SetNewResolution(source, p.NewResolution);
    source.Path = WritePathOf(p);
    p.NewWidth = source.Width;
    p.NewHeight = source.Height;
    return WriteTarget(source, p);
}

// The codec settings a same-size target takes from its source.
void CopyWriterSettings(const CRastik& source, CRastik& target)
{
    target.WritePreview = source.WritePreview;
    target.IntelByteOrder = source.IntelByteOrder;
    target.EscPressed = source.EscPressed;
    target.PrevIsBgr = source.PrevIsBgr;
    target.Compression = source.Compression;
}

// Resize path: colour conversion into a plain image first when the mode
// changes (the source is released then), resampling into the target. An
// indexed target is resampled in the source's colours first and quantized
// at its new size, since resampled palette indexes would be other colours.
int ResizeInto(std::unique_ptr<CRastik>& source, CRastik& target, const ConversionPlan& p,
               CProgressPhases& phases)
{
    std::unique_ptr<CRastik> between;
    if (p.ModeChanged && p.TargetMode == kModeIndexed) {
        phases.Enter(CProgressPhases::kResample);
        between = std::make_unique<CRastik>();
        if (!CResampler(*source, *between).Resample(p.NewWidth, p.NewHeight)) return 0;
        source.reset();
        phases.Enter(CProgressPhases::kConvert);
        if (!CColorConverter(*between, target).Convert(p.TargetMode)) return 0;
    } else {
        if (p.ModeChanged) {
            phases.Enter(CProgressPhases::kConvert);
            between = std::make_unique<CRastik>();
            if (!CColorConverter(*source, *between).Convert(p.TargetMode)) return 0;
            source.reset();
        }
        phases.Enter(CProgressPhases::kResample);
        CRastik& from = between ? *between : *source;
        if (!CResampler(from, target).Resample(p.NewWidth, p.NewHeight)) return 0;
    }
    SetNewResolution(target, p.NewResolution);
    return 1;
}

// Same size, another type or mode: the target borrows the source's planes,
// or receives the colour conversion.
int WriteSameSize(std::unique_ptr<CRastik>& source, CRastik& target, const ConversionPlan& p,
                  CProgressPhases& phases)
{
    target.SetSize(source.get());
    CopyWriterSettings(*source, target);
    if (!p.ModeChanged) {
        target.SetMode(source.get());
        SetNewResolution(target, p.NewResolution);
        phases.Enter(CProgressPhases::kWrite);
        CPlaneLoan loan(*source, target);
        return WriteTarget(target, p);
    }
    phases.Enter(CProgressPhases::kConvert);
    if (!CColorConverter(*source, target).Convert(p.TargetMode)) return 0;
    source.reset();
    SetNewResolution(target, p.NewResolution);
    phases.Enter(CProgressPhases::kWrite);
    return WriteTarget(target, p);
}

// Whether the target's writer can follow the step that makes its rows,
// writing each band as soon as its rows are final: the JPEG writer, and the
// bitmap writer of colour and grey images (whose header takes nothing from
// the read's rows).
bool FollowingWriter(const ConversionPlan& p)
{
    bool colour = p.TargetMode == kModeRgb || p.TargetMode == kModeGrey;
    return p.TargetType == kTypeJpeg || (p.TargetType == kTypeBmp && colour);
}

// Whether the target's writer follows: a file already at the target's path
// must stay as it is when the read fails, so only new targets and those
// written beside the file they replace are written this way; others are
// written once the read has ended.
bool WriterFollows(const ConversionPlan& p)
{
    return FollowingWriter(p) && (p.WritePath || !FileExists(p.TargetPath));
}

// Writes the target while feed makes its rows: the writer follows the read
// (and the resampling) band by band. The read's progress stands for the
// whole conversion; a failed read keeps its cause.
int WriteFollowingFeed(CRastik& source, CRastik& target, CReadFeed& feed, const ConversionPlan& p,
                       CProgressPhases& phases)
{
    phases.Follow();
    phases.Enter(CProgressPhases::kRead);
    target.WriteFollowing(&feed);
    int written = WriteTarget(target, p);
    target.WriteFollowing(nullptr);
    source.File.Abort();
    if (!written && feed.ReadFailed()) NoteReadFailure(source);
    return written;
}

// The resize path with worker threads and no mode change: the target's rows
// are resampled on the pool while the source is still being read, each as
// soon as the source rows it needs are in (a top-down file read into heap
// planes; otherwise all of them after the read), and a writer that follows
// writes them as they are made. Memory is as on the sequential path: the
// target's planes are only made before the read rather than after it.
int ResizeWhileReading(CRastik& source, const ConversionPlan& p, CProgressPhases& phases, CWorkerPool& pool)
{
    std::unique_ptr<CRastik> target(NewRastikInstance(p.TargetType, WritePathOf(p)));
    if (!target) return 0;
    target->WithQorHeader = p.WithQorHeader;
    CResampler resampler(source, *target);
    bool read = AllocSource(source, p) && resampler.Follow(pool, p.NewWidth, p.NewHeight);
    double scaleX = static_cast<double>(p.NewWidth) / source.Width;
    double scaleY = static_cast<double>(p.NewHeight) / source.Height;
    if (read && WriterFollows(p)) {
        if (!CopyClipPaths(source, *target, scaleX, scaleY)) {
            source.File.Abort();
            return 0;
        }
        SetNewResolution(*target, p.NewResolution);
        CReadFeed feed(source, [&source] { return ReadPlanes(source); }, resampler);
        return WriteFollowingFeed(source, *target, feed, p, phases);
    }
    if (read) {
        source.FollowRead(resampler.Follower());
        read = ReadPlanes(source);
        source.FollowRead(nullptr);
    }
    source.File.Abort();
    phases.Enter(CProgressPhases::kResample);
    if (!resampler.Complete(read)) return 0;
    if (!CopyClipPaths(source, *target, scaleX, scaleY)) return 0;
    SetNewResolution(*target, p.NewResolution);
    phases.Enter(CProgressPhases::kWrite);
    return WriteTarget(*target, p);
}

// The source's planes hold only a window of their rows when the JPEG
// writer follows a read that fills them from the top, a row at a time: the
// writer releases each band's rows once it is coded, and the read fills
// the next rows over them.
void WindowFollowedPlanes(CRastik& source, const ConversionPlan& p, uint32_t threads)
{
    if (p.TargetType != kTypeJpeg || !source.WholeReadFromTop()) return;
    const uint32_t held = CJpgIO::FollowingRowsHeld(source.Width, source.ChannelCount);
    const uint32_t rows =
        CPlaneWindow::RowsFor(held, CPlaneRowSink::MostRowsAhead(threads), BytesPerRow(source.Width * 8));
    source.WindowPlanes(std::make_shared<CPlaneWindow>(rows));
}

// A target at the source's size and mode takes its size, mode and writer
// settings, at the plan's resolution.
void TakeSourceLayout(const CRastik& source, CRastik& target, const ConversionPlan& p)
{
    target.SetSize(&source);
    CopyWriterSettings(source, target);
    target.SetMode(&source);
    SetNewResolution(target, p.NewResolution);
}

// Another type at the same size and mode, with worker threads, for a
// writer that follows: the target borrows the source's planes before the
// read and writes them band by band as the read fills them.
int WriteWhileReading(CRastik& source, const ConversionPlan& p, CProgressPhases& phases, uint32_t threads)
{
    std::unique_ptr<CRastik> target(NewRastikInstance(p.TargetType, WritePathOf(p)));
    if (!target) return 0;
    target->WithQorHeader = p.WithQorHeader;
    WindowFollowedPlanes(source, p, threads);
    if (!CopyClipPaths(source, *target, 1.0, 1.0) || !AllocSource(source, p)) {
        source.File.Abort();
        return 0;
    }
    TakeSourceLayout(source, *target, p);
    CPlaneLoan loan(source, *target);
    CReadFeed feed(source, [&source] { return ReadPlanes(source); });
    return WriteFollowingFeed(source, *target, feed, p, phases);
}

// The source's stored rows for a JPEG target of its size and mode, when its
// file keeps them so (null otherwise).
std::unique_ptr<CStoredRows> StoredRowsFor(CRastik& source, const ConversionPlan& p)
{
    if (p.TargetType != kTypeJpeg || p.SizeChanged || p.ModeChanged) return nullptr;
    return source.OpenStoredRows();
}

// Another type at the same size and mode for the JPEG writer, from a source
// whose file keeps its rows so that any thread may take them: the writer's
// worker threads read and code runs of rows straight from the file, and the
// source's planes are never made.
int WriteFromStoredRows(CRastik& source, const CStoredRows& stored, const ConversionPlan& p,
                        CProgressPhases& phases)
{
    std::unique_ptr<CRastik> target(NewRastikInstance(p.TargetType, WritePathOf(p)));
    if (!target) return 0;
    target->WithQorHeader = p.WithQorHeader;
    source.BytesPerLine = BytesPerRow(source.Width * 8);
    if (!CopyClipPaths(source, *target, 1.0, 1.0) || !DisksHold(source, p)) {
        source.File.Abort();
        return 0;
    }
    TakeSourceLayout(source, *target, p);
    phases.Follow();
    phases.Enter(CProgressPhases::kRead);
    target->WriteStored(&stored);
    const int written = WriteTarget(*target, p);
    target->WriteStored(nullptr);
    source.File.Abort();
    if (!written && stored.Failed()) NoteReadFailure(source);
    return written;
}

int WriteWithTarget(std::unique_ptr<CRastik>& source, const ConversionPlan& p, CProgressPhases& phases)
{
    std::unique_ptr<CRastik> target(NewRastikInstance(p.TargetType, WritePathOf(p)));
    if (!target) return 0;
    target->WithQorHeader = p.WithQorHeader;
    double scaleX = static_cast<double>(p.NewWidth) / source->Width;
    double scaleY = static_cast<double>(p.NewHeight) / source->Height;
    if (!CopyClipPaths(*source, *target, scaleX, scaleY)) return 0;
    if (!p.SizeChanged) return WriteSameSize(source, *target, p, phases);
    if (!ResizeInto(source, *target, p, phases)) return 0;
    phases.Enter(CProgressPhases::kWrite);
    return WriteTarget(*target, p);
}

// JPEG quality of ImgProc: the target keeps the codecs' default.
constexpr uint32_t kDefaultJpegQuality = 0xFFFFFFFFu;

int Convert(const char* sourcePath, const char* targetPath, int targetMode, int sizeMode, int resolution,
            unsigned width, int height, int* widthWritten, int* heightWritten, int withQorHeader,
            uint32_t jpegQuality, unsigned options, uint32_t page)
{
    CConversionFailure::OfThread().Clear();
    if (!sourcePath || !targetPath || !SourceExists(sourcePath)) return 0;
    // One worker pool serves every step of the conversion and ends with it.
    CPoolScope pool;
    uint16_t sourceType = DetectFileType(sourcePath);
    uint16_t targetType = DetectFileType(targetPath);
    uint32_t mode = static_cast<uint32_t>(targetMode);
    if (targetMode == kModeBlackWhite) {
        targetType = kTypeBlackWhite;
        mode = kModeGrey;
    }
    if (!sourceType || !targetType) return 0;

    std::unique_ptr<CRastik> source(NewRastikInstance(sourceType, sourcePath));
    if (!source || !OpenForRead(*source, sourcePath)) return 0;
    source->Page = page;
    if (!source->ReadImageHead()) {
        uint64_t first = 0, second = 0;
        source->GetMessageFigures(source->GetLastMessage(), &first, &second);
        CConversionFailure::OfThread().Set(source->GetLastMessage(), first, second);
        return 0;
    }
    if (source->Width == 0 || source->Height == 0 || source->Width > kMaxWidth) return 0;

    ConversionPlan p = MakePlan(*source, sourceType, targetType, mode, sizeMode, resolution, width, height,
                                (options & kImgProcTargetFormat) != 0);
    p.TargetPath = targetPath;
    p.WithQorHeader = withQorHeader;
    ApplyWriterOptions(p, options);
    source->WithQorHeader = withQorHeader;
    // Every target takes its JPEG quality from the source (SetSize).
    if (jpegQuality != kDefaultJpegQuality) source->JpegQuality = jpegQuality;
    // A pair without a conversion rule would write empty planes: refuse it
    // before anything is read or written.
    if (p.ModeChanged && !CColorConverter::HasRule(source->ColorMode, p.TargetMode)) return 0;
    if (p.NewWidth > kMaxWidth) return 0;
    // Only the colour channels are read for a writer that cannot keep more
    // (the reader still lays out the file's rows by all its channels), and
    // only they are written.
    bool colourOnly = source->ChannelCount > source->ColorChannels &&
                      (!CWriterModes(p.TargetType).HoldsExtraChannels() || (options & kImgProcColourOnly));
    if (colourOnly) source->UseColorChannels = 1;

    bool viaSource = !p.ModeChanged && !p.TypeChanged && !p.SizeChanged;
    CProgressPhases phases;
    phases.Plan(p.ModeChanged, p.SizeChanged, p.ModeChanged && p.TargetMode == kModeIndexed);
    phases.Enter(CProgressPhases::kRead);
    int result = 0;
    CWorkerPool* workers = pool.Pool();
    // An existing target of a writer that follows the read is written beside
    // it and put in its place at the end.
    // The roads on worker threads: a resize, or another type at the same
    // size for a writer that follows the read.
    const bool threaded = workers && !p.ModeChanged && !colourOnly && (p.SizeChanged || !viaSource);
    CReplacedTarget replaced;
    std::unique_ptr<CStoredRows> stored;
    if (threaded && FollowingWriter(p) && FileExists(targetPath) && HoldsBeside(*source, p) &&
        replaced.Open(targetPath))
        p.WritePath = replaced.WritePath();
    if (threaded && WriterFollows(p)) stored = StoredRowsFor(*source, p);
    if (threaded && p.SizeChanged) {
        result = ResizeWhileReading(*source, p, phases, *workers);
    } else if (stored) {
        result = WriteFromStoredRows(*source, *stored, p, phases);
    } else if (threaded && WriterFollows(p)) {
        result = WriteWhileReading(*source, p, phases, workers->Threads());
    } else {
        if (!ReadSource(*source, p)) return 0;
        if (colourOnly) source->ChannelCount = source->ColorChannels;
        result = viaSource ? RewriteWithSource(*source, p, phases) : WriteWithTarget(source, p, phases);
    }
    if (result && p.WritePath && !replaced.Commit()) {
        CConversionFailure::OfThread().Set(kMsgCannotCreate);
        result = 0;
    }
    if (result) {
        if (widthWritten) *widthWritten = static_cast<int>(p.NewWidth);
        if (heightWritten) *heightWritten = static_cast<int>(p.NewHeight);
    }
    return result;
}

}  // namespace

extern "C" int ImgProc(const char* sourcePath, const char* targetPath, int targetMode, int sizeMode,
                       int resolution, unsigned width, int height, int* widthWritten, int* heightWritten,
                       int withQorHeader)
{
    try {
        return Convert(sourcePath, targetPath, targetMode, sizeMode, resolution, width, height, widthWritten,
                       heightWritten, withQorHeader, kDefaultJpegQuality, 0, 0);
    } catch (...) {
        // Nothing is thrown to a host; codecs and files were released on the way out.
        return 0;
    }
}

extern "C" int GetImgProcFailure(const char** text)
{
    const CConversionFailure& failure = CConversionFailure::OfThread();
    if (text) *text = failure.Text().c_str();
    return failure.Message();
}

extern "C" int ImgProcEx(const char* sourcePath, const char* targetPath, int targetMode, int sizeMode,
                         int resolution, unsigned width, int height, int* widthWritten, int* heightWritten,
                         int withQorHeader, unsigned jpegQuality, unsigned options)
{
    return ImgProcPage(sourcePath, targetPath, targetMode, sizeMode, resolution, width, height, widthWritten,
                       heightWritten, withQorHeader, jpegQuality, options, 0);
}

extern "C" int ImgProcPage(const char* sourcePath, const char* targetPath, int targetMode, int sizeMode,
                           int resolution, unsigned width, int height, int* widthWritten, int* heightWritten,
                           int withQorHeader, unsigned jpegQuality, unsigned options, uint32_t page)
{
    if (jpegQuality > 100) return 0;
    try {
        return Convert(sourcePath, targetPath, targetMode, sizeMode, resolution, width, height, widthWritten,
                       heightWritten, withQorHeader, jpegQuality, options, page);
    } catch (...) {
        return 0;
    }
}
