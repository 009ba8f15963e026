// Expert Witness images read through libewf: segment globbing, read-only opening, and reads
// bounded by the media size.
#include "platform/EwfImage.h"

#include <dlfcn.h>
#include <libewf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "platform/SourceOpen.h"
#include "platform/Status.h"

namespace
{
constexpr u64 kMaxOffset = static_cast<u64>(std::numeric_limits<s64>::max());

// The libewf functions in use, loaded with the library when the first image is opened: linked
// in, libewf and the libraries it needs cost every start of the program about a millisecond,
// and most searches read no Expert Witness image.
struct EwfApi
{
    decltype(&libewf_error_sprint) errorSprint = nullptr;
    decltype(&libewf_error_free) errorFree = nullptr;
    decltype(&libewf_glob) glob = nullptr;
    decltype(&libewf_glob_free) globFree = nullptr;
    decltype(&libewf_handle_initialize) initialize = nullptr;
    decltype(&libewf_handle_open) open = nullptr;
    decltype(&libewf_handle_close) close = nullptr;
    decltype(&libewf_handle_free) free = nullptr;
    decltype(&libewf_handle_get_media_size) mediaSize = nullptr;
    decltype(&libewf_handle_get_bytes_per_sector) bytesPerSector = nullptr;
    decltype(&libewf_handle_segment_files_corrupted) segmentFilesCorrupted = nullptr;
    decltype(&libewf_handle_read_random) readRandom = nullptr;
    decltype(&libewf_handle_get_number_of_checksum_errors) checksumErrors = nullptr;
    decltype(&libewf_handle_get_checksum_error) checksumError = nullptr;
    std::string failure; // why the library could not be loaded, "" when it was
};

template <typename Fn> bool Resolve(void* library, const char* name, Fn* fn)
{
    *fn = reinterpret_cast<Fn>(dlsym(library, name));
    return *fn != nullptr;
}

EwfApi LoadEwfApi()
{
    EwfApi api;
    void* library = dlopen("libewf.so.2", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        library = dlopen("libewf.so", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
    {
        const char* why = dlerror();
        api.failure = std::string("libewf could not be loaded") + (why != nullptr ? ": " : "") +
                      (why != nullptr ? why : "");
        return api;
    }
    // The library stays loaded for the life of the process.
    const bool all =
        Resolve(library, "libewf_error_sprint", &api.errorSprint) &&
        Resolve(library, "libewf_error_free", &api.errorFree) &&
        Resolve(library, "libewf_glob", &api.glob) &&
        Resolve(library, "libewf_glob_free", &api.globFree) &&
        Resolve(library, "libewf_handle_initialize", &api.initialize) &&
        Resolve(library, "libewf_handle_open", &api.open) &&
        Resolve(library, "libewf_handle_close", &api.close) &&
        Resolve(library, "libewf_handle_free", &api.free) &&
        Resolve(library, "libewf_handle_get_media_size", &api.mediaSize) &&
        Resolve(library, "libewf_handle_get_bytes_per_sector", &api.bytesPerSector) &&
        Resolve(library, "libewf_handle_segment_files_corrupted", &api.segmentFilesCorrupted) &&
        Resolve(library, "libewf_handle_read_random", &api.readRandom) &&
        Resolve(library, "libewf_handle_get_number_of_checksum_errors", &api.checksumErrors) &&
        Resolve(library, "libewf_handle_get_checksum_error", &api.checksumError);
    if (!all)
        api.failure = "libewf lacks a function this program needs";
    return api;
}

// The loaded functions; its failure says why there are none.
const EwfApi& Ewf()
{
    static const EwfApi kApi = LoadEwfApi();
    return kApi;
}

// Moves libewf's account of a failure into text and frees it.
std::string TakeError(libewf_error_t* error)
{
    if (error == nullptr)
        return {};
    char text[512] = {};
    std::string out;
    if (Ewf().errorSprint(error, text, sizeof text) > 0)
        out = text;
    Ewf().errorFree(&error);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// The segment files of the image path belongs to, or path alone when its name follows no
// segment naming that libewf knows (an image renamed to disk.img).
std::vector<std::string> SegmentFiles(const std::string& path)
{
    char** names = nullptr;
    int count = 0;
    libewf_error_t* error = nullptr;
    std::vector<std::string> files;
    if (Ewf().glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) == 1 &&
        names != nullptr)
    {
        for (int i = 0; i < count; ++i)
            if (names[i] != nullptr)
                files.emplace_back(names[i]);
        libewf_error_t* freeError = nullptr;
        (void)Ewf().globFree(names, count, &freeError);
        (void)TakeError(freeError);
    }
    (void)TakeError(error);
    if (files.empty())
        files.push_back(path);
    return files;
}
} // namespace

bool HasEwfSignature(const u8* data, std::size_t size)
{
    return data != nullptr && size >= sizeof kEwfSignature &&
           std::memcmp(data, kEwfSignature, sizeof kEwfSignature) == 0;
}

bool IsEwfFile(int fd)
{
    u8 head[sizeof kEwfSignature] = {};
    std::size_t got = 0;
    while (got < sizeof head)
    {
        ssize_t n = ::pread(fd, head + got, sizeof head - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return HasEwfSignature(head, got);
}

bool IsEwfPath(const std::string& path)
{
    int error = 0;
    int fd = OpenSource(path, &error);
    if (fd < 0)
        return false;
    const bool ewf = IsEwfFile(fd);
    ::close(fd);
    return ewf;
}

EwfImage::~EwfImage()
{
    Close();
}

void EwfImage::Close()
{
    if (m_handle == nullptr)
        return;
    libewf_error_t* error = nullptr;
    (void)Ewf().close(m_handle, &error);
    (void)TakeError(error);
    error = nullptr;
    (void)Ewf().free(&m_handle, &error);
    (void)TakeError(error);
    m_handle = nullptr;
    m_mediaSize = 0;
    m_bytesPerSector = 512;
    m_damaged.clear();
    m_errorsNoted = 0;
}

u32 EwfImage::Open(const std::string& path)
{
    Close();
    m_lastError.clear();
    // Only an image file that carries the signature is handed to libewf: a pipe, a folder or
    // a raw image never reaches it.
    if (!IsEwfPath(path))
    {
        m_lastError = "not an Expert Witness image";
        return kErrOpenFailed;
    }
    // The further segments lie beside the file itself, not beside a link to it.
    std::error_code ec;
    std::string real = std::filesystem::canonical(path, ec).string();
    if (ec)
        real = path;
    if (!Ewf().failure.empty())
    {
        m_lastError = Ewf().failure;
        return kErrOpenFailed;
    }
    std::vector<std::string> files = SegmentFiles(real);
    // Every segment is checked as a source is: libewf opens them with a blocking open(), in
    // which a named pipe among them would hold the program until a writer came.
    for (const std::string& file : files)
    {
        int error = 0;
        const int fd = OpenSource(file, &error);
        if (fd < 0)
        {
            m_lastError = "segment file " + file + ": " + SourceErrorText(error);
            return kErrOpenFailed;
        }
        ::close(fd);
    }
    std::vector<char*> names;
    names.reserve(files.size());
    for (std::string& f : files)
        names.push_back(f.data());

    libewf_error_t* ewfError = nullptr;
    if (Ewf().initialize(&m_handle, &ewfError) != 1 || m_handle == nullptr)
    {
        m_lastError = TakeError(ewfError);
        m_handle = nullptr;
        return kErrNoMemory;
    }
    size64_t size = 0;
    u32 bytesPerSector = 0;
    if (Ewf().open(m_handle, names.data(), static_cast<int>(names.size()), LIBEWF_OPEN_READ,
                   &ewfError) != 1 ||
        Ewf().mediaSize(m_handle, &size, &ewfError) != 1)
    {
        m_lastError = TakeError(ewfError);
        Close();
        return kErrOpenFailed;
    }
    // libewf opens a set whose last segments are missing and then serves zeros for their
    // chunks as if they were data; such a set is refused instead.
    if (Ewf().segmentFilesCorrupted(m_handle, &ewfError) != 0)
    {
        std::string detail = TakeError(ewfError);
        m_lastError = "segment files missing or incomplete" + (detail.empty() ? "" : ": " + detail);
        Close();
        return kErrOpenFailed;
    }
    if (Ewf().bytesPerSector(m_handle, &bytesPerSector, &ewfError) != 1)
        (void)TakeError(ewfError);
    m_mediaSize = size;
    m_bytesPerSector = bytesPerSector != 0 ? bytesPerSector : 512;
    return kOk;
}

u32 EwfImage::Read(void* buffer, u32 count, u32* done, u64 offset)
{
    *done = 0;
    if (m_handle == nullptr)
        return kErrNotOpen;
    if (offset > kMaxOffset)
        return kErrSeek;
    if (offset >= m_mediaSize || count == 0)
        return kOk;
    const u64 wanted = std::min<u64>(count, m_mediaSize - offset);
    u8* out = static_cast<u8*>(buffer);
    u64 got = 0;
    // A chunk whose checksum fails is still handed out by libewf, counted as a checksum
    // error; a read that adds to the count has delivered damaged bytes and fails.
    const u32 errorsBefore = ChecksumErrors();
    while (got < wanted)
    {
        libewf_error_t* error = nullptr;
        ssize_t n = Ewf().readRandom(m_handle, out + got, wanted - got,
                                     static_cast<off64_t>(offset + got), &error);
        if (n < 0)
        {
            m_lastError = TakeError(error);
            return kErrTransfer;
        }
        (void)TakeError(error);
        if (n == 0)
            break; // the media ends earlier than its stated size
        got += static_cast<u64>(n);
    }
    const u32 errorsAfter = ChecksumErrors();
    if (errorsAfter != errorsBefore)
        NoteDamage(errorsAfter, offset, got);
    // A chunk that failed before fails whenever it is read again, from libewf's cache or not.
    if (errorsAfter != errorsBefore || Damaged(offset, got))
    {
        m_lastError = "a chunk of the image failed its checksum";
        return kErrTransfer;
    }
    *done = static_cast<u32>(got);
    return kOk;
}

void EwfImage::NoteDamage(u32 count, u64 offset, u64 bytes)
{
    const u32 most = 1u << 20; // ranges kept at most: a wholly damaged image needs no more
    bool named = false;
    for (; count != std::numeric_limits<u32>::max() && m_errorsNoted < count &&
           m_damaged.size() < most;
         ++m_errorsNoted)
    {
        u64 first = 0;
        u64 sectors = 0;
        libewf_error_t* error = nullptr;
        if (Ewf().checksumError(m_handle, m_errorsNoted, &first, &sectors, &error) != 1)
        {
            (void)TakeError(error);
            continue;
        }
        const u64 bps = m_bytesPerSector;
        if (first > kMaxOffset / bps || sectors > kMaxOffset / bps - first)
            continue;
        m_damaged.push_back(DamagedRange{first * bps, (first + sectors) * bps});
        named = true;
    }
    if (!named && m_damaged.size() < most)
        m_damaged.push_back(DamagedRange{offset, offset + std::max<u64>(bytes, 1)});
}

bool EwfImage::Damaged(u64 offset, u64 bytes) const
{
    const u64 end = offset + std::max<u64>(bytes, 1);
    for (const DamagedRange& range : m_damaged)
        if (offset < range.to && range.from < end)
            return true;
    return false;
}

u32 EwfImage::ChecksumErrors()
{
    u32 count = 0;
    libewf_error_t* error = nullptr;
    if (Ewf().checksumErrors(m_handle, &count, &error) != 1)
    {
        (void)TakeError(error);
        return std::numeric_limits<u32>::max(); // no count to be had
    }
    return count;
}
