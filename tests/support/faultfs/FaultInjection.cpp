// The armed rule, the verdicts the interposed calls ask for, and the
// descriptor table. The state is process-wide by nature: libc's functions
// have nowhere else to find it.

#include "tests/support/faultfs/FaultInjection.h"

#include "tests/support/faultfs/FaultDecisions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace vz::faults {

namespace detail {

std::atomic<bool> armedFlag{false};

namespace {

// Per descriptor: (arming generation << 2) | state. An entry of another
// generation is unknown, so arming anew forgets every verdict at once.
constexpr int TableSize = 1 << 16;
constexpr unsigned Unknown = 0;
constexpr unsigned Matching = 1;
constexpr unsigned Other = 2;
constexpr unsigned GenerationMask = 0x3fffffff;
std::atomic<unsigned> descriptorStates[TableSize];
std::atomic<unsigned> generation{0};
// The armed fault, readable without the lock so calls of another kind skip
// every path lookup.
std::atomic<int> armedFault{-1};

struct State {
    std::mutex mutex;
    Rule rule;
    std::vector<std::string> prefixes;  // as given and resolved
    long long matching = 0;
    long long failures = 0;
    long long bytesUsed = 0;
    bool spent = false;  // a `once` rule that has failed its call
};

// Never destroyed: a file closed by another library's static destructor
// must still find it.
State& state()
{
    static State* s = new State;
    return *s;
}

struct ErrnoKeeper {
    int saved = errno;
    ~ErrnoKeeper() { errno = saved; }
};

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// "." and ".." and repeated slashes taken out of an absolute path, as text.
std::string normalized(const std::string& path)
{
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos)
            slash = path.size();
        const std::string part = path.substr(at, slash - at);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = slash + 1;
    }
    std::string out;
    for (const std::string& part : parts)
        out += '/' + part;
    return out.empty() ? std::string("/") : out;
}

std::string descriptorPath(int fd)
{
    char link[40];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(link, buffer, sizeof buffer);
    if (n <= 0 || n >= ssize_t(sizeof buffer) || buffer[0] != '/')
        return {};  // a socket, a pipe, an anonymous inode
    return std::string(buffer, size_t(n));
}

// The path as the program named it, made absolute; empty when the base
// folder cannot be told.
std::string namedPath(int dirfd, const char* path)
{
    if (path == nullptr || path[0] == '\0')
        return {};
    if (path[0] == '/')
        return normalized(path);
    std::string base;
    if (dirfd == AT_FDCWD) {
        char buffer[PATH_MAX];
        if (::getcwd(buffer, sizeof buffer) != nullptr)
            base = buffer;
    } else {
        base = descriptorPath(dirfd);
    }
    if (base.empty() || base[0] != '/')
        return {};
    return normalized(base + '/' + path);
}

// The path with its folder resolved through symbolic links; the last
// component is kept as named (it may not exist yet).
std::string resolvedPath(const std::string& named)
{
    if (named.size() <= 1)
        return named;
    const size_t slash = named.rfind('/');
    const std::string folder = slash == 0 ? std::string("/") : named.substr(0, slash);
    char buffer[PATH_MAX];
    if (::realpath(folder.c_str(), buffer) == nullptr)
        return {};
    const std::string base(buffer);
    return (base == "/" ? std::string() : base) + named.substr(slash);
}

std::string withSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

bool matchesLocked(const State& s, const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return false;
    for (const std::string& prefix : s.prefixes) {
        if (startsWith(path, prefix) &&
            (s.rule.pathContains.empty() || path.find(s.rule.pathContains) != std::string::npos))
            return true;
    }
    return false;
}

bool matches(const std::string& a, const std::string& b = {})
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return matchesLocked(s, a) || matchesLocked(s, b);
}

bool faultArmed(Fault fault) { return armedFault.load(std::memory_order_acquire) == int(fault); }

void remember(int fd, unsigned gen, bool match)
{
    if (fd >= 0 && fd < TableSize)
        descriptorStates[fd].store(((gen & GenerationMask) << 2) | (match ? Matching : Other),
                                   std::memory_order_relaxed);
}

bool descriptorMatches(int fd)
{
    if (fd < 0)
        return false;
    const unsigned gen = generation.load(std::memory_order_acquire);
    if (fd < TableSize) {
        const unsigned entry = descriptorStates[fd].load(std::memory_order_relaxed);
        if ((entry >> 2) == (gen & GenerationMask) && (entry & 3) != Unknown)
            return (entry & 3) == Matching;
    }
    const bool match = matches(descriptorPath(fd));
    remember(fd, gen, match);
    return match;
}

struct Verdict {
    bool fail = false;
    long long allowed = 0;
};

