// Everything the windows ask of the person in front of them or of the desktop: message boxes,
// file and folder choices, modal runs of dialogs, beeps and opening pages. Windows reach these
// only through TUserInteraction, so that tests answer in the person's place and never block.
#pragma once

#include <QMessageBox>
#include <QString>

#include <memory>

class QDialog;
class QUrl;
class QWidget;

namespace kx::ui {

enum class TBeep { Simple, Exclamation };
enum class TAnswer { Yes, No, Cancel };

struct TFileChoice {
  QString Caption;
  QString Filter;        // "Project files (*.kx)"
  QString FileName;      // preset; empty for none
  QString DefaultSuffix; // without the dot; empty for none
  bool ConfirmOverwrite = true;
};

class TUserInteraction {
 public:
  virtual ~TUserInteraction() = default;

  // A plain message box with an OK button; Caption empty means the application's title.
  virtual void ShowMessage(QWidget* Parent, const QString& Text, const QString& Caption = {});
  virtual bool AskYesNo(QWidget* Parent, const QString& Caption, const QString& Text);
  virtual TAnswer AskYesNoCancel(QWidget* Parent, const QString& Caption, const QString& Text);

  // Empty on cancel.
  virtual QString ChooseOpenFile(QWidget* Parent, const TFileChoice& Choice);
  virtual QString ChooseSaveFile(QWidget* Parent, const TFileChoice& Choice);
  virtual QString ChooseFolder(QWidget* Parent, const QString& Caption);

  // Shows Dialog modally and returns its result (QDialog::Accepted or Rejected).
  virtual int RunModal(QDialog& Dialog);

  virtual void Beep(TBeep Kind);
  virtual void OpenUrl(const QUrl& Url);
};

// The message box of ShowMessage, AskYesNo and AskYesNoCancel, not yet shown: plain text always.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* Parent, const QString& Caption, const QString& Text,
                                            QMessageBox::StandardButtons Buttons);

// The application title, used as the caption of questions and messages.
QString ApplicationTitle();

}  // namespace kx::ui
