// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the current project (found files, the medium's location, the project file and
// whether it changed), the list of found files, and every command in the menu and the toolbar.
#pragma once

#include "ui/logic/kxDesktop.h"
#include "media/kxDisks.h"
#include "found/kxFileList.h"
#include "ui/WorkerRunner.h"

#include <QKeySequence>
#include <QLineEdit>
#include <QList>
#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>

class QAction;
class QGroupBox;
class QHeaderView;
class QLabel;
class QMenu;
class QProgressDialog;
class QStandardItemModel;
class QToolButton;

namespace kx {
enum class TkxExtractMode : std::uint8_t;
enum class TkxListCommand : std::uint8_t;
struct TkxCheckResult;
struct TkxExtractResult;
}

namespace kx::ui {

class TFileListBox;
struct TFilesJob;
class TFileListDelegate;
class TFileListModel;
class TUserInteraction;
struct TFileChoice;
class TfrmCreateImage;
class TfrmFind;
class TfrmRecognize;
class TfrmRescue;
class TfrmSelectDrive;

// The location field. It leaves the menu's key sequences to the menu, which a line edit would
// otherwise take for itself (Ctrl+E moves to the end of the line, Ctrl+A selects all).
class TLocationEdit : public QLineEdit {
  Q_OBJECT

 public:
  using QLineEdit::QLineEdit;
  QList<QKeySequence> MenuShortcuts;

 protected:
  bool event(QEvent* Event) override;
};

class TfrmMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TfrmMain(TUserInteraction& Ui_, QWidget* Parent = nullptr);
  ~TfrmMain() override;

  // The project.
  TkxFileList FileList;
  std::string ProjectFileName;  // full path; empty for an untitled project
  bool Modified = false;
  // Where the list's files were found: the location when the scan was accepted or the project
  // opened or saved; empty when not known. A check, an extraction or a save with another
  // location in the field is asked about first.
  std::string ListLocation;
  // The location the project was last started, opened or saved with, and whether its list
  // changed since: the project is modified while either differs, so that a location typed and
  // erased again leaves it as it was.
  std::string SavedLocation;
  bool ListModified = false;
  // The order of the list: by extension after a scan or an open, else by the header last
  // clicked. A check that changed the list sorts it so again.
  TkxSortKey ListOrder = TkxSortKey::skExtension;

  void UpdateCaption();
  void RefreshList();
  void UpdateStatus();
  // The medium the location field names, or nullptr when it cannot be opened; Why, when given,
  // then says why (its Message: the mount message, or that a drive's disc cannot be read).
  std::unique_ptr<TkxDisk> OpenDisk(TkxOpenFailure* Why = nullptr) const;
  // The medium at Location for a job on it: where it does not open, the message says the path
  // and why.
  std::unique_ptr<TkxDisk> OpenDiskOrSay(const std::string& Location);
  // How OpenDisk opens a location; tests put media of their own here.
  std::function<std::unique_ptr<TkxDisk>(const std::string& Location, TkxOpenFailure* Why)> DiskOpener;
  // The location field's text in the locale's encoding, as the core takes paths.
  std::string LocationText() const;
  // The rows selected in the list, ascending.
  std::vector<std::int32_t> SelectedRows() const;

  // Components.
  QWidget* pToolbar;
  QToolButton* sbNew;
  QToolButton* sbOpen;
  QToolButton* sbSave;
  QToolButton* sbOpenImage;
  QToolButton* sbOpenDrive;
  QToolButton* sbRecognize;
  QToolButton* sbExtract;
  QToolButton* sbContents;
  QToolButton* sbDonate;
  QGroupBox* GroupBox1;
  QHeaderView* hc;
  TFileListBox* lb;
  QWidget* pDiskLocation;
  QLabel* Label1;
  TLocationEdit* eDiskLocation;
  QLabel* pStatusBar;

  QMenu* miProject;
  QAction* miNew;
  QAction* miOpen;
  QAction* miSave;
  QAction* miSaveAs;
  QAction* miExit;
  QMenu* miImage;
  QAction* miOpenImage;
  QAction* miOpenDrive;
  QAction* miCreateImage;
  QAction* miRescue;
  QAction* miRecognize;
  QAction* miExtract;
  QAction* miExtractGrouped;
  QAction* miCheckFiles;
  QAction* miFind;
  QAction* miFindNext;
  QAction* miFindPrevious;
  QMenu* miHelp;
  QAction* miContents;
  QAction* Homepage1;
  QAction* miContact;
  QAction* miDonate;
  QAction* miAbout;

