// SPDX-License-Identifier: GPL-3.0-or-later
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
  QString Folder;        // where the dialog opens when no FileName is preset; empty for its own choice
  QString DefaultSuffix; // without the dot; empty for none
  bool ConfirmOverwrite = true;
};

class TUserInteraction {
 public:
  virtual ~TUserInteraction() = default;

  // A plain message box with an OK button; Caption empty means the application's title. It and
  // the questions are centred on Parent, or on the window in front where Parent is not shown.
  virtual void ShowMessage(QWidget* Parent, const QString& Text, const QString& Caption = {});
  // Default is the answer Enter gives: the safe one, where a question guards work against loss.
  virtual bool AskYesNo(QWidget* Parent, const QString& Caption, const QString& Text, TAnswer Default);
  virtual TAnswer AskYesNoCancel(QWidget* Parent, const QString& Caption, const QString& Text, TAnswer Default);

  // Empty on cancel.
  virtual QString ChooseOpenFile(QWidget* Parent, const TFileChoice& Choice);
  virtual QString ChooseSaveFile(QWidget* Parent, const TFileChoice& Choice);
  // A choice of an existing folder, beginning in StartFolder where one is given.
  virtual QString ChooseFolder(QWidget* Parent, const QString& Caption, const QString& StartFolder = {});

  // Shows Dialog modally and returns its result (QDialog::Accepted or Rejected).
  virtual int RunModal(QDialog& Dialog);

  virtual void Beep(TBeep Kind);
  // Opens Url with the program the desktop has for it; false when none could be started.
  virtual bool OpenUrl(const QUrl& Url);
  // Shows a page of the program's own (a local HTML file) in a window of the program's own, for
  // a desktop that has no program to open it.
  virtual void ShowPage(QWidget* Parent, const QUrl& Page);
};

// The window a message of Parent is centred on: Parent's window where it is shown, else the one
// it belongs to or the window in front, so that no message opens in a corner of the screen.
QWidget* MessageAnchor(QWidget* Parent);

// The message box of ShowMessage, AskYesNo and AskYesNoCancel, not yet shown: plain text always,
// Default the button Enter presses (NoButton: the box's own choice).
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* Parent, const QString& Caption, const QString& Text,
                                            QMessageBox::StandardButtons Buttons,
                                            QMessageBox::StandardButton Default = QMessageBox::NoButton);

// The application title, used as the caption of questions and messages.
QString ApplicationTitle();

}  // namespace kx::ui
