// The JPEG decode to nowhere. libjpeg reports errors through a callback that must not return:
// the callbacks longjmp back to DecodeJpeg's frame, which holds no object with a destructor
// across setjmp; libjpeg's own memory is released with jpeg_destroy_decompress.
#include "carve/JpegDecode.h"

#include "carve/HeaderSearch.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace
{
// Bytes read from the source at a time, and handed to libjpeg at a time: fewer than 512, so
// that libjpeg-turbo never takes its fast Huffman path, which decodes a bad code as zero
// without a warning; every code is then checked.
constexpr std::size_t kBlock = 32768;
constexpr std::size_t kPiece = 511;
constexpr std::size_t kSector = 512;
// libjpeg's memory for one decode, at most (a progressive file keeps every coefficient).
constexpr long kMaxMemory = 256L << 20;
// Blocks decoded, summed over scans, at most: a fixed allowance plus so many per byte of the
// source (a progressive scan's end-of-band run may cover many blocks with one code).
constexpr u64 kWorkBase = u64{1} << 20;
constexpr u64 kWorkPerByte = 256;
constexpr u64 kMaxWork = u64{1} << 27;

enum class Stop : int
{
    kNone = 0,
    kError,
    kWarning,
    kSourceEnd,
    kRefused,
};

// Standard layout, error manager first: libjpeg hands the callbacks cinfo->err.
struct ErrorHandler
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

struct DecodeState
{
    ErrorHandler error{};
    jpeg_source_mgr src{};
    jpeg_progress_mgr progress{};
    jpeg_decompress_struct cinfo{};
    IContentSource* source = nullptr;
    u64 handed = 0; // bytes handed to libjpeg so far
    u64 dataStart = 0;
    u64 zeroSector = kNoZeroSector;
    u64 textSector = kNoZeroSector;
    u64 work = 0;
    u64 workLimit = 0;
    u64 blocksPerIMcuRow = 0;
    Stop stop = Stop::kNone;
    u64 blockBase = 0;          // offset of block[0]
    std::size_t blockCount = 0; // bytes of block read
    std::array<u8, kBlock> block{};

    [[nodiscard]] u64 Position() const
    {
        return handed - std::min<u64>(src.bytes_in_buffer, handed);
    }
};

static_assert(std::is_standard_layout_v<ErrorHandler> && std::is_standard_layout_v<DecodeState>);

// The state whose error manager cinfo reports through (its first member, so the two share an
// address); valid from before jpeg_create_decompress on.
DecodeState& StateOf(j_common_ptr cinfo)
{
    return *reinterpret_cast<DecodeState*>(cinfo->err);
}

[[noreturn]] void Jump(j_common_ptr cinfo, Stop stop)
{
    DecodeState& state = StateOf(cinfo);
    state.stop = stop;
    std::longjmp(state.error.jump, 1);
}

void OnError(j_common_ptr cinfo)
{
    const int code = cinfo->err->msg_code;
    Jump(cinfo, code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE ? Stop::kRefused
                                                                            : Stop::kError);
}

void OnMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return; // trace messages
    // Unknown JFIF revisions and Adobe transform codes say nothing of the bytes' soundness;
    // every other warning (corrupt data, premature end, bad codes, restarts out of order,
    // bytes before a marker) is where the file breaks.
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM)
        return;
    Jump(cinfo, Stop::kWarning);
}

void OnOutput(j_common_ptr)
{
}

void InitSource(j_decompress_ptr)
{
}

void TermSource(j_decompress_ptr)
{
}

// Notes the first whole sector of zeros, and the first of text, of the block just read that
// lies in the entropy-coded data.
void NoteZeroSectors(DecodeState& state)
{
    static constexpr std::array<u8, kSector> kZeros{};
    if (state.zeroSector != kNoZeroSector && state.textSector != kNoZeroSector)
        return;
    const u64 from = std::max(state.blockBase, state.dataStart);
    for (u64 at = (from + kSector - 1) / kSector * kSector;
         at + kSector <= state.blockBase + state.blockCount; at += kSector)
    {
        const u8* sector = state.block.data() + (at - state.blockBase);
        if (state.zeroSector == kNoZeroSector && std::memcmp(sector, kZeros.data(), kSector) == 0)
            state.zeroSector = at;
        if (state.textSector == kNoZeroSector &&
            IsTextCluster(std::span<const u8>(sector, kSector)))
            state.textSector = at;
    }
}

boolean FillInput(j_decompress_ptr cinfo)
{
    DecodeState& state = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    if (state.handed < state.blockBase || state.handed >= state.blockBase + state.blockCount)
    {
        state.blockBase = state.handed;
        state.blockCount = state.source->Read(state.handed, state.block);
        if (state.blockCount == 0)
            Jump(reinterpret_cast<j_common_ptr>(cinfo), Stop::kSourceEnd);
        NoteZeroSectors(state);
    }
    const auto at = static_cast<std::size_t>(state.handed - state.blockBase);
    const std::size_t n = std::min(kPiece, state.blockCount - at);
    state.src.next_input_byte = state.block.data() + at;
    state.src.bytes_in_buffer = n;
    state.handed += n;
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count)
{
    DecodeState& state = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    if (count <= 0)
        return;
    const auto skip = static_cast<u64>(count);
    if (skip <= state.src.bytes_in_buffer)
    {
        state.src.next_input_byte += skip;
        state.src.bytes_in_buffer -= skip;
        return;
    }
    state.handed += skip - state.src.bytes_in_buffer;
    state.src.bytes_in_buffer = 0;
}

