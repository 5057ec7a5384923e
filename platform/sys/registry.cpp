#include "platform/sys/registry.h"

#include "platform/sys/registry_test_hooks.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// ---------------------------------------------------------------- store contents

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::string path;  // segments joined by '\\'; "" is the root
    std::vector<Value> values;
};

struct Store {
    std::vector<Key> keys;
};

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

Key* FindKey(Store& s, const std::string& path)
{
    for (Key& k : s.keys)
        if (SameName(k.path, path)) return &k;
    return nullptr;
}

Value* FindValue(Key& k, const std::string& name)
{
    for (Value& v : k.values)
        if (SameName(v.name, name)) return &v;
    return nullptr;
}

// Adds the key and every key above it; returns the key.
Key& AddKey(Store& s, const std::string& path)
{
    std::size_t pos = 0;
    while (true) {
        std::size_t next = path.find('\\', pos);
        std::string prefix = path.substr(0, next);
        if (!FindKey(s, prefix)) s.keys.push_back(Key{prefix, {}});
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    return *FindKey(s, path);
}

// ---------------------------------------------------------------- file format
// "MXREGSTO", u32 version 1, u32 key count, then per key: u32 path length, path,
// u32 value count, per value: u32 name length, name, u32 type, u32 data length,
// data; last a u32 CRC-32 of everything before it. All little-endian.

constexpr char kMagic[8] = {'M', 'X', 'R', 'E', 'G', 'S', 'T', 'O'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kMaxName = 16383;
constexpr std::size_t kMaxFile = 64u << 20;

std::uint32_t Crc32(const unsigned char* p, std::size_t n)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int b = 0; b < 8; ++b) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void PutU32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string Serialize(const Store& s)
{
    std::string out(kMagic, sizeof kMagic);
    PutU32(out, kVersion);
    PutU32(out, static_cast<std::uint32_t>(s.keys.size()));
    for (const Key& k : s.keys) {
        PutU32(out, static_cast<std::uint32_t>(k.path.size()));
        out += k.path;
        PutU32(out, static_cast<std::uint32_t>(k.values.size()));
        for (const Value& v : k.values) {
            PutU32(out, static_cast<std::uint32_t>(v.name.size()));
            out += v.name;
            PutU32(out, v.type);
            PutU32(out, static_cast<std::uint32_t>(v.data.size()));
            out.append(reinterpret_cast<const char*>(v.data.data()), v.data.size());
        }
    }
    PutU32(out, Crc32(reinterpret_cast<const unsigned char*>(out.data()), out.size()));
    return out;
}

class Reader {
public:
    Reader(const unsigned char* p, std::size_t n) : p_(p), n_(n) {}
    bool U32(std::uint32_t& v)
    {
        if (n_ - pos_ < 4) return false;
        v = static_cast<std::uint32_t>(p_[pos_]) | static_cast<std::uint32_t>(p_[pos_ + 1]) << 8 |
            static_cast<std::uint32_t>(p_[pos_ + 2]) << 16 | static_cast<std::uint32_t>(p_[pos_ + 3]) << 24;
        pos_ += 4;
        return true;
    }
    bool Bytes(std::size_t count, const unsigned char*& out)
    {
        if (n_ - pos_ < count) return false;
        out = p_ + pos_;
        pos_ += count;
        return true;
    }
    std::size_t Left() const { return n_ - pos_; }

private:
    const unsigned char* p_;
    std::size_t n_;
    std::size_t pos_ = 0;
};

// Parses a store image; on failure returns false with a short reason.
bool Parse(const std::string& image, Store& s, const char*& reason)
{
    const auto* p = reinterpret_cast<const unsigned char*>(image.data());
    if (image.size() < sizeof kMagic + 12 || std::memcmp(p, kMagic, sizeof kMagic) != 0) {
        reason = image.size() < sizeof kMagic + 12 ? "truncated" : "unknown format";
        return false;
    }
    std::size_t body = image.size() - 4;
    Reader crcReader(p + body, 4);
    std::uint32_t crc = 0;
    crcReader.U32(crc);
    if (crc != Crc32(p, body)) {
        reason = "checksum mismatch";
        return false;
    }
    reason = "malformed contents";
    Reader r(p + sizeof kMagic, body - sizeof kMagic);
    std::uint32_t version = 0, keyCount = 0;
    if (!r.U32(version) || version != kVersion) {
        reason = "unsupported version";
        return false;
    }
    if (!r.U32(keyCount) || keyCount > r.Left() / 8) return false;
    Store out;
    for (std::uint32_t i = 0; i < keyCount; ++i) {
        std::uint32_t len = 0, valueCount = 0;
        const unsigned char* bytes = nullptr;
        if (!r.U32(len) || len > kMaxName * 4 || !r.Bytes(len, bytes)) return false;
        Key k{std::string(reinterpret_cast<const char*>(bytes), len), {}};
        if (FindKey(out, k.path)) return false;
        if (!r.U32(valueCount) || valueCount > r.Left() / 12) return false;
        for (std::uint32_t j = 0; j < valueCount; ++j) {
            Value v;
            std::uint32_t dataLen = 0;
            if (!r.U32(len) || len > kMaxName || !r.Bytes(len, bytes)) return false;
            v.name.assign(reinterpret_cast<const char*>(bytes), len);
            if (!r.U32(v.type) || !r.U32(dataLen) || dataLen > REG_MAX_VALUE_BYTES || !r.Bytes(dataLen, bytes))
                return false;
            v.data.assign(bytes, bytes + dataLen);
            if (FindValue(k, v.name)) return false;
            k.values.push_back(std::move(v));
        }
        out.keys.push_back(std::move(k));
    }
    if (r.Left() != 0) return false;
    s = std::move(out);
    return true;
}

// ---------------------------------------------------------------- files

std::string ConfigDir()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            passwd* pw = ::getpwuid(::getuid());
            home = pw ? pw->pw_dir : nullptr;
        }
        if (!home || !*home) return std::string();
        base = std::string(home) + "/.config";
    }
    return base + "/meridax";
}

