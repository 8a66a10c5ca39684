#pragma once

#include <QDialog>

class OutputFile;

// Placeholder: the MP3 settings dialog is being built.
class frmmp3 final : public QDialog
{
    Q_OBJECT

public:
    explicit frmmp3(OutputFile& audioFile, QWidget* parent = nullptr);

private:
    OutputFile& m_audioFile;
};
