// SPDX-License-Identifier: GPL-3.0-or-later
// A person in a test's place: answers every question, choice and modal dialog as the test
// scripted it, and records what the windows showed, so that no widget test ever blocks.
#pragma once

#include "ui/UserInteraction.h"

#include <QDialog>
#include <QUrl>

#include <functional>
#include <vector>

namespace kx::test {

class TFakeUi final : public ui::TUserInteraction {
 public:
  std::vector<QString> Messages;
  std::vector<QString> Questions;
  std::vector<ui::TAnswer> Defaults;  // the default answer of each question, in order
  std::vector<ui::TBeep> Beeps;
  std::vector<QUrl> OpenedUrls;
  std::vector<ui::TFileChoice> FileChoices;
  std::vector<QString> FolderCaptions;
  std::vector<QString> FolderStarts;

  bool YesNoAnswer = true;
  ui::TAnswer YesNoCancelAnswer = ui::TAnswer::Cancel;
  QString FileAnswer;
  QString FolderAnswer;
  // Runs in place of a modal dialog's own loop; its result is the dialog's. The default
  // cancels at once.
  std::function<int(QDialog&)> OnModal = [](QDialog&) { return int(QDialog::Rejected); };
  int ModalRuns = 0;

  // Runs while a message is "shown", as whatever a real message box does to the windows meanwhile.
  std::function<void()> OnMessage;
  std::vector<QUrl> ShownPages;
  bool OpenUrlAnswer = true;

  void ShowMessage(QWidget*, const QString& Text, const QString& = {}) override
  {
    Messages.push_back(Text);
    if (OnMessage) OnMessage();
  }
  bool AskYesNo(QWidget*, const QString&, const QString& Text, ui::TAnswer Default) override
  {
    Questions.push_back(Text);
    Defaults.push_back(Default);
    return YesNoAnswer;
  }
  ui::TAnswer AskYesNoCancel(QWidget*, const QString&, const QString& Text, ui::TAnswer Default) override
  {
    Questions.push_back(Text);
    Defaults.push_back(Default);
    return YesNoCancelAnswer;
  }
  QString ChooseOpenFile(QWidget*, const ui::TFileChoice& Choice) override
  {
    FileChoices.push_back(Choice);
    return FileAnswer;
  }
  QString ChooseSaveFile(QWidget*, const ui::TFileChoice& Choice) override
  {
    FileChoices.push_back(Choice);
    return FileAnswer;
  }
  QString ChooseFolder(QWidget*, const QString& Caption, const QString& StartFolder) override
  {
    FolderCaptions.push_back(Caption);
    FolderStarts.push_back(StartFolder);
    return FolderAnswer;
  }
  int RunModal(QDialog& Dialog) override
  {
    ++ModalRuns;
    // Shown, as a modal dialog is, so that whatever depends on being visible works.
    Dialog.show();
    const int result = OnModal(Dialog);
    Dialog.hide();
    Dialog.setResult(result);
    return result;
  }
  void Beep(ui::TBeep Kind) override { Beeps.push_back(Kind); }
  bool OpenUrl(const QUrl& Url) override
  {
    OpenedUrls.push_back(Url);
    return OpenUrlAnswer;
  }
  void ShowPage(QWidget*, const QUrl& Page) override { ShownPages.push_back(Page); }
};

}  // namespace kx::test