std::string StorePath(const std::string& dir) { return dir + "/registry"; }

bool MakeDirs(const std::string& dir)
{
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos < dir.size() && dir[pos] != '/') continue;
        std::string part = dir.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st{};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

enum class Load { Ok, Missing, Corrupt, Failed };

Load ReadStore(const std::string& path, Store& s, const char*& reason)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? Load::Missing : Load::Failed;
    std::string image;
    char buf[65536];
    bool ok = true;
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        image.append(buf, static_cast<std::size_t>(n));
        if (image.size() > kMaxFile) {
            ::close(fd);
            reason = "too large";
            return Load::Corrupt;
        }
    }
    ::close(fd);
    if (!ok) return Load::Failed;
    return Parse(image, s, reason) ? Load::Ok : Load::Corrupt;
}

std::atomic<bool> g_corruptReported{false};
std::atomic<RegistryWriteHook> g_beforeRename{nullptr};

// Called with the store's lock held: moves a damaged store aside.
void MoveAside(const std::string& path, const char* reason)
{
    static std::atomic<unsigned> serial{0};
    std::string aside = path + ".corrupt-" + std::to_string(static_cast<long long>(std::time(nullptr))) + "-" +
                        std::to_string(static_cast<long>(::getpid())) + "-" + std::to_string(serial++);
    bool moved = ::rename(path.c_str(), aside.c_str()) == 0;
    if (!g_corruptReported.exchange(true)) {
        if (moved)
            std::fprintf(stderr, "registry: %s is damaged (%s); moved it to %s, using default values\n",
                         path.c_str(), reason, aside.c_str());
        else
            std::fprintf(stderr, "registry: %s is damaged (%s) and could not be moved aside; using default values\n",
                         path.c_str(), reason);
    }
}

