// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UserInteraction.h"

#include "ui/ShellEx.h"
#include "ui/PageViewer.h"
#include "ui/logic/kxWindowTexts.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace kx::ui {

QString ApplicationTitle()
{
  return QString::fromLatin1(kx::ApplicationTitle.data(), static_cast<qsizetype>(kx::ApplicationTitle.size()));
}

QWidget* MessageAnchor(QWidget* Parent)
{
  for (QWidget* w = Parent != nullptr ? Parent->window() : nullptr; w != nullptr;
       w = w->parentWidget() != nullptr ? w->parentWidget()->window() : nullptr)
    if (w->isVisible()) return w;
  return QApplication::activeWindow();
}

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* Parent, const QString& Caption, const QString& Text,
                                            QMessageBox::StandardButtons Buttons, QMessageBox::StandardButton Default)
{
  auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, Caption, Text, Buttons, MessageAnchor(Parent));
  // Names and paths in a message come from discs, projects and users: a file named
  // "<h1><font color=red>Your disk is damaged!" must show as it is named, never as rich text.
  box->setTextFormat(Qt::PlainText);
  if (Default != QMessageBox::NoButton) box->setDefaultButton(Default);
  return box;
}

void TUserInteraction::ShowMessage(QWidget* Parent, const QString& Text, const QString& Caption)
{
  MakeMessageBox(Parent, Caption.isEmpty() ? ApplicationTitle() : Caption, Text, QMessageBox::Ok)->exec();
}

namespace {

QMessageBox::StandardButton Button(TAnswer Answer)
{
  switch (Answer) {
    case TAnswer::Yes: return QMessageBox::Yes;
    case TAnswer::No: return QMessageBox::No;
    case TAnswer::Cancel: break;
  }
  return QMessageBox::Cancel;
}

}  // namespace

bool TUserInteraction::AskYesNo(QWidget* Parent, const QString& Caption, const QString& Text, TAnswer Default)
{
  return MakeMessageBox(Parent, Caption, Text, QMessageBox::Yes | QMessageBox::No, Button(Default))->exec() ==
         QMessageBox::Yes;
}

TAnswer TUserInteraction::AskYesNoCancel(QWidget* Parent, const QString& Caption, const QString& Text, TAnswer Default)
{
  const auto box =
      MakeMessageBox(Parent, Caption, Text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, Button(Default));
  switch (box->exec()) {
    case QMessageBox::Yes: return TAnswer::Yes;
    case QMessageBox::No: return TAnswer::No;
    default: return TAnswer::Cancel;
  }
}

namespace {

QString RunFileDialog(QWidget* Parent, const TFileChoice& Choice, QFileDialog::AcceptMode Mode)
{
  QFileDialog dialog(Parent, Choice.Caption, Choice.Folder, Choice.Filter);
  dialog.setAcceptMode(Mode);
  dialog.setFileMode(Mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if (!Choice.DefaultSuffix.isEmpty()) dialog.setDefaultSuffix(Choice.DefaultSuffix);
  if (!Choice.ConfirmOverwrite) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  if (!Choice.FileName.isEmpty()) dialog.selectFile(Choice.FileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

}  // namespace

QString TUserInteraction::ChooseOpenFile(QWidget* Parent, const TFileChoice& Choice)
{
  return RunFileDialog(Parent, Choice, QFileDialog::AcceptOpen);
}

QString TUserInteraction::ChooseSaveFile(QWidget* Parent, const TFileChoice& Choice)
{
  return RunFileDialog(Parent, Choice, QFileDialog::AcceptSave);
}

QString TUserInteraction::ChooseFolder(QWidget* Parent, const QString& Caption, const QString& StartFolder)
{
  return BrowseForFolder(Parent, Caption, StartFolder);
}

int TUserInteraction::RunModal(QDialog& Dialog) { return Dialog.exec(); }

void TUserInteraction::Beep(TBeep) { QApplication::beep(); }

bool TUserInteraction::OpenUrl(const QUrl& Url) { return ShellOpen(Url); }

void TUserInteraction::ShowPage(QWidget* Parent, const QUrl& Page)
{
  auto* viewer = new TPageViewer(Page, Parent);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->show();
}

}  // namespace kx::ui
