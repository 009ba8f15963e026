// Fuzzes the picture, camera-raw, video and audio validators and the EXIF date taken. Whatever
// the bytes claim, each validator reads only within Size(), vouches for no byte past it, and a
// valid verdict ends within it; the date taken is a date or zero.
#include <array>
#include <cstdlib>
#include <span>

#include "carve/ContentCheck.h"
#include "carve/ExifDate.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// A source that aborts on a read outside the bytes it was given.
class StrictSource final : public IContentSource
{
public:
    explicit StrictSource(std::span<const u8> bytes) : m_inner(bytes), m_size(bytes.size()) {}
    [[nodiscard]] u64 Size() const override { return m_size; }
    [[nodiscard]] std::size_t Read(u64 offset, std::span<u8> out) override
    {
        Check(offset <= m_size && out.size() <= m_size - offset);
        return m_inner.Read(offset, out);
    }

private:
    MemorySource m_inner;
    u64 m_size;
};

void CheckTime(const FoundTime& t)
{
    if (t.year == 0)
        return Check(t == FoundTime{});
    Check(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour < 24 &&
          t.minute < 60 && t.second <= 60);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    const std::span<const u8> bytes(data, size);
    using Validator = ContentCheck (*)(IContentSource&);
    constexpr std::array<Validator, 7> kValidators = {CheckPng,  CheckGif,  CheckBmp, CheckTiff,
                                                      CheckBmff, CheckRiff, CheckMp3};
    for (const Validator validate : kValidators)
    {
        StrictSource source(bytes);
        const ContentCheck check = validate(source);
        Check(check.verdict != FindContent::kNone && check.validBytes <= size);
        Check(check.verdict == FindContent::kValid ? check.end == check.validBytes && check.end != 0
                                                   : check.end == 0);
        CheckTime(check.taken);
    }
    CheckTime(ExifDateTaken(bytes));
    return 0;
}
