// The content check of the finds: every deleted file of a type a validator knows is read
// through its engine and judged valid or damaged before anyone copies it; a FAT or exFAT find
// whose inferred layout is damaged is laid out again from its first cluster, and a layout that
// validates replaces the guess.
#pragma once

#include <functional>
#include <span>
#include <string_view>

#include "carve/CarveTypes.h"
#include "carve/ContentCheck.h"
#include "carve/GapSearch.h"
#include "carve/HeaderSearch.h"
#include "platform/Types.h"

struct VolumeClusters;
struct VolumeEntry;

// What the content check calls: the validator, the layout search and the header match (the
// real ones by default; tests hand in their own).
struct ContentCheckers
{
    std::function<ContentCheck(CarveType, IContentSource&)> validate = ValidateContent;
    std::function<CarveLayout(CarveType, u64, ICarveSpace&, const GapLimits&, u64)> layOut =
        LayOutCarved;
    std::function<CarveType(std::span<const u8>)> matchHeader = MatchHeader;
};

// The type a file named name is checked as: the type its extension names (kNone for none, and
// for text: a text file in a legacy code page is not damaged), or, when head (its first bytes)
// begins with the header of a type of another family, that type (a .doc saved as RTF, a .jpg
// that is a PNG).
[[nodiscard]] CarveType TypeToCheck(std::string_view name, std::span<const u8> head,
                                    const ContentCheckers& with = {});

// Bytes of an NTFS compressed stream read into memory for its check, at most; a larger one is
// not checked.
inline constexpr u64 kCheckedCompressedBytes = u64{64} << 20;

// Sets the content of every deleted file of entry (not folders, not carved finds, not names
// known to have no data left) whose type a validator knows: its bytes, read through the
// engine as a recovery would read them, judged by the type's validator. Then a FAT or exFAT
// find with an inferred layout whose content is damaged is laid out again from its first
// cluster over the clusters that are free (its own among them, other finds' and live files'
// not): a layout that validates, read back through the engine, replaces the guess (its
// clusters claimed, the content valid, the condition inferred); otherwise the find keeps its
// layout. clusters is what AssessConditions kept; without its allocation state and geometry
// nothing is laid out again. Stops at once when the run flag is cleared. progress (may be
// null) hears how many of the finds to judge are judged when there are any: at the start, and
// as the share judged grows by a thousandth.
using ContentProgress = std::function<void(std::size_t done, std::size_t total)>;
void CheckContents(VolumeEntry& entry, VolumeClusters& clusters, const ContentCheckers& with = {},
                   const ContentProgress& progress = nullptr);
