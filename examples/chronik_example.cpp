// A host of the event store: stores two faults of node 2 and the clearing of
// one of them in the directory given, then reads the hour back and prints
// every occurrence with the time it was cleared.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iterator>

#include <chronik/chronik.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: chronik_example DIR\n");
        return 2;
    }
    const char* dir = argv[1];
    SetConfigData(30, 86400);  // once, at start-up
    uint32_t now = static_cast<uint32_t>(time(nullptr));
    uint32_t codes[] = {0x21203, 0x820640};  // two faults of node 2
    Write(2, now, 2, codes, dir);
    uint32_t clear = 0x80021203;  // the first one went away
    Write(2, now + 60, 1, &clear, dir);

    const DiagRecordList* list = Read(now - 3600, now + 3600, dir, 0, 0);
    if (!list) return 1;  // nothing readable
    for (auto it = std::next(list->begin()); it != list->end(); ++it)  // skip the placeholder
        printf("%s  %-19s  %s  %s\n", it->timeText.c_str(), it->clearTimeText.c_str(), it->categoryText.c_str(),
               it->messageText.c_str());
    return 0;  // the list stays the library's
}
