#pragma once

#include <QDialog>

class OutputFile;

// Placeholder: the OGG settings dialog is being built.
class frmogg final : public QDialog
{
    Q_OBJECT

public:
    explicit frmogg(OutputFile& audioFile, QWidget* parent = nullptr);

private:
    OutputFile& m_audioFile;
};
