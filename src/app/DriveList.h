// The dialog's list: the drive choice in icon view with large drive icons, then the search
// results in report view.
#pragma once

#include <wx/imaglist.h>
#include <wx/listctrl.h>

#include <string>

#include "platform/DriveTable.h"
#include "platform/Types.h"

// Drive-type bits of FillDrives.
inline constexpr u32 kDriveFixed = 0x01;
inline constexpr u32 kDriveCdRom = 0x02;
inline constexpr u32 kDriveRemovable = 0x04;
inline constexpr u32 kDriveRemote = 0x08;
inline constexpr u32 kDriveRamDisk = 0x10;

// File-system bits of FillDrives.
inline constexpr u32 kFsBitFat = 0x01;
inline constexpr u32 kFsBitNtfs = 0x02;
inline constexpr u32 kFsBitExfat = 0x04;
inline constexpr u32 kFsBitRaw = 0x08; // a source of no file system, carved by the deep search

// View styles (the list-view type bits) and alignments of SetViewStyle and SetAlignStyle.
inline constexpr u32 kViewIcon = 0x0000;
inline constexpr u32 kViewReport = 0x0001;
inline constexpr u32 kViewSmallIcon = 0x0002;
inline constexpr u32 kViewList = 0x0003;
inline constexpr u32 kAlignTop = 0x0000;
inline constexpr u32 kAlignLeft = 0x0800;

// What the list shows in virtual report view, row by row on demand.
class IListRows
{
public:
    virtual ~IListRows() = default;
    [[nodiscard]] virtual wxString RowText(long row, long column) const = 0;
    [[nodiscard]] virtual int RowImage(long row) const = 0;
    // The row's colours; null for the list's own.
    [[nodiscard]] virtual wxItemAttr* RowAttr(long row) const = 0;
};

class CDriveList : public wxListCtrl
{
public:
    CDriveList(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size, long style);

    // Lists the drives of the drive table that pass both masks (sources named on the command
    // line pass the drive-type mask whatever their type), with their display names and drive
    // icons, letter as item data. Returns 0.
    u32 FillDrives(u32 driveTypeMask, u32 fsMask, bool largeIcons, u32 alignStyle, u32 viewStyle);
    // A letter and a colon per selected drive, in list order; empty when none is selected.
    [[nodiscard]] std::string GetSelectedDrives() const;
    // Replaces the view type (kViewIcon, kViewReport, kViewSmallIcon, kViewList).
    void SetViewStyle(u32 style);
    // Replaces the alignment (kAlignTop, kAlignLeft).
    void SetAlignStyle(u32 style);
    // The window style without remove, with add (wx list-control style bits).
    void ModifyListStyle(long add, long remove);
    // Hands the drive icons to the control: as its normal icons when large, else its small.
    void SetShellImageList(bool largeIcons);

    // Virtual report view with count rows from rows (not owned), or, with null, the plain
    // list again (FillDrives inserts its items).
    void ShowVirtualRows(const IListRows* rows, long count);

    // True when a drive passes FillDrives's masks.
    [[nodiscard]] static bool Accepts(const DriveSource& source, u32 driveTypeMask, u32 fsMask);

protected:
    wxString OnGetItemText(long item, long column) const override;
    int OnGetItemImage(long item) const override;
    wxItemAttr* OnGetItemAttr(long item) const override;

private:
    // Index of the drive icon of type in both image lists.
    static int IconIndex(DriveType type);

    wxImageList m_smallImages;
    wxImageList m_largeImages;
    const IListRows* m_rows = nullptr;
};
