// Failing writes on request and laying files out as a power loss leaves them.
#include "platform/CFileFaults.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

namespace {
CFileFaults* g_active = nullptr;

std::string WithoutTrailingSlash(std::string dir)
{
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}
}  // namespace

CFileFaults::CFileFaults()
{
    g_active = this;
}

CFileFaults::~CFileFaults()
{
    if (g_active == this) g_active = nullptr;
}

CFileFaults* CFileFaults::Active()
{
    return g_active;
}

void CFileFaults::FailWrite(uint64_t n, int error)
{
    m_failAt = n ? m_writes + n : 0;
    m_failError = error;
}

int CFileFaults::CountWrite()
{
    ++m_writes;
    return m_writes == m_failAt ? m_failError : 0;
}

void CFileFaults::Record(const std::string& dir)
{
    m_dir = WithoutTrailingSlash(dir);
    m_recording = true;
    m_ops.clear();
    m_start.clear();
    DIR* d = opendir(m_dir.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        std::string path = m_dir + "/" + e->d_name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        std::ifstream in(path, std::ios::binary);
        m_start[e->d_name].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    closedir(d);
}

bool CFileFaults::NameIn(const std::string& path, std::string& name) const
{
    if (!m_recording || path.size() <= m_dir.size() + 1 || path.compare(0, m_dir.size(), m_dir) != 0 ||
        path[m_dir.size()] != '/')
        return false;
    name = path.substr(m_dir.size() + 1);
    return name.find('/') == std::string::npos;
}

void CFileFaults::Add(Kind kind, const std::string& name, uint64_t offset, const void* data, size_t count)
{
    Operation op{kind, name, offset, {}};
    if (count) op.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
    m_ops.push_back(std::move(op));
}

int CFileFaults::BeforeWrite(const std::string& path, uint64_t offset, const void* data, size_t count)
{
    if (int error = CountWrite()) return error;
    std::string name;
    if (NameIn(path, name)) Add(WriteOp, name, offset, data, count);
    return 0;
}

int CFileFaults::BeforeSetLength(const std::string& path, uint64_t length)
{
    if (int error = CountWrite()) return error;
    std::string name;
    if (NameIn(path, name)) Add(LengthOp, name, length);
    return 0;
}

void CFileFaults::AfterOpen(const std::string& path, bool created, bool truncated)
{
    std::string name;
    if (!NameIn(path, name)) return;
    if (created) Add(CreateOp, name);
    else if (truncated) Add(LengthOp, name, 0);
}

void CFileFaults::AfterSync(const std::string& path)
{
    std::string name;
    if (NameIn(path, name)) Add(SyncOp, name);
}

void CFileFaults::AfterRemove(const std::string& path)
{
    std::string name;
    if (NameIn(path, name)) Add(RemoveOp, name);
}

void CFileFaults::AfterDirectorySync(const std::string& dir)
{
    if (m_recording && WithoutTrailingSlash(dir) == m_dir) Add(DirectorySyncOp, std::string());
}

// An operation is durable at a crash when a sync of its file (creations and
// removals: of the directory) came after it and before the crash.
std::vector<bool> CFileFaults::Durable(size_t crashPoint) const
{
    crashPoint = std::min(crashPoint, m_ops.size());
    std::vector<bool> durable(crashPoint, false);
    std::set<std::string> synced;
    bool directorySynced = false;
    for (size_t i = crashPoint; i-- > 0;) {
        const Operation& op = m_ops[i];
        switch (op.kind) {
        case SyncOp: synced.insert(op.name); break;
        case DirectorySyncOp: directorySynced = true; break;
        case WriteOp:
        case LengthOp: durable[i] = synced.count(op.name) != 0; break;
        case CreateOp:
        case RemoveOp: durable[i] = directorySynced; break;
        }
    }
    return durable;
}

size_t CFileFaults::PieceCount(const Operation& op)
{
    if (op.kind == SyncOp || op.kind == DirectorySyncOp) return 0;
    if (op.kind != WriteOp || op.data.empty()) return 1;
    uint64_t first = op.offset / kSectorSize;
    uint64_t last = (op.offset + op.data.size() - 1) / kSectorSize;
    return static_cast<size_t>(last - first + 1);
}

size_t CFileFaults::UnsyncedPieces(size_t crashPoint) const
{
    std::vector<bool> durable = Durable(crashPoint);
    size_t pieces = 0;
    for (size_t i = 0; i < durable.size(); ++i)
        if (!durable[i]) pieces += PieceCount(m_ops[i]);
    return pieces;
}

// Applies one piece of an operation (for a write, its piece-th sector).
void CFileFaults::Apply(const Operation& op, size_t piece, Files& files)
{
    auto file = files.find(op.name);
    switch (op.kind) {
    case CreateOp:
        files.emplace(op.name, std::vector<uint8_t>());
        return;
    case RemoveOp:
        if (file != files.end()) files.erase(file);
        return;
    case LengthOp:
        if (file != files.end()) file->second.resize(static_cast<size_t>(op.offset), 0);
        return;
    case WriteOp: {
        if (file == files.end() || op.data.empty()) return;
        uint64_t sector = op.offset / kSectorSize + piece;
        uint64_t from = std::max(op.offset, sector * kSectorSize);
        uint64_t to = std::min(op.offset + op.data.size(), (sector + 1) * kSectorSize);
        std::vector<uint8_t>& bytes = file->second;
        if (bytes.size() < to) bytes.resize(static_cast<size_t>(to), 0);
        memcpy(&bytes[static_cast<size_t>(from)], &op.data[static_cast<size_t>(from - op.offset)],
               static_cast<size_t>(to - from));
        return;
    }
    case SyncOp:
    case DirectorySyncOp: return;
    }
}

void CFileFaults::LayOut(size_t crashPoint, const std::vector<bool>& keep, const std::string& target) const
{
    std::vector<bool> durable = Durable(crashPoint);
    Files files = m_start;
    size_t next = 0;
    for (size_t i = 0; i < durable.size(); ++i) {
        size_t pieces = PieceCount(m_ops[i]);
        for (size_t p = 0; p < pieces; ++p) {
            bool landed = durable[i] || next >= keep.size() || keep[next];
            if (!durable[i]) ++next;
            if (landed) Apply(m_ops[i], p, files);
        }
    }
    for (const auto& [name, bytes] : files) {
        std::ofstream out(WithoutTrailingSlash(target) + "/" + name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}
