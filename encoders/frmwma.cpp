#include "encoders/frmwma.h"

frmwma::frmwma(OutputFile& audioFile, QWidget* parent) : QDialog(parent), m_audioFile(audioFile) {}
