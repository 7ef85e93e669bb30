// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Main.h"

#include "common/kxShared.h"
#include "ui/dlgCreateImage.h"
#include "ui/dlgDrive.h"
#include "ui/dlgRescue.h"
#include "media/kxImageCopy.h"
#include "ui/dlgFind.h"
#include "project/kxExtract.h"
#include "project/kxProject.h"
#include "recognition/kxCheck.h"
#include "ui/logic/kxWindowTexts.h"
#include "ui/Controls.h"
#include "ui/FileListView.h"
#include "ui/JobProgress.h"
#include "ui/UserInteraction.h"
#include "ui/dlgRecognize.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QUrl>


namespace kx::ui {

namespace {

QString ProjectFilter() { return QStringLiteral("Tessarin projects (*.kx)"); }

}  // namespace

TfrmMain::TfrmMain(TUserInteraction& Ui_, QWidget* Parent)
    : QMainWindow(Parent),
      DiskOpener([](const std::string& Location, TkxOpenFailure* Why) { return kx::OpenDisk(Location, Why); }),
      Ui(Ui_)
{
  BuildForm();
  // Every text field of the program's windows, the dialogs' included.
  QCoreApplication::instance()->installEventFilter(new TAltTypingFilter(this));
  frmSelectDrive = std::make_unique<TfrmSelectDrive>(Ui);
  frmRecognize = std::make_unique<TfrmRecognize>(Ui);
  frmCreateImage = std::make_unique<TfrmCreateImage>(Ui);
  frmRescue = std::make_unique<TfrmRescue>(Ui);
  // A tool window of the main window: it stays with it, does not keep the program running, and
  // the menu's keys (F3 above all) work in it too.
  frmFind = std::make_unique<TfrmFind>(Ui, *lb, FileList, this);

  // FormCreate: an empty untitled project.
  ProjectFileName.clear();
  Modified = false;
  UpdateCaption();
  RefreshList();
}

TfrmMain::~TfrmMain() = default;

QUrl HelpPageUrl() { return QUrl::fromLocalFile(QString::fromLocal8Bit(ProgramFolder() + "help.html")); }
QUrl ReadmePageUrl() { return QUrl::fromLocalFile(QString::fromLocal8Bit(ProgramFolder() + "readme.html")); }
QUrl WebSiteUrl(const QString& Page) { return QUrl(QStringLiteral("https://www.veltrane.example/") + Page); }

void TfrmMain::UpdateCaption()
{
  setWindowTitle(QString::fromLocal8Bit(MainWindowCaption(ProjectFileName, Modified)));
}

void TfrmMain::RefreshList()
{
  Model->Reset();
  lb->viewport()->update();
  UpdateStatus();
}

std::vector<std::int32_t> TfrmMain::SelectedRows() const
{
  std::vector<std::int32_t> rows;
  for (const TkxRowRange& range : lb->SelectedRuns())
    for (std::int32_t row = range.First; row <= range.Last; ++row) rows.push_back(row);
  return rows;
}

void TfrmMain::UpdateStatus()
{
  const TkxSelectionSummary summary = SummarizeSelection(FileList, lb->SelectedRuns());
  const int focused = lb->currentIndex().isValid() ? lb->currentIndex().row() : -1;
  const QList<uint> separator = locale().groupSeparator().toUcs4();
  pStatusBar->setText(QString::fromStdString(
      StatusLineText(summary.Rows, FileList.Count, summary.Bytes, separator.isEmpty() ? 0 : separator.front()) +
      FocusedStateText(FileList, focused)));
}

std::string TfrmMain::LocationText() const { return eDiskLocation->text().toLocal8Bit().toStdString(); }

std::unique_ptr<TkxDisk> TfrmMain::OpenDisk(TkxOpenFailure* Why) const
{
  if (Why) *Why = {std::string(MountErrorMessage), LocationText(), {}};
  return DiskOpener(LocationText(), Why);
}

std::unique_ptr<TkxDisk> TfrmMain::OpenDiskOrSay(const std::string& Location)
{
  TkxOpenFailure why{std::string(MountErrorMessage), Location, {}};
  std::unique_ptr<TkxDisk> disk = DiskOpener(Location, &why);
  if (!disk) Ui.ShowMessage(this, QString::fromLocal8Bit(OpenFailureText(why)));
  return disk;
}

void TfrmMain::eDiskLocationChange()
{
  Modified = ListModified || LocationText() != SavedLocation;
  UpdateCaption();
}

bool TfrmMain::ChooseListMedium(TkxListCommand Command, std::string& Medium)
{
  const TkxMediumChoice choice = ChooseMedium(Command, ListLocation, LocationText(), FileList.Count);
  bool keepFound = false;
  if (!choice.Question.empty()) {
    const TAnswer answer =
        Ui.AskYesNoCancel(this, ApplicationTitle(), QString::fromLocal8Bit(choice.Question), TAnswer::Yes);
    if (answer == TAnswer::Cancel) return false;
    keepFound = answer == TAnswer::Yes;
  }
  Medium = choice.Medium(keepFound);
  return true;
}

void TfrmMain::MarkSaved(const std::string& Location)
{
  ListLocation = Location;
  SavedLocation = Location;
  ListModified = false;
  // The field shows what the project holds; setting it finds nothing modified.
  if (Location != LocationText()) eDiskLocation->setText(QString::fromLocal8Bit(Location));
  Modified = false;
  UpdateCaption();
}

QString TfrmMain::ChooseFile(TFileChoice Choice, bool Save)
{
  Choice.Folder = QString::fromLocal8Bit(ChoiceFolder.StartFolder());
  const QString chosen = Save ? Ui.ChooseSaveFile(this, Choice) : Ui.ChooseOpenFile(this, Choice);
  ChoiceFolder.Remember(chosen.toLocal8Bit().toStdString(), false);
  return chosen;
}

void TfrmMain::miOpenImageClick()
{
  TFileChoice choice;
  choice.Caption = QStringLiteral("Open image file");
  // The dialog separates the patterns of a filter by spaces.
  choice.Filter = QStringLiteral("All known CD/DVD images (*.bin *.iso *.ibq)");
  const QFileInfo current(eDiskLocation->text());
  if (!eDiskLocation->text().isEmpty() && current.isFile()) choice.FileName = current.absoluteFilePath();
  const QString chosen = ChooseFile(choice, false);
  if (!chosen.isEmpty()) eDiskLocation->setText(QFileInfo(chosen).absoluteFilePath());
}

void TfrmMain::miOpenDriveClick()
{
  char drive = 0;
  if (frmSelectDrive->SelectDrive(drive)) eDiskLocation->setText(QString(QChar::fromLatin1(drive)) + QLatin1Char(':'));
}

void TfrmMain::miImageClick()
{
  const bool any = lb->selectionModel()->hasSelection();
  miExtract->setEnabled(any);
  miExtractGrouped->setEnabled(any);
  miCheckFiles->setEnabled(FileList.Count > 0);
}

void TfrmMain::miExitClick() { close(); }

void TfrmMain::miRecognizeClick()
{
  std::unique_ptr<TkxDisk> disk = OpenDiskOrSay(LocationText());
  if (!disk) return;
  if (frmRecognize->Recognize(std::move(disk), FileList)) {
    ListLocation = LocationText();
    ListOrder = TkxSortKey::skExtension;
    ListModified = true;
    Modified = true;
    RefreshList();
    UpdateCaption();
  }
}

void TfrmMain::miFindClick() { frmFind->ShowFind(); }
// The window's criteria hold whether it was ever shown or not.
void TfrmMain::miFindNextClick() { frmFind->bNext->click(); }
void TfrmMain::miFindPreviousClick() { frmFind->bPrev->click(); }

void TfrmMain::hcSectionClick(int Section)
{
  if (Section < 0 || Section >= TFileListModel::Columns) return;
  const std::vector<TkxRowRange> selected = lb->SelectedRuns();
  const int current = lb->currentIndex().isValid() ? lb->currentIndex().row() : -1;
  std::vector<std::int32_t> order;
  {
    const TWaitCursor wait;
    Model->SortBy(Section, &order);
  }
  ListOrder = static_cast<TkxSortKey>(Section);
  // The selected entries stay selected where the sort put them, the current one in view.
  lb->SelectRuns(RowsAfterSort(order, selected, current));
  UpdateStatus();
}

void TfrmMain::hcSectionResize() { lb->viewport()->update(); }

void TfrmMain::lbClick() { UpdateStatus(); }

void TfrmMain::lbDblClick() { Extract(TkxExtractMode::Plain); }

void TfrmMain::closeEvent(QCloseEvent* Event)
{
  // FormCloseQuery: unsaved changes may keep the window open; so does a running extraction or
  // check.
  if (Extracting() || Checking() || !QuerySaveProject()) {
    Event->ignore();
    return;
  }
  Event->accept();
}

// ---- projects ----------------------------------------------------------------------------

bool TfrmMain::QuerySaveProject()
{
  if (!Modified) return true;
  const QString text = QString::fromLocal8Bit(SaveChangesQuestion(ProjectFileName));
  switch (Ui.AskYesNoCancel(this, ApplicationTitle(), text, TAnswer::Yes)) {
    case TAnswer::Yes: return SaveProject(false);
    case TAnswer::No: return true;
    case TAnswer::Cancel: break;
  }
  return false;
}

bool TfrmMain::NewProject()
{
  if (!QuerySaveProject()) return false;
  FileList.Clear();
  ListOrder = TkxSortKey::skExtension;
  RefreshList();
  ProjectFileName.clear();
  MarkSaved({});
  return true;
}

void TfrmMain::LoadProject(const std::string& FileName)
{
  std::string location;
  TkxFileList list;
  kx::LoadProject(FileName, location, list);
  FileList = std::move(list);
  ListOrder = TkxSortKey::skExtension;
  if (location != LocationText()) eDiskLocation->setText(QString::fromLocal8Bit(location));
  // As the field holds it, which is what an extraction will read.
  ListLocation = LocationText();
}

void TfrmMain::SaveProjectToFile(const std::string& FileName, const std::string& Location)
{
  kx::SaveProjectToFile(FileName, Location, FileList);
}

bool TfrmMain::OpenProject()
{
  if (!QuerySaveProject()) return false;
  TFileChoice choice;
  choice.Caption = QStringLiteral("Open project");
  choice.Filter = ProjectFilter();
  const QString chosen = ChooseFile(choice, false);
  if (chosen.isEmpty()) return false;
  return OpenProjectFile(chosen.toLocal8Bit().toStdString());
}

bool TfrmMain::OpenProjectFile(const std::string& FileName)
{
  // A file that is not a whole project changes nothing: list, name, location and Modified stay.
  try {
    const TWaitCursor wait;
    LoadProject(FileName);
  } catch (const EkxProjectError& e) {
    Ui.ShowMessage(this, QString::fromLocal8Bit(ProjectFailureText(FileName, e)));
    return false;
  } catch (const std::bad_alloc&) {
    Ui.ShowMessage(this, QString::fromLocal8Bit(ProjectFailureText(FileName, EkxProjectError("Out of memory"))));
    return false;
  }
  ProjectFileName = FileName;
  RefreshList();
  MarkSaved(LocationText());
  return true;
}

bool TfrmMain::SaveProject(bool AskName)
{
  std::string location;
  if (!ChooseListMedium(TkxListCommand::Save, location)) return false;
  if (AskName || ProjectFileName.empty() || !QFileInfo::exists(QString::fromLocal8Bit(ProjectFileName))) {
    TFileChoice choice;
    choice.Caption = QStringLiteral("Save project");
    choice.Filter = ProjectFilter();
    choice.FileName = QString::fromLocal8Bit(ProjectFileName);
    choice.ConfirmOverwrite = true;
    const QString chosen = ChooseFile(choice, true);
    if (chosen.isEmpty()) return false;
    // The dialog asked about the name as typed; one that ".kx" turned into an existing file's
    // name is asked about here.
    const TkxTypedName name = TypedFileName(chosen.toLocal8Bit().toStdString(), ProjectExt);
    if (name.AskReplace &&
        !Ui.AskYesNo(this, ApplicationTitle(), QString::fromLocal8Bit(ReplaceQuestion(name.FileName)), TAnswer::No))
      return false;
    ProjectFileName = name.FileName;
  }
  try {
    const TWaitCursor wait;
    SaveProjectToFile(ProjectFileName, location);
  } catch (const EkxProjectError& e) {
    Ui.ShowMessage(this, QString::fromLocal8Bit(ProjectFailureText(ProjectFileName, e)));
    return false;
  }
  MarkSaved(location);
  return true;
}

void TfrmMain::miNewClick() { NewProject(); }
void TfrmMain::miOpenClick() { OpenProject(); }
void TfrmMain::miSaveClick() { SaveProject(false); }
void TfrmMain::miSaveAsClick() { SaveProject(true); }

// ---- extraction --------------------------------------------------------------------------

void TfrmMain::miExtractClick() { Extract(TkxExtractMode::Plain); }
void TfrmMain::miExtractGroupedClick() { Extract(TkxExtractMode::Grouped); }

void TfrmMain::Extract(TkxExtractMode Mode)
{
  if (Extracting()) return;
  const std::vector<std::int32_t> rows = SelectedRows();
  if (rows.empty()) {
    Ui.Beep(TBeep::Simple);
    return;
  }
  std::string medium;
  if (!ChooseListMedium(TkxListCommand::Extract, medium)) return;
  const QString chosen = Ui.ChooseFolder(this, QString::fromLatin1(ExtractFolderCaption.data(),
                                                                    static_cast<qsizetype>(ExtractFolderCaption.size())),
                                         QString::fromLocal8Bit(ChoiceFolder.StartFolder()));
  if (chosen.isEmpty()) return;
  ChoiceFolder.Remember(chosen.toLocal8Bit().toStdString(), true);
  const std::string folder = IncludeTrailingPathDelimiter(chosen.toLocal8Bit().toStdString());
  std::unique_ptr<TkxDisk> disk = OpenDiskOrSay(medium);
  if (!disk) {
    Ui.Beep(TBeep::Exclamation);
    return;
  }
  TkxFileList entries;
  for (const std::int32_t row : rows) {
    const TkxFileEntry& e = FileList.Items[static_cast<std::size_t>(row)];
    entries.Add(e.Name, e.Kind, e.Offset, e.Size, false);
  }
  // Its own copy of the chosen entries, in row order, so that nothing the window does meanwhile
  // reaches it, and the medium, let go when the extraction ends.
  using TExtractWorker = TFilesWorker<TkxExtractResult>;
  const std::int32_t total = entries.Count;
  const auto worker = std::make_shared<TExtractWorker>(
      [disk = std::shared_ptr<TkxDisk>(std::move(disk)), entries = std::move(entries), folder,
       Mode](TkxJobControl& Control, const TkxProgressSink<TkxFilesDone>& Progress) {
        std::vector<std::int32_t> every(static_cast<std::size_t>(entries.Count));
        for (std::int32_t i = 0; i < entries.Count; ++i) every[static_cast<std::size_t>(i)] = i;
        return ExtractEntries(*disk, entries, every, folder, Mode, Control, Progress);
      });
  worker->ShowFigures = [this](const TkxFilesDone& Files) { Extraction->Show(Files.Done); };
  Extraction = std::make_unique<TFilesJob>(*this, worker, total, "extracted");
  Runner.Add(worker, [this](TWorker& Ended) { EndExtraction(static_cast<const TExtractWorker&>(Ended).Result()); });
  Runner.Start(*worker);
}

QProgressDialog* TfrmMain::ExtractProgressWindow() const { return Extraction ? &Extraction->Progress.Dialog : nullptr; }

void TfrmMain::EndExtraction(const TkxExtractResult& Result)
{
  Extraction.reset();
  const std::string report = ExtractionReportText(Result);
  if (report.empty())
    Ui.Beep(TBeep::Exclamation);
  else
    Ui.ShowMessage(this, QString::fromLocal8Bit(report));
  emit ExtractionEnded();
}

// ---- image creation ----------------------------------------------------------------------

void TfrmMain::miCreateImageClick()
{
  char drive = 0;
  if (!frmSelectDrive->SelectDrive(drive)) return;
  TFileChoice choice;
  choice.Caption = QStringLiteral("Create image");
  choice.Filter = QStringLiteral("ISO disk image files (*.iso)");
  choice.ConfirmOverwrite = true;
  const QString chosen = ChooseFile(choice, true);
  if (chosen.isEmpty()) return;
  const TkxImageTarget target = ResolveImageTarget(chosen.toLocal8Bit().toStdString());
  if (!target.Error.empty()) {
    Ui.ShowMessage(this, QString::fromLocal8Bit(target.Error));
    return;
  }
  // The save dialog asked about the name as chosen; one the extension turned into an existing
  // file's name is asked about here.
  if (target.AskReplace &&
      !Ui.AskYesNo(this, ApplicationTitle(), QString::fromLocal8Bit(ReplaceQuestion(target.FileName)), TAnswer::No))
    return;
  frmCreateImage->CreateImage(drive, target.FileName);
}

void TfrmMain::miRescueClick()
{
  char drive = 0;
  if (!frmSelectDrive->SelectDrive(drive)) return;
  const std::string image = frmRescue->Rescue(drive);
  if (image.empty()) return;
  eDiskLocation->setText(QFileInfo(QString::fromLocal8Bit(image)).absoluteFilePath());
  miRecognizeClick();
}

void TfrmMain::Homepage1Click() { Ui.OpenUrl(WebSiteUrl()); }
void TfrmMain::miContactClick() { Ui.OpenUrl(WebSiteUrl(QStringLiteral("contact.php"))); }
void TfrmMain::miDonateClick() { Ui.OpenUrl(WebSiteUrl(QStringLiteral("redir.php?page=donate"))); }
void TfrmMain::miContentsClick() { OpenPage(HelpPageUrl()); }
void TfrmMain::miAboutClick() { OpenPage(ReadmePageUrl()); }

void TfrmMain::OpenPage(const QUrl& Page)
{
  if (!Ui.OpenUrl(Page)) Ui.ShowPage(this, Page);
}

}  // namespace kx::ui
