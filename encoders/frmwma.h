#pragma once

#include <QDialog>

class OutputFile;

// Placeholder: the WMA settings dialog is being built.
class frmwma final : public QDialog
{
    Q_OBJECT

public:
    explicit frmwma(OutputFile& audioFile, QWidget* parent = nullptr);

private:
    OutputFile& m_audioFile;
};
