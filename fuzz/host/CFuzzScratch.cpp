// The scratch directory of a fuzzing process and the fault report.
#include "CFuzzScratch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool Writable(const char* dir)
{
    return dir && *dir && access(dir, W_OK | X_OK) == 0;
}

std::string ScratchBase()
{
    const char* chosen = getenv("RASTIK_FUZZ_SCRATCH");
    if (Writable(chosen)) return chosen;
    const char* tmp = getenv("TMPDIR");
    return Writable(tmp) ? tmp : "/tmp";
}

}  // namespace

void FuzzFault(const char* what, const std::string& detail)
{
    fprintf(stderr, "==fuzz host== %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    abort();
}

uint32_t FuzzHash(const uint8_t* data, size_t size)
{
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
}

std::vector<uint8_t> FuzzReadFile(const std::string& path)
{
    std::vector<uint8_t> bytes;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return bytes;
    uint8_t buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    close(fd);
    return bytes;
}

CFuzzScratch& CFuzzScratch::Get()
{
    static CFuzzScratch scratch;
    return scratch;
}

CFuzzScratch::CFuzzScratch()
{
    std::string pattern = ScratchBase() + "/rastik-fuzz-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) FuzzFault("cannot make the scratch directory", pattern);
    m_dir = buf.data();
    setenv("TMPDIR", m_dir.c_str(), 1);
}

CFuzzScratch::~CFuzzScratch()
{
    RemoveAll(m_dir);
}

void CFuzzScratch::RemoveAll(const std::string& dir)
{
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            std::string path = dir + "/" + name;
            struct stat st;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) RemoveAll(path);
            else unlink(path.c_str());
        }
        closedir(d);
    }
    rmdir(dir.c_str());
}

std::string CFuzzScratch::Write(const std::string& name, const uint8_t* data, size_t size)
{
    std::string path = Path(name);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) FuzzFault("cannot write an input", path);
    for (size_t done = 0; done < size;) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) FuzzFault("cannot write an input", path);
        done += static_cast<size_t>(n);
    }
    close(fd);
    m_inputs.insert(name);
    return path;
}

std::string CFuzzScratch::MakeDir(const std::string& name)
{
    std::string path = Path(name);
    if (mkdir(path.c_str(), 0700) != 0) FuzzFault("cannot make an input directory", path);
    m_dirs.insert(name);
    return path;
}

void CFuzzScratch::EndInput()
{
    for (const std::string& name : m_inputs) unlink(Path(name).c_str());
    m_inputs.clear();
    for (auto it = m_dirs.rbegin(); it != m_dirs.rend(); ++it)
        if (rmdir(Path(*it).c_str()) != 0) FuzzFault("left behind in a directory of the input", Path(*it));
    m_dirs.clear();
    DIR* d = opendir(m_dir.c_str());
    if (!d) FuzzFault("the scratch directory is gone", m_dir);
    std::string left;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") left = name;
    }
    closedir(d);
    if (!left.empty()) FuzzFault("left behind in the scratch directory", left);
}
