// The filter rules: names folded and matched as characters, categories by extension table and
// by MIME type.
#include "catalog/FindFilter.h"

#include <algorithm>
#include <array>

namespace
{
constexpr std::array<const char*, kFindTypeCount> kTypeTexts = {
    "All", "Pictures", "Documents", "Video", "Audio", "Archives", "Other"};

struct ExtensionType
{
    std::string_view extension; // lower case, without its dot
    FindType type;
};

// The extensions each category lists. A search looks at every entry: the table is short.
constexpr ExtensionType kExtensions[] = {
    {"jpg", FindType::kPictures},   {"jpeg", FindType::kPictures},  {"jpe", FindType::kPictures},
    {"png", FindType::kPictures},   {"gif", FindType::kPictures},   {"bmp", FindType::kPictures},
    {"tif", FindType::kPictures},   {"tiff", FindType::kPictures},  {"webp", FindType::kPictures},
    {"heic", FindType::kPictures},  {"heif", FindType::kPictures},  {"ico", FindType::kPictures},
    {"svg", FindType::kPictures},   {"psd", FindType::kPictures},   {"raw", FindType::kPictures},
    {"cr2", FindType::kPictures},   {"nef", FindType::kPictures},   {"arw", FindType::kPictures},
    {"dng", FindType::kPictures},   {"orf", FindType::kPictures},   {"txt", FindType::kDocuments},
    {"doc", FindType::kDocuments},  {"docx", FindType::kDocuments}, {"odt", FindType::kDocuments},
    {"rtf", FindType::kDocuments},  {"pdf", FindType::kDocuments},  {"xls", FindType::kDocuments},
    {"xlsx", FindType::kDocuments}, {"ods", FindType::kDocuments},  {"ppt", FindType::kDocuments},
    {"pptx", FindType::kDocuments}, {"odp", FindType::kDocuments},  {"csv", FindType::kDocuments},
    {"md", FindType::kDocuments},   {"htm", FindType::kDocuments},  {"html", FindType::kDocuments},
    {"xml", FindType::kDocuments},  {"epub", FindType::kDocuments}, {"tex", FindType::kDocuments},
    {"log", FindType::kDocuments},  {"mp4", FindType::kVideo},      {"m4v", FindType::kVideo},
    {"mov", FindType::kVideo},      {"avi", FindType::kVideo},      {"mkv", FindType::kVideo},
    {"wmv", FindType::kVideo},      {"flv", FindType::kVideo},      {"webm", FindType::kVideo},
    {"mpg", FindType::kVideo},      {"mpeg", FindType::kVideo},     {"3gp", FindType::kVideo},
    {"mts", FindType::kVideo},      {"m2ts", FindType::kVideo},     {"vob", FindType::kVideo},
    {"mp3", FindType::kAudio},      {"wav", FindType::kAudio},      {"flac", FindType::kAudio},
    {"aac", FindType::kAudio},      {"ogg", FindType::kAudio},      {"oga", FindType::kAudio},
    {"m4a", FindType::kAudio},      {"wma", FindType::kAudio},      {"opus", FindType::kAudio},
    {"aif", FindType::kAudio},      {"aiff", FindType::kAudio},     {"mid", FindType::kAudio},
    {"midi", FindType::kAudio},     {"amr", FindType::kAudio},      {"zip", FindType::kArchives},
    {"rar", FindType::kArchives},   {"7z", FindType::kArchives},    {"tar", FindType::kArchives},
    {"gz", FindType::kArchives},    {"tgz", FindType::kArchives},   {"bz2", FindType::kArchives},
    {"xz", FindType::kArchives},    {"zst", FindType::kArchives},   {"cab", FindType::kArchives},
    {"iso", FindType::kArchives},   {"lzh", FindType::kArchives},   {"arj", FindType::kArchives},
};

// MIME types outside image/, video/, audio/ and text/ that name a document or an archive.
constexpr ExtensionType kMimeTypes[] = {
    {"application/pdf", FindType::kDocuments},
    {"application/msword", FindType::kDocuments},
    {"application/rtf", FindType::kDocuments},
    {"application/vnd.ms-excel", FindType::kDocuments},
    {"application/vnd.ms-powerpoint", FindType::kDocuments},
    {"application/vnd.oasis.opendocument.", FindType::kDocuments},
    {"application/vnd.openxmlformats-officedocument.", FindType::kDocuments},
    {"application/epub+zip", FindType::kDocuments},
    {"application/zip", FindType::kArchives},
    {"application/gzip", FindType::kArchives},
    {"application/x-7z-compressed", FindType::kArchives},
    {"application/vnd.rar", FindType::kArchives},
    {"application/x-rar", FindType::kArchives},
    {"application/x-tar", FindType::kArchives},
    {"application/x-compressed-tar", FindType::kArchives},
    {"application/x-bzip", FindType::kArchives},
    {"application/x-xz", FindType::kArchives},
    {"application/zstd", FindType::kArchives},
    {"application/x-cd-image", FindType::kArchives},
    {"application/vnd.ms-cab-compressed", FindType::kArchives},
};

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
    return lower;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

// The length of the UTF-8 sequence lead starts and the value bits lead holds; length 0 when
// lead starts none.
std::size_t SequenceLength(unsigned char lead, char32_t* bits)
{
    if (lead < 0x80)
    {
        *bits = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0)
    {
        *bits = lead & 0x1Fu;
        return 2;
    }
    if ((lead & 0xF0) == 0xE0)
    {
        *bits = lead & 0x0Fu;
        return 3;
    }
    if ((lead & 0xF8) == 0xF0)
    {
        *bits = lead & 0x07u;
        return 4;
    }
    return 0;
}

// The characters of UTF-8 text, ASCII letters lower-cased. A byte that starts no valid
// sequence stands for itself (as 0xDC00 + byte), so it matches only the same byte.
std::u32string Fold(std::string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size())
    {
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t c = 0;
        const std::size_t length = SequenceLength(lead, &c);
        bool valid = length != 0 && length <= text.size() - i;
        for (std::size_t k = 1; valid && k < length; ++k)
        {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3Fu);
        }
        if (!valid)
        {
            out.push_back(0xDC00 + lead);
            ++i;
            continue;
        }
        out.push_back(c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c);
        i += length;
    }
    return out;
}

