// The title an OLE2 document's summary information property set holds.
#pragma once

#include <span>
#include <string>

#include "platform/Types.h"

// The title (PIDSI_TITLE) of the "\005SummaryInformation" stream's bytes, as UTF-8 (ANSI text
// in its code page: UTF-8, UTF-16 or taken as Windows-1252), cleaned; empty when it has none.
[[nodiscard]] std::string Ole2SummaryTitle(std::span<const u8> stream);