  // The dialogs that live as long as the window.
  std::unique_ptr<TfrmSelectDrive> frmSelectDrive;
  std::unique_ptr<TfrmRecognize> frmRecognize;
  std::unique_ptr<TfrmCreateImage> frmCreateImage;
  std::unique_ptr<TfrmRescue> frmRescue;

  // Project commands. Each returns whether the caller may go on.
  bool NewProject();
  bool OpenProject();
  // Opens the project FileName (a full path) without asking, as the program does at start with
  // a project named on its command line (a double click on a .kx file). A file that is not a
  // whole project is reported with its line and why, and the open project stays as it was; true
  // when it was read.
  bool OpenProjectFile(const std::string& FileName);
  bool SaveProject(bool AskName);
  bool QuerySaveProject();
  // Reads FileName into the list and the location field, all or nothing; throws EkxProjectError.
  void LoadProject(const std::string& FileName);
  // Writes the project with Location to FileName; throws EkxProjectError and leaves a previous
  // file whole.
  void SaveProjectToFile(const std::string& FileName, const std::string& Location);

  // Starts the extraction of the selected rows on a worker and returns; a progress window
  // appears once it has run for a second. Until it ends, the window takes no input but through
  // that progress window.
  void Extract(TkxExtractMode Mode);
  bool Extracting() const { return Extraction != nullptr; }
  // The progress window of a running extraction (hidden during its first second), or nullptr.
  QProgressDialog* ExtractProgressWindow() const;
  std::unique_ptr<TfrmFind> frmFind;

  // Whether a check of the list's files against the medium runs (Check found files) on a worker:
  // until it ends and updates the list, the window takes no input but through its progress window.
  bool Checking() const { return CheckRun != nullptr; }
  // The progress window of a running check (hidden during its first second), or nullptr.
  QProgressDialog* CheckProgressWindow() const;

  // Handlers.
  void eDiskLocationChange();
  void miOpenImageClick();
  void miOpenDriveClick();
  void miImageClick();
  void miExitClick();
  void miRecognizeClick();
  void miNewClick();
  void miOpenClick();
  void miSaveClick();
  void miSaveAsClick();
  void miExtractClick();
  void miExtractGroupedClick();
  void miCheckFilesClick();
  void miCreateImageClick();
  // Rescues a damaged disc into an image and, when the person asks, scans that image.
  void miRescueClick();
  void miFindClick();
  void miFindNextClick();
  void miFindPreviousClick();
  void hcSectionClick(int Section);
  void hcSectionResize();
  void lbClick();
  void lbDblClick();
  void Homepage1Click();
  void miContactClick();
  void miDonateClick();
  void miContentsClick();
  void miAboutClick();

  TFileListModel& ListModel() const { return *Model; }

 signals:
  // An extraction has ended and said so (a message or the beep).
  void ExtractionEnded();
  // A check has ended and said so (a message, or the beep of a cancelled one).
  void CheckEnded();

 protected:
  void closeEvent(QCloseEvent* Event) override;

 private:
  void BuildForm();
  void BuildMenu();
  void BuildToolbar();
  void BuildList();
  void BuildLocation();
  // The first placement of the window, inside the free area of its screen.
  void PlaceFirst();
  // A file choice (Save: of a file to write), beginning where the last choice was made.
  QString ChooseFile(TFileChoice Choice, bool Save);
  // A page of the program's own, in the desktop's browser or else in a window of the program's.
  void OpenPage(const QUrl& Page);
  // The medium Command uses: asks first where the field names another than the list's files
  // were found on. False when the person cancelled.
  bool ChooseListMedium(TkxListCommand Command, std::string& Medium);
  // The project as it is now was saved (or opened, or started) with Location.
  void MarkSaved(const std::string& Location);
  void EndExtraction(const TkxExtractResult& Result);
  void EndCheck(const TkxCheckResult& Result);

  TUserInteraction& Ui;
  TkxRememberedFolder ChoiceFolder;
  QStandardItemModel* HeaderModel;
  TFileListModel* Model;
  TFileListDelegate* Delegate;
  std::unique_ptr<TFilesJob> Extraction;
  std::unique_ptr<TFilesJob> CheckRun;
  // Declared last, so that it is gone, every worker ended, before the rest of the window.
  TWorkerRunner Runner;
};

// The pages the Help menu opens.
QUrl HelpPageUrl();
QUrl ReadmePageUrl();
QUrl WebSiteUrl(const QString& Page = {});

}  // namespace kx::ui