// One matching call of the armed kind: fail it or let it through (with how
// many bytes, for a write under a budget; requested < 0 for calls that
// write no bytes). Called with the lock held.
Verdict decideLocked(State& s, long long requested)
{
    ++s.matching;
    const Verdict pass{false, requested};
    if (s.spent)
        return pass;
    const bool due = s.matching > s.rule.afterCalls;
    if (s.rule.fault == Fault::NoSpace && s.rule.afterBytes >= 0) {
        const long long left = std::max(0LL, s.rule.afterBytes - s.bytesUsed);
        if (requested >= 0) {
            if (!due || requested <= left) {
                s.bytesUsed += requested;
                return pass;
            }
            if (left > 0) {
                s.bytesUsed += left;
                return {false, left};  // the part that fits, as a full disk takes it
            }
        } else if (!due || left > 0) {
            return pass;
        }
    } else if (!due) {
        return pass;
    }
    ++s.failures;
    if (s.rule.once)
        s.spent = true;
    return {true, 0};
}

// A matching call of a kind that writes no bytes: true when it is to fail.
bool decide(Fault fault)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!armed() || s.rule.fault != fault)
        return false;
    return decideLocked(s, -1).fail;
}

}  // namespace

WriteGate beginWrite(int fd, long long requestedBytes)
{
    WriteGate gate;
    gate.allowed = requestedBytes;
    if (!faultArmed(Fault::NoSpace))
        return gate;
    const ErrnoKeeper keep;
    if (!descriptorMatches(fd))
        return gate;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!armed() || s.rule.fault != Fault::NoSpace)
        return gate;
    const Verdict verdict = decideLocked(s, requestedBytes);
    gate.fail = verdict.fail;
    gate.allowed = verdict.fail ? 0 : verdict.allowed;
    gate.generation = generation.load(std::memory_order_relaxed);
    gate.counted = !verdict.fail && s.rule.afterBytes >= 0;
    return gate;
}

void endWrite(const WriteGate& gate, long long doneBytes)
{
    if (!gate.counted || doneBytes >= gate.allowed)
        return;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (generation.load(std::memory_order_relaxed) == gate.generation)
        s.bytesUsed -= gate.allowed - std::max(0LL, doneBytes);
}

bool failGrowth(int fd, long long newSizeBytes)
{
    if (!faultArmed(Fault::NoSpace))
        return false;
    const ErrnoKeeper keep;
    if (!descriptorMatches(fd))
        return false;
    if (newSizeBytes >= 0) {
        struct stat st;
        if (::fstat(fd, &st) != 0 || newSizeBytes <= st.st_size)
            return false;  // shrinking never needs space
    }
    return decide(Fault::NoSpace);
}

bool failRead(int fd)
{
    if (!faultArmed(Fault::ReadError))
        return false;
    const ErrnoKeeper keep;
    return descriptorMatches(fd) && decide(Fault::ReadError);
}

bool failCreate(int dirfd, const char* path, bool tmpFile)
{
    if (!faultArmed(Fault::CreateDenied))
        return false;
    const ErrnoKeeper keep;
    if (!tmpFile) {
        struct stat st;
        if (::fstatat(dirfd, path, &st, 0) == 0 || errno != ENOENT)
            return false;  // there already (or the open fails on its own)
    }
    std::string named = namedPath(dirfd, path);
    std::string resolved;
    if (!tmpFile) {
        resolved = resolvedPath(named);
    } else if (!named.empty()) {
        // O_TMPFILE names the folder: the file is one inside it.
        char buffer[PATH_MAX];
        if (::realpath(named.c_str(), buffer) != nullptr)
            resolved = withSlash(buffer);
        named = withSlash(named);
    }
    return matches(named, resolved) && decide(Fault::CreateDenied);
}

bool failRenameTo(int dirfd, const char* path)
{
    if (!faultArmed(Fault::RenameFails))
        return false;
    const ErrnoKeeper keep;
    const std::string named = namedPath(dirfd, path);
    return matches(named, resolvedPath(named)) && decide(Fault::RenameFails);
}

void opened(int fd, int dirfd, const char* path)
{
    if (fd < 0)
        return;
    if (!faultArmed(Fault::NoSpace) && !faultArmed(Fault::ReadError)) {
        forget(fd);
        return;
    }
    const ErrnoKeeper keep;
    const unsigned gen = generation.load(std::memory_order_acquire);
    remember(fd, gen, matches(namedPath(dirfd, path), descriptorPath(fd)));
}

void forget(int fd)
{
    if (fd >= 0 && fd < TableSize)
        descriptorStates[fd].store(Unknown, std::memory_order_relaxed);
}

void forgetRange(unsigned first, unsigned last)
{
    for (unsigned fd = first; fd <= last && fd < unsigned(TableSize); ++fd)
        descriptorStates[fd].store(Unknown, std::memory_order_relaxed);
}

