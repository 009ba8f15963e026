// The filter options that scan and recover share.
#include "cli/FilterArgs.h"

#include <string_view>

#include "cli/TextOut.h"

namespace
{
// The value of an option given as "--name VALUE" or "--name=VALUE"; false when args[*at] is
// not that option. *missing is set when the value is absent.
bool OptionValue(const std::vector<std::string>& args, std::size_t* at, const std::string& name,
                 std::string* value, bool* missing)
{
    const std::string& a = args[*at];
    if (a == name)
    {
        *missing = *at + 1 == args.size() || args[*at + 1].empty();
        if (!*missing)
            *value = args[++*at];
        return true;
    }
    if (a.size() > name.size() + 1 && a.starts_with(name) && a[name.size()] == '=')
    {
        *value = a.substr(name.size() + 1);
        return true;
    }
    return false;
}
} // namespace

int ReadFilterOption(const std::vector<std::string>& args, std::size_t* at, FindFilter* filter,
                     const char* command, std::FILE* err)
{
    if (args[*at] == "--recoverable")
    {
        filter->SetRecoverableOnly(true);
        return 1;
    }
    std::string value;
    bool missing = false;
    for (const char* name : {"--filter", "--type"})
    {
        if (!OptionValue(args, at, name, &value, &missing))
            continue;
        if (missing)
        {
            std::fprintf(err, "orlavent-cli %s: %s needs a value\n", command, name);
            return -1;
        }
        if (std::string_view(name) == "--filter")
        {
            filter->SetName(value);
            return 1;
        }
        FindType type = FindType::kAll;
        if (!ParseFindType(value, &type))
        {
            std::fprintf(err,
                         "orlavent-cli %s: '%s' is no type (all, pictures, documents, video, "
                         "audio, archives or other)\n",
                         command, PrintableText(value).c_str());
            return -1;
        }
        filter->SetType(type);
        return 1;
    }
    return 0;
}
