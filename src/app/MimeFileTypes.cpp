// The shared MIME database through GIO: glob patterns name a content type, the type names its
// description and its themed icons.
#include "app/MimeFileTypes.h"

#include <gio/gio.h>

namespace
{
// GIO hands out strings that the caller frees with g_free.
struct GFreeString
{
    gchar* text = nullptr;
    ~GFreeString() { g_free(text); }
};

constexpr const char kSymbolicSuffix[] = "-symbolic";

bool IsSymbolic(const std::string& name)
{
    const std::string suffix = kSymbolicSuffix;
    return name.size() >= suffix.size() &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The content type the glob patterns give "file.<extension>"; null when uncertain or unknown.
gchar* GuessType(const std::string& extension)
{
    // A name with a path separator or an embedded NUL names no pattern the database holds.
    if (extension.empty() || extension.find('/') != std::string::npos ||
        extension.find('\0') != std::string::npos)
        return nullptr;
    const std::string probe = "file." + extension;
    gboolean uncertain = FALSE;
    gchar* type = g_content_type_guess(probe.c_str(), nullptr, 0, &uncertain);
    if (type != nullptr && (uncertain || g_content_type_is_unknown(type)))
    {
        g_free(type);
        return nullptr;
    }
    return type;
}
} // namespace

bool CMimeFileTypes::MimeType(const std::string& extension, std::string* type)
{
    type->clear();
    GFreeString guessed{GuessType(extension)};
    if (guessed.text == nullptr)
        return false;
    GFreeString mime{g_content_type_get_mime_type(guessed.text)};
    if (mime.text == nullptr || *mime.text == '\0')
        return false;
    *type = mime.text;
    return true;
}

bool CMimeFileTypes::Lookup(const std::string& extension, FileTypeInfo* info)
{
    *info = FileTypeInfo{};
    GFreeString type{GuessType(extension)};
    if (type.text == nullptr)
        return false;
    GFreeString description{g_content_type_get_description(type.text)};
    if (description.text == nullptr || *description.text == '\0')
        return false;
    FileTypeInfo found;
    found.description = description.text;
    if (GIcon* icon = g_content_type_get_icon(type.text))
    {
        if (G_IS_THEMED_ICON(icon))
        {
            const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
            for (std::size_t i = 0; names != nullptr && names[i] != nullptr; ++i)
            {
                std::string name = names[i];
                if (IsSymbolic(name))
                    continue;
                if (!found.icons.empty())
                    found.icons += '\n';
                found.icons += name;
            }
        }
        g_object_unref(icon);
    }
    *info = found;
    return true;
}
