// Placeholders until the document and archive validators land.
#include "carve/ContentCheck.h"

ContentCheck CheckZip(IContentSource&)
{
    return {};
}
ContentCheck CheckPdf(IContentSource&)
{
    return {};
}
ContentCheck CheckOle2(IContentSource&)
{
    return {};
}
ContentCheck CheckRtf(IContentSource&)
{
    return {};
}
ContentCheck CheckSqlite(IContentSource&)
{
    return {};
}
ContentCheck CheckGzip(IContentSource&)
{
    return {};
}
ContentCheck Check7z(IContentSource&)
{
    return {};
}
ContentCheck CheckText(IContentSource&)
{
    return {};
}
