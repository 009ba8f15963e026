// Which finds a listing shows: a name pattern, a type category and "recoverable only". Plain
// C++ shared by the wizard's filter bar and the command line's --filter.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/Types.h"
#include "records/FoundItem.h"

// The type categories a filter chooses from, in the order the wizard lists them.
enum class FindType : u8
{
    kAll = 0,
    kPictures,
    kDocuments,
    kVideo,
    kAudio,
    kArchives,
    kOther,
};
inline constexpr std::size_t kFindTypeCount = 7;

// The category's name: "All", "Pictures", "Documents", "Video", "Audio", "Archives", "Other".
[[nodiscard]] const char* FindTypeText(FindType type);
// The category a name stands for (ASCII case ignored: "pictures", "Video"). False when none.
[[nodiscard]] bool ParseFindType(std::string_view text, FindType* type);

// The MIME type a file-name extension has in some database (the desktop's shared MIME
// database in the wizard). Optional: without one, types are told by extension alone.
class IMimeTypes
{
public:
    virtual ~IMimeTypes() = default;

    // Sets *type ("image/x-foo") for extension (without its dot, case kept). False when the
    // database does not know it; *type is then left empty.
    virtual bool MimeType(const std::string& extension, std::string* type) = 0;
};

class FindFilter
{
public:
    // The name rule: a substring of the name, or, when pattern holds '*' or '?', a wildcard
    // the whole name must match ('*' any run, '?' one character). Case is ignored for ASCII
    // letters. Empty: every name.
    void SetName(std::string_view pattern);
    void SetType(FindType type) { m_type = type; }
    // Hides finds whose condition is "overwritten".
    void SetRecoverableOnly(bool on) { m_recoverableOnly = on; }
    // Consulted for extensions no category lists; not owned, may be null.
    void SetMimeTypes(IMimeTypes* mimeTypes);

    [[nodiscard]] const std::string& Name() const { return m_pattern; }
    [[nodiscard]] FindType Type() const { return m_type; }
    [[nodiscard]] bool RecoverableOnly() const { return m_recoverableOnly; }
    // True when any rule narrows what is shown.
    [[nodiscard]] bool IsSet() const;

    // True when item passes every rule. A folder passes on its name alone while the type is
    // All, and never under another category.
    [[nodiscard]] bool Matches(const FoundItem& item) const;
    // True when name passes the name rule.
    [[nodiscard]] bool NameMatches(std::string_view name) const;
    // The category of a file named name (never All): by its extension, else by the MIME type
    // the database gives it, else Other.
    [[nodiscard]] FindType TypeOf(std::string_view name) const;

private:
    std::string m_pattern;   // as given
    std::u32string m_folded; // the pattern's characters, ASCII letters lower-cased
    bool m_wildcard = false; // the pattern holds '*' or '?'
    FindType m_type = FindType::kAll;
    bool m_recoverableOnly = false;
    IMimeTypes* m_mimeTypes = nullptr;
    // Categories of extensions already looked up, by lower-cased extension.
    mutable std::unordered_map<std::string, FindType> m_mimeCache;
};