class StoreLock {
public:
    explicit StoreLock(const std::string& dir)
    {
        fd_ = ::open((dir + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) return;
        int r;
        do {
            r = ::flock(fd_, LOCK_EX);
        } while (r != 0 && errno == EINTR);
        if (r != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~StoreLock()
    {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Reads the current store; a damaged one is moved aside and reads as empty.
bool LoadForReading(Store& s)
{
    std::string dir = ConfigDir();
    if (dir.empty()) return false;
    std::string path = StorePath(dir);
    const char* reason = "";
    Load l = ReadStore(path, s, reason);
    if (l == Load::Ok) return true;
    if (l != Load::Corrupt) return false;
    StoreLock lock(dir);
    if (!lock.Held()) return false;
    // Another process may have replaced it meanwhile.
    l = ReadStore(path, s, reason);
    if (l == Load::Ok) return true;
    if (l == Load::Corrupt) MoveAside(path, reason);
    s = Store{};
    return false;
}

bool WriteAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Applies change to the store under the lock and replaces the file when change
// returns true.
LSTATUS Modify(const std::function<bool(Store&)>& change)
{
    std::string dir = ConfigDir();
    if (dir.empty() || !MakeDirs(dir)) return ERROR_ACCESS_DENIED;
    StoreLock lock(dir);
    if (!lock.Held()) return ERROR_ACCESS_DENIED;
    std::string path = StorePath(dir);
    Store s;
    const char* reason = "";
    switch (ReadStore(path, s, reason)) {
    case Load::Ok:
    case Load::Missing: break;
    case Load::Corrupt:
        MoveAside(path, reason);
        s = Store{};
        break;
    case Load::Failed: return ERROR_ACCESS_DENIED;  // never overwrite what cannot be read
    }
    if (!change(s)) return ERROR_SUCCESS;

    std::string image = Serialize(s);
    std::string temp = path + ".tmp";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return ERROR_CANTWRITE;
    bool ok = WriteAll(fd, image) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    if (RegistryWriteHook hook = g_beforeRename.load()) hook(temp.c_str());
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return ERROR_CANTWRITE;
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- handles

struct OpenKey {
    std::string path;
    REGSAM access = 0;
};

std::mutex g_handleMutex;
std::map<std::uintptr_t, OpenKey> g_handles;
std::uintptr_t g_nextHandle = 0x1000;

HKEY NewHandle(const std::string& path, REGSAM access)
{
    std::lock_guard<std::mutex> lock(g_handleMutex);
    std::uintptr_t id = g_nextHandle;
    g_nextHandle += 4;
    g_handles[id] = OpenKey{path, access};
    return reinterpret_cast<HKEY>(id);
}

bool LookUp(HKEY key, OpenKey& out)
{
    if (key == HKEY_CURRENT_USER) {
        out = OpenKey{std::string(), KEY_ALL_ACCESS};
        return true;
    }
    std::lock_guard<std::mutex> lock(g_handleMutex);
    auto it = g_handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == g_handles.end()) return false;
    out = it->second;
    return true;
}

// Joins a sub-key path below base; empty segments are skipped.
bool JoinPath(const std::string& base, const char* subKey, std::string& out)
{
    out = base;
    if (!subKey) return true;
    std::string s(subKey);
    std::size_t pos = 0;
    while (pos <= s.size()) {
        std::size_t next = s.find('\\', pos);
        if (next == std::string::npos) next = s.size();
        std::string seg = s.substr(pos, next - pos);
        pos = next + 1;
        if (seg.empty()) continue;
        if (seg.size() > 255) return false;
        if (!out.empty()) out += '\\';
        out += seg;
    }
    return true;
}

bool KeyExists(const std::string& path)
{
    if (path.empty()) return true;
    Store s;
    LoadForReading(s);
    return FindKey(s, path) != nullptr;
}

}  // namespace

LSTATUS RegCreateKeyExA(HKEY key, const char* subKey, DWORD /*reserved*/, char* /*keyClass*/, DWORD /*options*/,
                        REGSAM desired, void* /*securityAttributes*/, HKEY* result, DWORD* disposition)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey parent;
    if (!LookUp(key, parent)) return ERROR_INVALID_HANDLE;
    std::string path;
    if (!JoinPath(parent.path, subKey, path)) return ERROR_INVALID_PARAMETER;

    bool created = false;
    if (!KeyExists(path)) {
        LSTATUS st = Modify([&](Store& s) {
            if (FindKey(s, path)) return false;
            AddKey(s, path);
            created = true;
            return true;
        });
        if (st != ERROR_SUCCESS) return st;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(path, desired);
    return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD /*options*/, REGSAM desired, HKEY* result)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    OpenKey parent;
    if (!LookUp(key, parent)) return ERROR_INVALID_HANDLE;
    std::string path;
    if (!JoinPath(parent.path, subKey, path)) return ERROR_INVALID_PARAMETER;
    if (!KeyExists(path)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(path, desired);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size)
{
    if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
    OpenKey k;
    if (!LookUp(key, k)) return ERROR_INVALID_HANDLE;
    if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    Store s;
    LoadForReading(s);
    Key* found = FindKey(s, k.path);
    Value* v = found ? FindValue(*found, valueName ? valueName : "") : nullptr;
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    DWORD needed = static_cast<DWORD>(v->data.size());
    if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed) std::memcpy(data, v->data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD /*reserved*/, DWORD type, const BYTE* data, DWORD size)
{
    if ((!data && size) || size > REG_MAX_VALUE_BYTES) return ERROR_INVALID_PARAMETER;
    std::string name = valueName ? valueName : "";
    if (name.size() > kMaxName) return ERROR_INVALID_PARAMETER;
    OpenKey k;
    if (!LookUp(key, k)) return ERROR_INVALID_HANDLE;
    if (!(k.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return Modify([&](Store& s) {
        // The key comes back if the store was moved aside since it was opened.
        Key& target = AddKey(s, k.path);
        Value* v = FindValue(target, name);
        if (!v) {
            target.values.push_back(Value{name, REG_NONE, {}});
            v = &target.values.back();
        }
        v->name = name;
        v->type = type;
        v->data.assign(data, data + size);
        return true;
    });
}

LSTATUS RegCloseKey(HKEY key)
{
    if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(g_handleMutex);
    return g_handles.erase(reinterpret_cast<std::uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

void SetRegistryBeforeRenameHook(RegistryWriteHook hook) { g_beforeRename.store(hook); }

void ResetRegistryCorruptionReport() { g_corruptReported.store(false); }
