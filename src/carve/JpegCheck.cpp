// The JPEG validator: the marker walk gives the structure and its end, a decode with
// libjpeg-turbo says whether the entropy-coded data holds, and where it broke.
#include <algorithm>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/JpegDecode.h"
#include "carve/JpegMarkers.h"

namespace
{
// A break is reported on a sector boundary at or before where it was found.
constexpr u64 kSector = 512;
// Bytes of foreign data the decoder may take before it stumbles: the break is placed at least
// this far before the point where decoding stopped.
constexpr u64 kMargin = 4096;
// Bytes libjpeg's bit buffer may hold beyond a row's end.
constexpr u64 kBitSlack = 16;
// A row of blocks whose DC values differ from the row above's by more than so many times the
// image's usual row-to-row difference, plus a floor (in 8-bit sample steps), is where foreign
// data begins. Where the decode broke anyway the test is keen; on a decode that ran clean it
// is strict, so that a whole photo's own edges never make it damaged.
struct JumpTest
{
    float factor;
    float floor;
    bool fewRowsSmooth; // see UsualJump
};
constexpr JumpTest kAfterBreak{3.0F, 6.0F, true};
constexpr JumpTest kCleanDecode{8.0F, 24.0F, false};

u64 RoundDown(u64 offset)
{
    return offset - offset % kSector;
}

u64 Before(u64 offset, u64 bytes)
{
    return offset > bytes ? offset - bytes : 0;
}

// A picture whose usual row-to-row DC difference is below this is one of flat areas.
constexpr float kFlatPicture = 0.5F;

// Rows of blocks fewer than this tell too little of the image's own row-to-row differences:
// foreign data may make most of them. Their usual difference is then taken as no more than a
// smooth photo's.
constexpr std::size_t kFewRows = 8;
constexpr float kSmoothJump = 2.0F;

// Median of the row jumps after the first row.
float UsualJump(const std::vector<float>& jumps, bool fewRowsSmooth)
{
    if (jumps.size() < 2)
        return 0.0F;
    if (fewRowsSmooth && jumps.size() < kFewRows)
        return std::min(kSmoothJump, *std::min_element(jumps.begin() + 1, jumps.end()));
    std::vector<float> sorted(jumps.begin() + 1, jumps.end());
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    return *middle;
}

// The first output row whose DC values jump away from the row above's; the rows' count when
// none does.
std::size_t FirstJump(const std::vector<float>& jumps, JumpTest test)
{
    const float limit = test.factor * UsualJump(jumps, test.fewRowsSmooth) + test.floor;
    for (std::size_t y = 1; y < jumps.size(); ++y)
    {
        if (jumps[y] > limit)
            return y;
    }
    return jumps.size();
}

// Whether foreign data that kept in step with the decode shows in a photo that decoded clean:
// a sector of zeros (a never-written cluster decodes in step where the code of zero bits ends
// a block) or a row whose DC values jump away from the image's usual. A picture of flat areas
// (its rows mostly equal) is left out: its edges jump, and with Huffman tables fitted to it
// its flat areas may encode as zero bytes.
bool ForeignInStep(const JpegWalk& walk, const JpegDecode& decode)
{
    if (decode.textSector < walk.end)
        return true;
    if (UsualJump(decode.rowJump, false) < kFlatPicture)
        return false;
    return decode.zeroSector < walk.end ||
           FirstJump(decode.rowJump, kCleanDecode) < decode.rowJump.size();
}

// Where a damaged file's bytes stop being their own, at or before the point its decode or walk
// stopped: a margin before that point; with several scans, the start of the scan it stopped
// in; with one scan, the start of a row of MCUs whose DC values jump away from the rows
// above; or a sector of zeros inside the entropy-coded data. foreign: set when such a row or
// sector was seen.
u64 LocateBreak(const JpegWalk& walk, const JpegDecode& decode, bool& foreign)
{
    u64 seen = decode.stoppedAt;
    if (!walk.reachedEoi)
        seen = std::min(seen, walk.brokeAt);
    u64 best = Before(seen, kMargin);
    if (walk.scanStarts.empty() || walk.scanStarts.front() >= seen)
        return RoundDown(best);
    foreign = std::min(decode.zeroSector, decode.textSector) < seen;
    best = std::min({best, decode.zeroSector, decode.textSector});
    if (decode.multiScan)
    {
        // A scan of a progressive file may take foreign data in step to its end.
        auto scan = std::upper_bound(walk.scanStarts.begin(), walk.scanStarts.end(), seen);
        return RoundDown(std::min(best, *(scan - 1)));
    }
    const std::vector<u64>& ends = decode.rowEnds;
    auto row = std::upper_bound(ends.begin(), ends.end(), best);
    best = row == ends.begin() ? std::min(best, decode.scanStart)
                               : std::min(best, Before(*(row - 1), kBitSlack));
    const std::size_t jump = FirstJump(decode.rowJump, kAfterBreak);
    if (jump < decode.rowJump.size())
    {
        foreign = true;
        // The foreign data may begin partway through the row above the first that jumps,
        // diluting that row's difference: the break is placed at that row's start.
        const std::size_t iMcuRow = (jump - 1) / decode.outputRowsPerIMcuRow;
        const u64 start =
            iMcuRow == 0 || iMcuRow > ends.size() ? decode.scanStart : ends[iMcuRow - 1];
        best = std::min(best, Before(start, kBitSlack));
    }
    return RoundDown(best);
}
} // namespace

ContentCheck CheckJpeg(IContentSource& source)
{
    ContentCheck check;
    check.type = CarveType::kJpeg;
    check.verdict = FindContent::kDamaged;
    const JpegWalk walk = WalkJpegMarkers(source);
    check.taken = walk.taken;
    if (walk.reachedEoi)
        check.end = walk.end;
    if (!walk.hasFrame && !walk.reachedEoi && walk.brokeAt < 4)
        return check; // no JPEG begins here
    const JpegDecode decode =
        DecodeJpeg(source, walk.scanStarts.empty() ? 0 : walk.scanStarts.front());
    if (decode.outcome == JpegOutcome::kRefused || (walk.hasFrame && !walk.frame.decodable))
    {
        check.verdict = FindContent::kNone; // too large, or a process not decoded here
        return check;
    }
    if (decode.outcome == JpegOutcome::kClean && walk.reachedEoi && decode.stoppedAt == walk.end &&
        !ForeignInStep(walk, decode))
    {
        // libjpeg's arithmetic decoder reads a marker met too soon as zero bits without a
        // warning: a clean decode does not vouch for such a file.
        check.verdict = walk.frame.arithmetic ? FindContent::kNone : FindContent::kValid;
        check.validBytes = walk.frame.arithmetic ? 0 : walk.end;
        return check;
    }
    bool foreign = false;
    check.validBytes = LocateBreak(walk, decode, foreign);
    check.ranOut =
        decode.sourceEnded && !walk.reachedEoi && walk.brokeAt >= source.Size() && !foreign;
    // The break lies somewhere up to where the decode or the walk stopped.
    u64 seen = decode.stoppedAt;
    if (!walk.reachedEoi)
        seen = std::min(seen, walk.brokeAt);
    check.breakReach = seen > check.validBytes ? seen - check.validBytes : 0;
    return check;
}
