// Placeholders until the picture and media validators land.
#include "carve/ContentCheck.h"

ContentCheck CheckPng(IContentSource&)
{
    return {};
}
ContentCheck CheckGif(IContentSource&)
{
    return {};
}
ContentCheck CheckBmp(IContentSource&)
{
    return {};
}
ContentCheck CheckTiff(IContentSource&)
{
    return {};
}
ContentCheck CheckBmff(IContentSource&)
{
    return {};
}
ContentCheck CheckRiff(IContentSource&)
{
    return {};
}
ContentCheck CheckMp3(IContentSource&)
{
    return {};
}

#include "carve/ExifDate.h"

FoundTime ExifDateTaken(std::span<const u8>)
{
    return {};
}
