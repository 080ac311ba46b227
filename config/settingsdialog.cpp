#include "settingsdialog.h"

// Placeholder until the dialog's form lands.
TSettingsDialog::TSettingsDialog(QWidget *parent) : QDialog(parent), ui(nullptr) {}
TSettingsDialog::~TSettingsDialog() = default;
void TSettingsDialog::setFromSettings(const TSettings &) {}
int TSettingsDialog::applyToSettings(TSettings &) { return 0; }
void TSettingsDialog::changeEvent(QEvent *e) { QDialog::changeEvent(e); }
void TSettingsDialog::on_toolButtonShowDir_clicked() {}
void TSettingsDialog::on_toolButtonShow_clicked() {}
void TSettingsDialog::on_toolButtonDir_clicked() {}
