// A host of the codec library: reads an image's header and pixels into
// channel planes, prints what it found, and converts the file to a
// half-size grey bitmap with ImgProc.
#include <cstdio>
#include <memory>

#include <rastik/rastik.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: host_example IMAGE OUT.bmp\n");
        return 2;
    }
    const char* path = argv[1];
    std::unique_ptr<CRastik> codec(NewRastikInstance(DetectFileType(path), path));
    if (!codec) return 1;
    if (!codec->File.Open(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) return 1;
    if (!codec->ReadImageHead()) return 1;
    codec->BytesPerLine = BytesPerRow(codec->Width * 8);
    if (!codec->AllocChannelSpace() || !codec->ReadImageData()) return 1;
    codec->File.Close();

    uint8_t row[4096] = {};
    if (codec->BytesPerLine <= sizeof row) codec->ReadPlaneRow(0, 0, row);
    printf("%u x %u, colour mode %u, %u channels, first sample %u\n", codec->Width, codec->Height,
           codec->ColorMode, codec->ChannelCount, row[0]);

    int width = 0, height = 0;
    if (!ImgProc(path, argv[2], 3, 1, 72, codec->Width / 2, 0, &width, &height, 0)) return 1;
    printf("wrote %s: %d x %d\n", argv[2], width, height);
    return 0;
}
