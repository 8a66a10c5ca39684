#include "encoders/frmogg.h"

frmogg::frmogg(OutputFile& audioFile, QWidget* parent) : QDialog(parent), m_audioFile(audioFile) {}
