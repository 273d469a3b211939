#include "sim/crash.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <iterator>
#include <random>

namespace sim {

namespace {

constexpr uint32_t kSignature = 0x504D444D;  // "MDMP"
constexpr uint32_t kVersion = 0xA793;
constexpr uint32_t kExceptionStream = 6;
constexpr uint32_t kHeaderSize = 32;
constexpr uint32_t kDirectorySize = 12;
constexpr uint32_t kMaxParameters = 15;
// Thread id, alignment, the exception (code, flags, record, address, count,
// alignment, 15 parameters) and the thread context's location.
constexpr uint32_t kExceptionStreamSize = 4 + 4 + (4 + 4 + 8 + 8 + 4 + 4 + 8 * kMaxParameters) + 8;
constexpr uint32_t kStreamRva = kHeaderSize + kDirectorySize;

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

uint64_t Get(const std::vector<uint8_t>& in, size_t offset, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= static_cast<uint64_t>(in[offset + i]) << (8 * i);
    }
    return value;
}

// The signal handler's stack: the exception's record and registers are built
// there before the filter runs.
constexpr size_t kSignalStackSize = 64 * 1024;

// The calling thread's signal stack, unmapped when the thread ends.
struct SignalStack {
    char* mapping = nullptr;
    size_t size = 0;
    ~SignalStack()
    {
        if (mapping != nullptr) {
            stack_t off = {};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
            munmap(mapping, size);
        }
    }
};
thread_local SignalStack t_signalStack;

}  // namespace

void UseSignalStack()
{
    stack_t current = {};
    if (t_signalStack.mapping != nullptr ||
        (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0)) {
        return;
    }
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t size = page + kSignalStackSize;
    void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        return;
    }
    char* base = static_cast<char*>(mapping);
    stack_t stack = {};
    stack.ss_sp = base + page;
    stack.ss_size = kSignalStackSize;
    if (mprotect(base, page, PROT_NONE) != 0 || sigaltstack(&stack, nullptr) != 0) {
        munmap(mapping, size);
        return;
    }
    t_signalStack.mapping = base;
    t_signalStack.size = size;
}

bool OnGuardedSignalStack(const void* stackBase)
{
    return t_signalStack.mapping != nullptr &&
           stackBase == t_signalStack.mapping + static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

bool Crash::NewGuid(uint8_t (&bytes)[16], int32_t& hr)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_guidFailure != 0) {
        hr = m_guidFailure;
        return false;
    }
    if (m_repeat) {
        std::copy(std::begin(m_repeated), std::end(m_repeated), bytes);
        return true;
    }
    std::random_device random;
    for (int i = 0; i < 16; i += 4) {
        const uint32_t word = random();
        for (int j = 0; j < 4; ++j) {
            bytes[i + j] = static_cast<uint8_t>(word >> (8 * j));
        }
    }
    bytes[7] = static_cast<uint8_t>((bytes[7] & 0x0F) | 0x40);  // version 4 (high nibble of Data3)
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return true;
}

void Crash::FailGuids(int32_t hr)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_guidFailure = hr;
}

void Crash::RepeatGuid(const uint8_t (&bytes)[16])
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::copy(std::begin(bytes), std::end(bytes), m_repeated);
    m_repeat = true;
}

void Crash::FaultInNextCall(const std::string& function)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faultingCall = function;
}

bool Crash::TakeFault(const char* function)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_faultingCall.empty() || m_faultingCall != function) {
        return false;
    }
    m_faultingCall.clear();
    return true;
}

void Crash::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_guidFailure = 0;
    m_repeat = false;
    m_faultingCall.clear();
}

bool Crash::WriteMiniDump(int fd, const DumpedException& exception)
{
    std::vector<uint8_t> dump;
    Put(dump, kSignature, 4);
    Put(dump, kVersion, 4);
    Put(dump, 1, 4);                   // one stream
    Put(dump, kHeaderSize, 4);         // its directory follows the header
    Put(dump, 0, 4);                   // no checksum
    Put(dump, static_cast<uint64_t>(std::time(nullptr)), 4);
    Put(dump, 0, 8);                   // MiniDumpNormal
    Put(dump, kExceptionStream, 4);
    Put(dump, kExceptionStreamSize, 4);
    Put(dump, kStreamRva, 4);
    Put(dump, exception.threadId, 4);
    Put(dump, 0, 4);
    Put(dump, exception.code, 4);
    Put(dump, exception.flags, 4);
    Put(dump, 0, 8);                   // no nested record
    Put(dump, exception.address, 8);
    const size_t count = std::min<size_t>(exception.parameters.size(), kMaxParameters);
    Put(dump, count, 4);
    Put(dump, 0, 4);
    for (size_t i = 0; i < kMaxParameters; ++i) {
        Put(dump, i < count ? exception.parameters[i] : 0, 8);
    }
    Put(dump, 0, 8);                   // no thread context
    size_t written = 0;
    while (written < dump.size()) {
        const ssize_t n = ::write(fd, dump.data() + written, dump.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

bool Crash::ReadMiniDump(const std::string& hostPath, DumpedException& exception)
{
    std::ifstream file(hostPath, std::ios::binary);
    const std::vector<uint8_t> dump((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (dump.size() < kStreamRva + kExceptionStreamSize || Get(dump, 0, 4) != kSignature ||
        Get(dump, kHeaderSize, 4) != kExceptionStream) {
        return false;
    }
    const size_t stream = Get(dump, kHeaderSize + 8, 4);
    if (stream + kExceptionStreamSize > dump.size()) {
        return false;
    }
    exception.threadId = static_cast<uint32_t>(Get(dump, stream, 4));
    exception.code = static_cast<uint32_t>(Get(dump, stream + 8, 4));
    exception.flags = static_cast<uint32_t>(Get(dump, stream + 12, 4));
    exception.address = Get(dump, stream + 24, 8);
    const size_t count = std::min<size_t>(Get(dump, stream + 32, 4), kMaxParameters);
    exception.parameters.clear();
    for (size_t i = 0; i < count; ++i) {
        exception.parameters.push_back(Get(dump, stream + 40 + 8 * i, 8));
    }
    return true;
}

void EndProcessAtOnce(int status)
{
    // exit_group itself, not _exit: sanitizers intercept the latter.
    syscall(SYS_exit_group, status);
    __builtin_unreachable();
}

}  // namespace sim
