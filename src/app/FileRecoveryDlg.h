// The main dialog: the drive and result list, the message line, the progress bar and the three
// buttons, rendering the wizard and the result view and receiving the workers' notices.
#pragma once

#include <wx/dialog.h>
#include <wx/imaglist.h>

#include <functional>
#include <string>
#include <vector>

#include "app/DriveList.h"
#include "app/MimeFileTypes.h"
#include "app/Wizard.h"
#include "app/WxEventSink.h"
#include "catalog/Catalog.h"
#include "catalog/ResultList.h"
#include "catalog/ResultView.h"

class CPreviewDlg;
class wxButton;
class wxCheckBox;
class wxChoice;
class wxTextCtrl;
class wxGauge;
class wxStaticText;
class wxListEvent;

// Control ids of the main dialog.
inline constexpr int kIdDriveList = 1000;
inline constexpr int kIdProgress = 1001;
inline constexpr int kIdWizardButton = 1002;
inline constexpr int kIdReset = 1003;
inline constexpr int kIdAbout = 1004;
inline constexpr int kIdMessage = 1005;
inline constexpr int kIdAboutCommand = 0x0010;
inline constexpr int kIdPreviewCommand = 0x0011;
inline constexpr int kIdSearch = 1006;
inline constexpr int kIdTypeChoice = 1007;
inline constexpr int kIdRecoverableOnly = 1008;
inline constexpr int kIdDeepSearchChoice = 1009;
inline constexpr int kIdDeepSearchOffer = 1010;

class CFileRecoveryDlg : public wxDialog, private IWizardHost, private IListRows
{
public:
    using ShowBoxFn = std::function<void(const std::string& text, const std::string& caption)>;
    using ChooseFolderFn = std::function<bool(std::string* folder)>;

    // driveNotice, when not empty, is shown on the message line with every drive choice (why
    // the list may lack the machine's disks).
    explicit CFileRecoveryDlg(wxWindow* parent = nullptr, std::string driveNotice = {});
    ~CFileRecoveryDlg() override;

    // Replace the modal message boxes and the folder browser (the dialog test drives the
    // dialog without a user).
    void SetShowBox(ShowBoxFn show) { m_showBox = std::move(show); }
    void SetChooseFolder(ChooseFolderFn choose) { m_chooseFolder = std::move(choose); }

    // The controls and the state behind them, for the dialog test.
    CDriveList* DriveList() const { return m_driveList; }
    CWizard& Wizard() { return m_wizard; }
    CCatalog& Catalog() { return m_catalog; }
    const std::vector<ResultRow>& Rows() const { return m_rows; }
    wxButton* WizardButton() const { return m_button1; }
    wxButton* ResetButton() const { return m_reset; }
    wxStaticText* MessageLine() const { return m_message; }
    wxGauge* Progress() const { return m_progress; }
    // The drive page's deep search check box and the message area's offer of a deep search.
    wxCheckBox* DeepSearchChoice() const { return m_deepChoice; }
    // The sources named on the command line: with the deep search chosen, their lost volumes
    // (and the whole disks') join the drive list.
    void SetSources(std::vector<std::string> sources) { m_sources = std::move(sources); }
    wxButton* DeepSearchOffer() const { return m_deepOffer; }

    // The filter bar and the rows behind the list.
    wxTextCtrl* SearchField() const { return m_search; }
    wxChoice* TypeChoice() const { return m_typeChoice; }
    wxCheckBox* RecoverableOnly() const { return m_recoverable; }
    const ResultList& Listing() const { return m_list; }
    CPreviewDlg* Preview() const { return m_preview; }

    // The About box, modal.
    void ShowAbout();