// Whole-text wildcard match: '*' any run of characters, '?' exactly one. Greedy with one
// back-up point, so it takes at most text.size() * pattern.size() steps.
bool WildcardMatch(const std::u32string& pattern, const std::u32string& text)
{
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starAt = std::u32string::npos;
    std::size_t resumeAt = 0;
    while (t < text.size())
    {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == text[t]))
        {
            ++p;
            ++t;
        }
        else if (p < pattern.size() && pattern[p] == U'*')
        {
            starAt = p++;
            resumeAt = t;
        }
        else if (starAt != std::u32string::npos)
        {
            p = starAt + 1;
            t = ++resumeAt;
        }
        else
            return false;
    }
    while (p < pattern.size() && pattern[p] == U'*')
        ++p;
    return p == pattern.size();
}

FindType TypeOfMime(std::string_view mime)
{
    if (StartsWith(mime, "image/"))
        return FindType::kPictures;
    if (StartsWith(mime, "video/"))
        return FindType::kVideo;
    if (StartsWith(mime, "audio/"))
        return FindType::kAudio;
    if (StartsWith(mime, "text/"))
        return FindType::kDocuments;
    for (const ExtensionType& entry : kMimeTypes)
        if (StartsWith(mime, entry.extension))
            return entry.type;
    return FindType::kOther;
}
} // namespace

const char* FindTypeText(FindType type)
{
    const auto index = static_cast<std::size_t>(type);
    return index < kTypeTexts.size() ? kTypeTexts[index] : "";
}

bool ParseFindType(std::string_view text, FindType* type)
{
    const std::string lower = Lower(text);
    for (std::size_t i = 0; i < kTypeTexts.size(); ++i)
    {
        if (lower == Lower(kTypeTexts[i]))
        {
            *type = static_cast<FindType>(i);
            return true;
        }
    }
    return false;
}

void FindFilter::SetName(std::string_view pattern)
{
    m_pattern = std::string(pattern);
    m_folded = Fold(pattern);
    m_wildcard = m_folded.find_first_of(U"*?") != std::u32string::npos;
}

void FindFilter::SetMimeTypes(IMimeTypes* mimeTypes)
{
    m_mimeTypes = mimeTypes;
    m_mimeCache.clear();
}

bool FindFilter::IsSet() const
{
    return !m_pattern.empty() || m_type != FindType::kAll || m_recoverableOnly;
}

bool FindFilter::NameMatches(std::string_view name) const
{
    if (m_folded.empty())
        return true;
    const std::u32string folded = Fold(name);
    if (m_wildcard)
        return WildcardMatch(m_folded, folded);
    return folded.find(m_folded) != std::u32string::npos;
}

FindType FindFilter::TypeOf(std::string_view name) const
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size())
        return FindType::kOther;
    const std::string_view extension = name.substr(dot + 1);
    const std::string lower = Lower(extension);
    for (const ExtensionType& entry : kExtensions)
        if (entry.extension == lower)
            return entry.type;
    if (m_mimeTypes == nullptr)
        return FindType::kOther;
    auto [it, added] = m_mimeCache.try_emplace(lower, FindType::kOther);
    if (added)
    {
        std::string mime;
        if (m_mimeTypes->MimeType(std::string(extension), &mime))
            it->second = TypeOfMime(mime);
    }
    return it->second;
}

bool FindFilter::Matches(const FoundItem& item) const
{
    const bool folder = (item.attr & 0x10) != 0;
    if (m_recoverableOnly && item.condition == FindCondition::kOverwritten)
        return false;
    if (m_type != FindType::kAll && (folder || TypeOf(item.name.view()) != m_type))
        return false;
    return NameMatches(item.name.view());
}
