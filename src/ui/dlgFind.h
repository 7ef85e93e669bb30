// SPDX-License-Identifier: GPL-3.0-or-later
// The find window: a small tool window beside the main window's list that moves the list's
// selection to the next or previous found file matching a fragment of its name and a size range.
#pragma once

#include "project/kxFind.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;

namespace kx::ui {

class TAdjustLabel;
class TNumberEdit;
class TUserInteraction;

class TfrmFind : public QDialog {
  Q_OBJECT

 public:
  // List shows FileList, entry i in row i; both belong to the main window and outlive this one.
  TfrmFind(TUserInteraction& Ui_, QListView& List_, const TkxFileList& FileList_, QWidget* Parent = nullptr);

  // Shows the window without making it modal, in front and active.
  void ShowFind();

  // The search criteria as the controls hold them at this moment.
  TkxFindCriteria Criteria() const;

  QLabel* Label1;
  QLineEdit* eName;
  QCheckBox* cbCase;
  TAdjustLabel* alMinSize;
  TNumberEdit* neMinSize;
  TAdjustLabel* alMaxSize;
  TNumberEdit* neMaxSize;
  QPushButton* bNext;
  QPushButton* bPrev;
  QPushButton* bClose;

  // Both search buttons: bNext searches forward, any other sender backward.
  void bFindClick(QObject* Sender);
  void bCloseClick();

 private:
  TUserInteraction& Ui;
  QListView& List;
  const TkxFileList& FileList;
};

}  // namespace kx::ui
