#pragma once

#include "settings.h"

#include <QDialog>

namespace Ui {
class TSettingsDialog;
}

// The modal dialog in which the user edits the settings record.
class TSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // Bits of the port-change mask that applyToSettings returns.
    enum { SnmpPortChanged = 1, SyslogPortChanged = 2 };

    explicit TSettingsDialog(QWidget *parent = nullptr);
    ~TSettingsDialog() override;

    void setFromSettings(const TSettings &settings);
    int applyToSettings(TSettings &settings);

protected:
    void changeEvent(QEvent *e) override;

private slots:
    void on_toolButtonShowDir_clicked();
    void on_toolButtonShow_clicked();
    void on_toolButtonDir_clicked();

private:
    Ui::TSettingsDialog *ui;
};
