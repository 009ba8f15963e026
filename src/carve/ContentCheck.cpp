#include "carve/ContentCheck.h"

ContentCheck ValidateContent(CarveType type, IContentSource& source)
{
    ContentCheck check;
    switch (CarveFamily(type))
    {
    case CarveType::kJpeg:
        check = CheckJpeg(source);
        break;
    case CarveType::kPng:
        check = CheckPng(source);
        break;
    case CarveType::kGif:
        check = CheckGif(source);
        break;
    case CarveType::kBmp:
        check = CheckBmp(source);
        break;
    case CarveType::kTiff:
        check = CheckTiff(source);
        break;
    case CarveType::kMp4:
        check = CheckBmff(source);
        break;
    case CarveType::kAvi:
        check = CheckRiff(source);
        break;
    case CarveType::kMp3:
        check = CheckMp3(source);
        break;
    case CarveType::kZip:
        check = CheckZip(source);
        break;
    case CarveType::kPdf:
        check = CheckPdf(source);
        break;
    case CarveType::kDoc:
        check = CheckOle2(source);
        break;
    case CarveType::kRtf:
        check = CheckRtf(source);
        break;
    case CarveType::kSqlite:
        check = CheckSqlite(source);
        break;
    case CarveType::kGzip:
        check = CheckGzip(source);
        break;
    case CarveType::k7z:
        check = Check7z(source);
        break;
    case CarveType::kText:
        check = CheckText(source);
        break;
    default:
        return check;
    }
    if (check.type == CarveType::kNone)
        check.type = type;
    return check;
}