namespace {

// The prefix made absolute, and again with its folders resolved through
// symbolic links; a final "/" is kept in both.
std::vector<std::string> prefixForms(const std::string& prefix)
{
    if (prefix.empty())
        return {std::string()};
    const bool folderOnly = prefix.back() == '/';
    std::string named = namedPath(AT_FDCWD, prefix.c_str());
    std::string resolved;
    char buffer[PATH_MAX];
    if (::realpath(named.c_str(), buffer) != nullptr)
        resolved = buffer;
    else
        resolved = resolvedPath(named);
    std::vector<std::string> forms;
    for (std::string form : {named, resolved}) {
        if (form.empty())
            continue;
        if (folderOnly && form.back() != '/')
            form += '/';
        if (std::find(forms.begin(), forms.end(), form) == forms.end())
            forms.push_back(form);
    }
    return forms;
}

}  // namespace

}  // namespace detail

using namespace detail;

void arm(const Rule& rule)
{
    const ErrnoKeeper keep;
    std::vector<std::string> forms = prefixForms(rule.pathPrefix);
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.rule = rule;
    s.prefixes = std::move(forms);
    s.matching = s.failures = s.bytesUsed = 0;
    s.spent = false;
    generation.fetch_add(1, std::memory_order_acq_rel);
    armedFault.store(int(rule.fault), std::memory_order_release);
    armedFlag.store(true, std::memory_order_release);
}

void disarm()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    armedFlag.store(false, std::memory_order_release);
    armedFault.store(-1, std::memory_order_release);
    generation.fetch_add(1, std::memory_order_acq_rel);
}

bool isArmed() { return armed(); }

long long failuresInjected()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.failures;
}

long long matchingCalls()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.matching;
}

namespace {

bool parseCount(const std::string& text, long long* value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < 0)
        return false;
    *value = v;
    return true;
}

}  // namespace

bool armFromText(const std::string& text, std::string* error)
{
    const auto fail = [error](const std::string& why) {
        if (error != nullptr)
            *error = why;
        return false;
    };
    static const char* const fieldStarts[] = {":prefix=", ":contains=", ":calls=", ":bytes=", ":once"};
    // Where the next field starts: a ':' followed by a field name (":once"
    // only when it ends there), so paths may hold ':'.
    const auto nextField = [&text](size_t from) {
        for (size_t at = text.find(':', from); at != std::string::npos; at = text.find(':', at + 1)) {
            for (const char* start : fieldStarts) {
                if (text.compare(at, std::strlen(start), start) != 0)
                    continue;
                const size_t after = at + std::strlen(start);
                if (std::strcmp(start, ":once") != 0 || after == text.size() || text[after] == ':')
                    return at;
            }
        }
        return text.size();
    };

    Rule rule;
    size_t at = std::min(text.find(':'), text.size());
    const std::string kind = text.substr(0, at);
    if (kind == "nospace")
        rule.fault = Fault::NoSpace;
    else if (kind == "readerror")
        rule.fault = Fault::ReadError;
    else if (kind == "createdenied")
        rule.fault = Fault::CreateDenied;
    else if (kind == "renamefails")
        rule.fault = Fault::RenameFails;
    else
        return fail("unknown fault \"" + kind + "\" (nospace, readerror, createdenied, renamefails)");
    while (at < text.size()) {
        const size_t next = nextField(at + 1);
        const std::string field = text.substr(at + 1, next - at - 1);
        const size_t eq = field.find('=');
        const std::string name = field.substr(0, eq);
        const std::string value = eq == std::string::npos ? std::string() : field.substr(eq + 1);
        if (name == "prefix")
            rule.pathPrefix = value;
        else if (name == "contains")
            rule.pathContains = value;
        else if (name == "once" && eq == std::string::npos)
            rule.once = true;
        else if (name == "calls" && parseCount(value, &rule.afterCalls))
            ;
        else if (name == "bytes" && parseCount(value, &rule.afterBytes))
            ;
        else
            return fail("invalid field \"" + field + "\"");
        at = next;
    }
    if (rule.afterBytes >= 0 && rule.fault != Fault::NoSpace)
        return fail("bytes= applies to nospace only");
    arm(rule);
    return true;
}

namespace {

// A child program started with LD_PRELOAD gets its rule from the environment.
__attribute__((constructor)) void armFromEnvironment()
{
    const char* text = std::getenv("VZ_FAULTS");
    if (text == nullptr || *text == '\0')
        return;
    std::string error;
    if (!armFromText(text, &error)) {
        std::fprintf(stderr, "vz_faultfs: VZ_FAULTS=\"%s\": %s\n", text, error.c_str());
        std::abort();
    }
}

}  // namespace

}  // namespace vz::faults
