#pragma once

#include "encoders/wmasettings.h"

#include <QDialog>

#include <optional>

class OutputFile;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The WMA settings dialog: the user steps a profile index 0..10, every step is handed to the
// output-file object at once, and the object's description of the format shows beside it. Apply
// and Ok make the index the run's applied one; Cancel goes back to the profile in force when the
// dialog opened. Every closing saves the dialog's values. The caller builds it afresh for every
// opening and keeps the applied index for the whole run.
class frmwma final : public QDialog
{
    Q_OBJECT

public:
    frmwma(OutputFile& audioFile, std::optional<int>& appliedProfileIndex,
           QWidget* parent = nullptr);
    ~frmwma() override;

    const WmaSettings& settings() const { return m_settings; }

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void handOver(int profile);
    void udWMAProfile_Change();
    void txtWMAProfile_Edited();
    void cmdApply_Click();
    void cmdOk_Click();
    void cmdCancel_Click();

    OutputFile& m_audioFile;
    std::optional<int>& m_appliedProfileIndex;
    WmaSettings m_settings;
    // The profile in force when the dialog opened, for Cancel when nothing was applied yet.
    int m_openingProfileIndex = 0;

    QGroupBox* frmWMAFormat = nullptr;
    QLineEdit* txtWMAProfile = nullptr;
    QSpinBox* udWMAProfile = nullptr;
    QLineEdit* txtWMAFormatString = nullptr;
    QPushButton* cmdApply = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdOk = nullptr;
};
