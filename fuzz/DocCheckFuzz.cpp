// Fuzzes the document, archive, database and text validators over any bytes: each stays within
// its source, vouches for no more than it was given, and gives a title a file name can take.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "StrictSource.h"
#include "carve/ContentCheck.h"
#include "carve/DocRead.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

bool CleanUtf8(const std::string& text)
{
    const auto* p = reinterpret_cast<const u8*>(text.data());
    for (std::size_t i = 0; i < text.size();)
    {
        const int len = Utf8SequenceLength(std::span<const u8>(p + i, text.size() - i));
        if (len <= 0 || (len == 1 && p[i] < 0x20))
            return false;
        i += static_cast<std::size_t>(len);
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const u8> bytes(data, size);
    using Validator = ContentCheck (*)(IContentSource&);
    static constexpr Validator kValidators[] = {CheckZip,    CheckPdf,  CheckOle2, CheckRtf,
                                                CheckSqlite, CheckGzip, Check7z,   CheckText};
    for (const Validator validate : kValidators)
    {
        StrictSource source(bytes);
        const ContentCheck c = validate(source);
        Check(c.validBytes <= size);
        Check(c.verdict != FindContent::kValid || (c.end <= size && c.validBytes == c.end));
        Check(c.title.size() <= kMaxTitleBytes && CleanUtf8(c.title));
    }
    return 0;
}
