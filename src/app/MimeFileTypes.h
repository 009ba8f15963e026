// File-type descriptions and icon names from the desktop's shared MIME database, through GIO.
#pragma once

#include "catalog/FindFilter.h"
#include "catalog/ResultView.h"

class CMimeFileTypes final : public IFileTypes, public IMimeTypes
{
public:
    // Guesses the content type of a file named "file.<extension>" from the database's glob
    // patterns. False when the guess is uncertain or the type has no description.
    bool Lookup(const std::string& extension, FileTypeInfo* info) override;
    // The MIME type the database's glob patterns give "file.<extension>". False when the guess
    // is uncertain.
    bool MimeType(const std::string& extension, std::string* type) override;
};
