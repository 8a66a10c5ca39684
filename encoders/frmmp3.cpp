#include "encoders/frmmp3.h"

frmmp3::frmmp3(OutputFile& audioFile, QWidget* parent) : QDialog(parent), m_audioFile(audioFile) {}
