// Fuzzes the picture, camera-raw, video and audio validators and the EXIF date taken. Whatever
// the bytes claim, each validator reads only within Size(), vouches for no byte past it, and a
// valid verdict ends within it; the date taken is a date or zero.
#include <array>
#include <cstdlib>
#include <span>

#include "StrictSource.h"
#include "carve/ContentCheck.h"
#include "carve/ExifDate.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

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
        StrictSource source(bytes, true);
        const ContentCheck check = validate(source);
        Check(check.verdict != FindContent::kNone && check.validBytes <= size);
        Check(check.verdict == FindContent::kValid ? check.end == check.validBytes && check.end != 0
                                                   : check.end == 0);
        CheckTime(check.taken);
    }
    CheckTime(ExifDateTaken(bytes));
    return 0;
}
