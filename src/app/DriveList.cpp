// The drive list: the drive table's FAT, exFAT and NTFS drives as large icons, the selected-drive
// string, and the view and style switches the wizard and the result view use.
#include "app/DriveList.h"

#include <wx/artprov.h>

#include <iterator>

#include "catalog/Catalog.h"
#include "platform/DriveDiscovery.h"

namespace
{
constexpr int kSmallIcon = 16;
constexpr int kLargeIcon = 32;
// CCatalog::DetectFileSystem's code of a drive of no file system, carved by the deep search.
constexpr u32 kDetectedRaw = 8;

// Icons by drive type, in image-list order.
const char* const kDriveArt[] = {"drive-harddisk", "drive-removable-media", "drive-optical",
                                 "network-server", "drive-harddisk"};
const wxArtID kDriveFallback[] = {wxART_HARDDISK, wxART_REMOVABLE, wxART_CDROM, wxART_HARDDISK,
                                  wxART_HARDDISK};

u32 DriveTypeBit(DriveType type)
{
    switch (type)
    {
    case DriveType::Fixed:
        return kDriveFixed;
    case DriveType::CdRom:
        return kDriveCdRom;
    case DriveType::Removable:
        return kDriveRemovable;
    case DriveType::Remote:
        return kDriveRemote;
    case DriveType::RamDisk:
        return kDriveRamDisk;
    default:
        return 0;
    }
}

wxBitmap DriveBitmap(std::size_t index, int size)
{
    wxBitmap bitmap = wxArtProvider::GetBitmap(kDriveArt[index], wxART_OTHER, wxSize(size, size));
    if (!bitmap.IsOk())
        bitmap = wxArtProvider::GetBitmap(kDriveFallback[index], wxART_OTHER, wxSize(size, size));
    if (!bitmap.IsOk() || bitmap.GetWidth() != size || bitmap.GetHeight() != size)
    {
        wxImage image = bitmap.IsOk() ? bitmap.ConvertToImage() : wxImage(size, size);
        bitmap = wxBitmap(image.Rescale(size, size, wxIMAGE_QUALITY_HIGH));
    }
    return bitmap;
}
} // namespace

CDriveList::CDriveList(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                       long style)
    : wxListCtrl(parent, id, pos, size, style)
{
    m_smallImages.Create(kSmallIcon, kSmallIcon, true, 5);
    m_largeImages.Create(kLargeIcon, kLargeIcon, true, 5);
    for (std::size_t i = 0; i < std::size(kDriveArt); ++i)
    {
        m_smallImages.Add(DriveBitmap(i, kSmallIcon));
        m_largeImages.Add(DriveBitmap(i, kLargeIcon));
    }
}

int CDriveList::IconIndex(DriveType type)
{
    switch (type)
    {
    case DriveType::Removable:
        return 1;
    case DriveType::CdRom:
        return 2;
    case DriveType::Remote:
        return 3;
    case DriveType::RamDisk:
        return 4;
    default:
        return 0;
    }
}

bool CDriveList::Accepts(const DriveSource& source, u32 driveTypeMask, u32 fsMask)
{
    if (source.drive.size() != 2 || source.drive[1] != ':')
        return false;
    const u32 typeBit = DriveTypeBit(source.driveType);
    if (typeBit == 0)
        return false;
    if (!source.fromCommandLine && (driveTypeMask & typeBit) == 0)
        return false;
    const u32 detected = CCatalog::DetectFileSystem(source.drive);
    const u32 fsBit = detected == 0              ? kFsBitFat
                      : detected == kFsNtfs      ? kFsBitNtfs
                      : detected == kFsExfat     ? kFsBitExfat
                      : detected == kDetectedRaw ? kFsBitRaw
                                                 : 0;
    return (fsMask & fsBit) != 0;
}

u32 CDriveList::FillDrives(u32 driveTypeMask, u32 fsMask, bool largeIcons, u32 alignStyle,
                           u32 viewStyle)
{
    DeleteAllItems();
    SetAlignStyle(alignStyle);
    SetShellImageList(largeIcons);
    SetViewStyle(viewStyle);
    long index = 0;
    for (const DriveSource& source : g_DriveTable.All())
    {
        if (!Accepts(source, driveTypeMask, fsMask))
            continue;
        const wxString text = wxString::FromUTF8(ShellDisplayName(source));
        long at = InsertItem(index, text, IconIndex(source.driveType));
        if (at < 0)
            continue;
        SetItemData(at, static_cast<long>(static_cast<unsigned char>(source.drive[0])));
        ++index;
    }
    return 0;
}

std::string CDriveList::GetSelectedDrives() const
{
    std::string drives;
    for (long item = GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); item != -1;
         item = GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
    {
        drives += static_cast<char>(GetItemData(item));
        drives += ':';
    }
    return drives;
}

void CDriveList::SetViewStyle(u32 style)
{
    long view = wxLC_ICON;
    switch (style & 0x0003)
    {
    case kViewReport:
        view = wxLC_REPORT;
        break;
    case kViewSmallIcon:
        view = wxLC_SMALL_ICON;
        break;
    case kViewList:
        view = wxLC_LIST;
        break;
    default:
        break;
    }
    ModifyListStyle(view, wxLC_MASK_TYPE & ~view);
}

void CDriveList::SetAlignStyle(u32 style)
{
    const long align = (style & 0x0C00) == kAlignLeft ? wxLC_ALIGN_LEFT : wxLC_ALIGN_TOP;
    ModifyListStyle(align, wxLC_MASK_ALIGN & ~align);
}

void CDriveList::ModifyListStyle(long add, long remove)
{
    const long old = GetWindowStyleFlag();
    const long style = (old & ~remove) | add;
    if (style != old)
        SetWindowStyleFlag(style);
}

void CDriveList::SetShellImageList(bool largeIcons)
{
    if (largeIcons)
        SetImageList(&m_largeImages, wxIMAGE_LIST_NORMAL);
    else
        SetImageList(&m_smallImages, wxIMAGE_LIST_SMALL);
}

void CDriveList::ShowVirtualRows(const IListRows* rows, long count)
{
    if (rows == nullptr)
    {
        if (HasFlag(wxLC_VIRTUAL))
        {
            // The rows go while the list is still virtual: its stand-in row is its own.
            DeleteAllItems();
            m_rows = nullptr;
            ModifyListStyle(0, wxLC_VIRTUAL);
        }
        return;
    }
    if (!HasFlag(wxLC_VIRTUAL))
    {
        DeleteAllItems();
        ModifyListStyle(wxLC_VIRTUAL, 0);
    }
    m_rows = rows;
    // A new listing starts unselected, at its top.
    DeleteAllItems();
    SetItemCount(count);
    Refresh();
}

wxString CDriveList::OnGetItemText(long item, long column) const
{
    return m_rows != nullptr ? m_rows->RowText(item, column) : wxString();
}

int CDriveList::OnGetItemImage(long item) const
{
    return m_rows != nullptr ? m_rows->RowImage(item) : -1;
}

wxItemAttr* CDriveList::OnGetItemAttr(long item) const
{
    return m_rows != nullptr ? m_rows->RowAttr(item) : nullptr;
}