    // What the filter bar's controls say, applied to the list (results only).
    void ApplyFilter();
    // Sorts by a column, as a click on its header does (again: reversed).
    void SortByColumn(int column);
    // Selects every row shown.
    void SelectAllShown();
    // Opens the preview of the first selected file; null when there is none to show.
    CPreviewDlg* PreviewSelected();
    // The dialog's keys: Ctrl+F (the search field), Ctrl+A (every row shown), space (preview).
    // True when the key was taken.
    bool HandleKey(int keyCode, int modifiers);

private:
    // IWizardHost
    void ShowDriveChoice() override;
    std::string SelectedDrives() override;
    void ShowResultColumns() override;
    bool DeepSearchChosen() override;
    u32 StartSearch(const std::string& selection, bool deep) override;
    void ShowDeepSearchOffer(bool show) override;
    void StopWorkers() override;
    void ShowCurrentFolder() override;
    std::vector<SelectedRow> SelectedRows() override;
    void Navigate(const std::string& name) override;
    bool ChooseFolder(std::string* folder) override;
    u32 StartRecovery(const std::string& destination) override;
    void ShowMessageBox(const std::string& text) override;
    void SetButtonText(const std::string& text) override;
    void EnableButton(bool enable) override;
    void EnableReset(bool enable) override;
    void SetProgressRange(u32 upper) override;
    void SetProgress(u32 position) override;
    void SetMessage(const std::string& text) override;

    // With the deep search just chosen: the lost volumes of the sources and whole disks join
    // the drive list (looked for once).
    void OfferLostVolumes();
    void OnButton1(wxCommandEvent& event);
    void OnReset(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnItemActivated(wxListEvent& event);
    void OnWorker(wxThreadEvent& event);
    void OnContextMenu(wxContextMenuEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnColumnClick(wxListEvent& event);
    void OnHeaderMotion(wxMouseEvent& event);

    // IListRows
    wxString RowText(long row, long column) const override;
    int RowImage(long row) const override;
    wxItemAttr* RowAttr(long row) const override;

    // Makes the filter bar and the condition colours (FileRecoveryDlgFind.cpp).
    void CreateFilterBar();
    // Sets the list's filter from the bar's controls.
    void TakeFilterBar();
    // Shows the filter bar above the list (results) or hides it (the drive choice).
    void ShowFilterBar(bool show);
    // Fits the columns to what they show.
    void FitColumns();
    // The message line: the wizard's last text, or the filter's count while one is set.
    void ShowMessageLine();

    // Stops the workers and the notices for good; the dialog is going away.
    void Shutdown();
    // Shows m_rows in the list, growing the type icons to the catalogue's types first.
    void RenderRows();

    // The sink outlives the catalogue: the catalogue's destruction joins the workers, which
    // may post until they end.
    CWxEventSink m_sink;
    CDlgMessageBox m_engineBox;
    CWizard m_wizard;
    CDriveList* m_driveList = nullptr;
    CCatalog m_catalog;
    CMimeFileTypes m_fileTypes;
    wxImageList m_typeImages;
    std::vector<ResultRow> m_rows;
    ResultList m_list;
    wxTextCtrl* m_search = nullptr;
    wxChoice* m_typeChoice = nullptr;
    wxCheckBox* m_recoverable = nullptr;
    wxStaticText* m_searchLabel = nullptr;
    mutable wxItemAttr m_conditionAttrs[6]; // text colour per FindCondition
    std::string m_wizardMessage;            // the wizard's last text on the message line
    CPreviewDlg* m_preview = nullptr;       // the preview shown; destroyed with the dialog
    wxButton* m_button1 = nullptr;
    wxButton* m_reset = nullptr;
    wxButton* m_about = nullptr;
    wxStaticText* m_message = nullptr;
    wxGauge* m_progress = nullptr;
    wxCheckBox* m_deepChoice = nullptr;
    std::vector<std::string> m_sources; // see SetSources
    bool m_lostVolumesAdded = false;    // the lost volumes were looked for once
    wxButton* m_deepOffer = nullptr;
    ShowBoxFn m_showBox;
    ChooseFolderFn m_chooseFolder;
    std::string m_driveNotice;
    bool m_closing = false;
};
