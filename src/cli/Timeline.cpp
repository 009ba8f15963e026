// The scan listings for other tools: body-file lines and CSV rows.
#include "cli/Timeline.h"

#include "catalog/ResultView.h"
#include "cli/SearchRun.h"
#include "cli/TextOut.h"

namespace
{
constexpr u8 kAttrReadOnly = 0x01;
constexpr u8 kAttrFolder = 0x10;

// text with its control characters and column separators written as "^"; backslashes become
// "/" when separators is set (the parts of a folder path).
void AppendBodyText(std::string& out, std::string_view text, bool separators)
{
    for (const char c : text)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '|')
            out += '^';
        else if (separators && c == '\\')
            out += '/';
        else
            out += c;
    }
}
} // namespace

void AppendBodyLine(std::string& out, const FoundItem& item, const FindTimes& times)
{
    const bool dir = (item.attr & kAttrFolder) != 0;
    out += "0|";
    AppendBodyText(out, item.path.view(), true);
    out += '/';
    AppendBodyText(out, item.name.view(), false);
    if (item.deleted != 0)
        out += " (deleted)";
    out += '|';
    AppendDecimal(out, item.record);
    out += dir ? "|d/d" : "|r/r";
    out += (item.attr & kAttrReadOnly) != 0 ? "r-xr-xr-x" : "rwxrwxrwx";
    out += "|0|0|";
    AppendDecimal(out, item.size);
    for (const s64 time : {times.accessed, times.modified, times.changed, times.created})
    {
        out += '|';
        AppendDecimal(out, time < 0 ? 0 : static_cast<u64>(time));
    }
}

const char* const kCsvHeader = "volume,fs,path,name,dir,deleted,size,first,created,accessed,"
                               "condition,overwritten_pct,deep,found_by,content,"
                               "recycled_from\r\n";

void AppendCsvField(std::string& out, std::string_view field)
{
    const bool quoted = field.find_first_of(",\"\r\n") != std::string_view::npos;
    if (quoted)
        out += '"';
    for (std::size_t i = 0; i < field.size();)
    {
        u32 codePoint = 0;
        const std::size_t length = DecodeUtf8(field, i, &codePoint);
        if (length == 0)
        {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (field[i] == '"')
            out += '"';
        out.append(field.substr(i, length));
        i += length;
    }
    if (quoted)
        out += '"';
}

void AppendCsvRow(std::string& out, const VolumeEntry& volume, const FoundItem& item,
                  const std::string* recycledFrom)
{
    AppendCsvField(out, volume.name);
    out += ',';
    out += FileSystemText(volume.fsType);
    out += ',';
    AppendCsvField(out, item.path.view());
    out += ',';
    AppendCsvField(out, item.name.view());
    out += (item.attr & kAttrFolder) != 0 ? ",true," : ",false,";
    out += item.deleted != 0 ? "1," : "0,";
    AppendDecimal(out, item.size);
    out += ',';
    AppendDecimal(out, item.first);
    out += ',';
    AppendTimeText(out, item.created);
    out += ',';
    AppendTimeText(out, item.accessed);
    out += ',';
    out += ConditionText(item.condition);
    out += ',';
    AppendDecimal(out, item.overwrittenPct);
    out += item.deep != 0 ? ",1," : ",0,";
    out += FoundByText(item);
    out += ',';
    out += ContentText(item.Content());
    out += ',';
    if (recycledFrom != nullptr)
        AppendCsvField(out, *recycledFrom);
    out += "\r\n";
}
