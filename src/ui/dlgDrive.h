// SPDX-License-Identifier: GPL-3.0-or-later
// The drive choice: a small modal dialog that lists the optical drives and returns the letter of
// the one the person picks.
#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

namespace kx::ui {

class TUserInteraction;

class TfrmSelectDrive : public QDialog {
  Q_OBJECT

 public:
  // The lines of the drives, in letter order ("D: (DATA)", "E:").
  using TDriveLister = std::function<std::vector<std::string>()>;

  explicit TfrmSelectDrive(TUserInteraction& Ui_, QWidget* Parent = nullptr);

  // Fills the list, shows the dialog and, when the person confirmed it with a line selected,
  // sets Drive to that line's upper-case letter and returns true; otherwise leaves Drive as it is.
  bool SelectDrive(char& Drive);

  TDriveLister DriveLister;

  QLabel* Label1;
  QComboBox* cb;
  QPushButton* bOK;
  QPushButton* bCancel;

 private:
  TUserInteraction& Ui;
};

}  // namespace kx::ui