void OnProgress(j_common_ptr cinfo)
{
    DecodeState& state = StateOf(cinfo);
    state.work += state.blocksPerIMcuRow;
    if (state.work > state.workLimit)
        Jump(cinfo, Stop::kRefused);
}

void SetUp(DecodeState& state)
{
    jpeg_decompress_struct& cinfo = state.cinfo;
    cinfo.mem->max_memory_to_use = kMaxMemory;
    state.src.init_source = InitSource;
    state.src.fill_input_buffer = FillInput;
    state.src.skip_input_data = SkipInput;
    state.src.resync_to_restart = jpeg_resync_to_restart;
    state.src.term_source = TermSource;
    cinfo.src = &state.src;
    state.progress.progress_monitor = OnProgress;
    cinfo.progress = &state.progress;
    state.workLimit = std::min(kMaxWork, kWorkBase + kWorkPerByte * state.source->Size());
}

// After the header: 1/8 scale, no smoothing, components as stored.
void ChooseOutput(DecodeState& state, JpegDecode& out)
{
    jpeg_decompress_struct& cinfo = state.cinfo;
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.do_block_smoothing = FALSE;
    cinfo.dct_method = JDCT_IFAST;
    if (cinfo.jpeg_color_space == JCS_YCbCr)
        cinfo.out_color_space = JCS_YCbCr;
    u64 blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
        blocks += u64{cinfo.comp_info[c].width_in_blocks} *
                  static_cast<u64>(cinfo.comp_info[c].v_samp_factor);
    state.blocksPerIMcuRow = std::max<u64>(blocks, 1);
    out.multiScan = jpeg_has_multiple_scans(&cinfo) != 0;
}

// Mean absolute difference of two rows of samples.
float RowJump(const JSAMPLE* row, const JSAMPLE* above, std::size_t count)
{
    u64 sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += static_cast<u64>(std::abs(static_cast<int>(row[i]) - static_cast<int>(above[i])));
    return count == 0 ? 0.0F : static_cast<float>(sum) / static_cast<float>(count);
}

// Reads the output rows one at a time, noting where each row of MCUs ended. Holds no object
// with a destructor: libjpeg may longjmp out of it.
void ReadRows(DecodeState& state, JpegDecode& out)
{
    jpeg_decompress_struct& cinfo = state.cinfo;
    const std::size_t width = static_cast<std::size_t>(cinfo.output_width) *
                              static_cast<std::size_t>(cinfo.output_components);
    JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                 JPOOL_IMAGE, static_cast<JDIMENSION>(width), 2);
    out.outputRowsPerIMcuRow =
        static_cast<u32>(std::max(cinfo.max_v_samp_factor * cinfo.min_DCT_scaled_size, 1));
    out.scanStart = state.Position();
    std::size_t current = 0;
    while (cinfo.output_scanline < cinfo.output_height)
    {
        const JDIMENSION before = cinfo.input_iMCU_row;
        JSAMPARRAY row = rows + current;
        if (jpeg_read_scanlines(&cinfo, row, 1) != 1)
            Jump(reinterpret_cast<j_common_ptr>(&cinfo), Stop::kError);
        if (!out.multiScan && cinfo.input_iMCU_row != before)
            out.rowEnds.push_back(state.Position());
        out.rowJump.push_back(
            out.rowJump.empty() ? 0.0F : RowJump(rows[current], rows[1 - current], width));
        current = 1 - current;
    }
}

void Run(DecodeState& state, JpegDecode& out)
{
    jpeg_decompress_struct& cinfo = state.cinfo;
    cinfo.err = jpeg_std_error(&state.error.pub);
    state.error.pub.error_exit = OnError;
    state.error.pub.emit_message = OnMessage;
    state.error.pub.output_message = OnOutput;
    if (setjmp(state.error.jump) != 0)
    {
        out.outcome = state.stop == Stop::kRefused ? JpegOutcome::kRefused : JpegOutcome::kBroken;
        out.sourceEnded = state.stop == Stop::kSourceEnd;
        out.stoppedAt = state.Position();
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    jpeg_create_decompress(&cinfo);
    SetUp(state);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
        Jump(reinterpret_cast<j_common_ptr>(&cinfo), Stop::kError);
    ChooseOutput(state, out);
    if (jpeg_start_decompress(&cinfo) == 0)
        Jump(reinterpret_cast<j_common_ptr>(&cinfo), Stop::kError);
    ReadRows(state, out);
    if (jpeg_finish_decompress(&cinfo) == 0)
        Jump(reinterpret_cast<j_common_ptr>(&cinfo), Stop::kError);
    out.outcome = JpegOutcome::kClean;
    out.stoppedAt = state.Position();
    jpeg_destroy_decompress(&cinfo);
}
} // namespace

JpegDecode DecodeJpeg(IContentSource& source, u64 dataStart)
{
    auto state = std::make_unique<DecodeState>();
    state->source = &source;
    state->dataStart = dataStart;
    JpegDecode out;
    Run(*state, out);
    out.zeroSector = state->zeroSector;
    out.textSector = state->textSector;
    return out;
}
