#include "encoders/frmogg.h"

#include "ui/skinform.h"

#include "app/apptext.h"
#include "app/userdialogs.h"
#include "components/outputfile.h"
#include "encoders/encodertables.h"
#include "settings/cregister.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSlider>
#include <QToolTip>
#include <QVBoxLayout>

namespace
{

const QString NominalCaption = QStringLiteral("Current nominal bitrate: ");
const QString MinCaption = QStringLiteral("Current min bitrate: ");
const QString MaxCaption = QStringLiteral("Current max bitrate: ");

QGroupBox* frame(const QString& name, const QString& caption, QWidget* parent)
{
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    return box;
}

QSlider* slider(const QString& name, const QString& accessibleName, int maximum, int pageStep,
                int tickInterval, QWidget* parent)
{
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(name);
    s->setAccessibleName(accessibleName);
    s->setRange(0, maximum);
    s->setSingleStep(1);
    s->setPageStep(pageStep);
    s->setTickPosition(QSlider::TicksBelow);
    s->setTickInterval(tickInterval);
    return s;
}

QLabel* label(const QString& name, QWidget* buddy, QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setBuddy(buddy);
    return l;
}

// Selects the entry with exactly this text (blanks count), or the fallback entry when the store
// holds a text the list doesn't (edited by hand).
void selectText(QComboBox* list, const QString& text, const QString& fallback)
{
    int index = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        index = list->findText(fallback, Qt::MatchExactly | Qt::MatchCaseSensitive);
    list->setCurrentIndex(index);
}

} // namespace

frmogg::frmogg(OutputFile& audioFile, UserDialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_audioFile(audioFile), m_dialogs(dialogs),
      m_settings(OggSettings::load(CRegister()))
{
    setObjectName(QStringLiteral("frmogg"));
    setWindowTitle(QStringLiteral("Quality (Compression)"));
    setModal(true);
    buildControls();
    connectControls();
    showSettings();
    skinDialog(this);
}

void frmogg::buildControls()
{
    // Created in visual order, so that Tab walks the dialog from top to bottom.
    frmFrequency =
        frame(QStringLiteral("frmFrequency"), QStringLiteral("Sampling Frequency"), this);
    cmbFrequency = new QComboBox(frmFrequency);
    cmbFrequency->setObjectName(QStringLiteral("cmbFrequency"));
    cmbFrequency->setAccessibleName(frmFrequency->title());
    for (const encodertables::SamplingFrequency& entry : encodertables::SamplingFrequencyList)
        cmbFrequency->addItem(QLatin1String(entry.text), entry.rate);
    (new QVBoxLayout(frmFrequency))->addWidget(cmbFrequency);

    frmChMode = frame(QStringLiteral("frmChMode"), QStringLiteral("Channels Mode"), this);
    cmbChMode = new QComboBox(frmChMode);
    cmbChMode->setObjectName(QStringLiteral("cmbChMode"));
    cmbChMode->setAccessibleName(frmChMode->title());
    cmbChMode->addItems(OggSettings::ChannelModes);
    (new QVBoxLayout(frmChMode))->addWidget(cmbChMode);

    frmOption = frame(QStringLiteral("frmOption"), QStringLiteral("Option"), this);
    chVbr = new QCheckBox(QStringLiteral("VBR Enabled"), frmOption);
    chVbr->setObjectName(QStringLiteral("chVbr"));
    chQuality = new QCheckBox(QStringLiteral("Quality Enabled"), frmOption);
    chQuality->setObjectName(QStringLiteral("chQuality"));
    sldrBitrate = slider(QStringLiteral("sldrBitrate"), QStringLiteral("Nominal bitrate"), 14, 2, 1,
                         frmOption);
    lblBitrate = label(QStringLiteral("lblBitrate"), sldrBitrate, frmOption);
    auto* optionLayout = new QVBoxLayout(frmOption);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(chVbr);
    boxes->addWidget(chQuality);
    optionLayout->addLayout(boxes);
    optionLayout->addWidget(sldrBitrate);
    optionLayout->addWidget(lblBitrate);

    frmVbr = frame(QStringLiteral("frmVbr"), QStringLiteral("VBR"), this);
    sldrMinBitrate = slider(QStringLiteral("sldrMinBitrate"), QStringLiteral("Minimum bitrate"), 14,
                            2, 1, frmVbr);
    lblMinBitrate = label(QStringLiteral("lblMinBitrate"), sldrMinBitrate, frmVbr);
    sldrMaxBitrate = slider(QStringLiteral("sldrMaxBitrate"), QStringLiteral("Maximum bitrate"), 14,
                            2, 1, frmVbr);
    lblMaxBitrate = label(QStringLiteral("lblMaxBitrate"), sldrMaxBitrate, frmVbr);
    auto* vbrLayout = new QVBoxLayout(frmVbr);
    vbrLayout->addWidget(sldrMinBitrate);
    vbrLayout->addWidget(lblMinBitrate);
    vbrLayout->addWidget(sldrMaxBitrate);
    vbrLayout->addWidget(lblMaxBitrate);

    frmQuality = frame(QStringLiteral("frmQuality"), QStringLiteral("Quality (Compression)"), this);
    sldrQuality =
        slider(QStringLiteral("sldrQuality"), frmQuality->title(), 1000, 1, 100, frmQuality);
    (new QVBoxLayout(frmQuality))->addWidget(sldrQuality);

    cmdOk = new QPushButton(QStringLiteral("Ok"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdApply = new QPushButton(QStringLiteral("Apply"), this);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));

    auto* lists = new QHBoxLayout;
    lists->addWidget(frmFrequency);
    lists->addWidget(frmChMode);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    buttons->addWidget(cmdApply);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addWidget(frmOption);
    layout->addWidget(frmVbr);
    layout->addWidget(frmQuality);
    layout->addLayout(buttons);
}

void frmogg::connectControls()
{
    connect(cmbFrequency, &QComboBox::currentIndexChanged, this,
            [this] { m_settings.FrequencyText = cmbFrequency->currentText(); });
    connect(cmbChMode, &QComboBox::currentIndexChanged, this,
            [this] { m_settings.ChModeText = cmbChMode->currentText(); });
    // Clicks and the space bar alike; the code sets the boxes only before this is connected.
    connect(chVbr, &QCheckBox::toggled, this, &frmogg::vbrBoxChanged);
    connect(chQuality, &QCheckBox::toggled, this, &frmogg::qualityBoxChanged);

    // valueChanged covers the mouse, the wheel and the keyboard alike, so the record and the
    // labels never lag behind the thumb.
    connect(sldrBitrate, &QSlider::valueChanged, this, [this] {
        bitrateSliderChanged(sldrBitrate, &OggSettings::BitratePos, lblBitrate, NominalCaption);
    });
    connect(sldrMinBitrate, &QSlider::valueChanged, this, [this] {
        bitrateSliderChanged(sldrMinBitrate, &OggSettings::MinBitratePos, lblMinBitrate,
                             MinCaption);
    });
    connect(sldrMaxBitrate, &QSlider::valueChanged, this, [this] {
        bitrateSliderChanged(sldrMaxBitrate, &OggSettings::MaxBitratePos, lblMaxBitrate,
                             MaxCaption);
    });
    connect(sldrQuality, &QSlider::valueChanged, this, &frmogg::qualitySliderChanged);
    // While the thumb is dragged, its value shows beside the pointer.
    for (QSlider* s : {sldrBitrate, sldrMinBitrate, sldrMaxBitrate, sldrQuality})
        connect(s, &QSlider::sliderMoved, this, [this, s] { showTip(s); });

    connect(cmdApply, &QPushButton::clicked, this, &frmogg::cmdApply_Click);
    connect(cmdOk, &QPushButton::clicked, this, &frmogg::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmogg::showSettings()
{
    // A stored value the controls can't show (edited by hand) falls back to the default entry, or
    // is clamped to the slider's range; the record follows the controls either way.
    const OggSettings defaults;
    const OggSettings stored = m_settings;
    selectText(cmbFrequency, stored.FrequencyText, defaults.FrequencyText);
    selectText(cmbChMode, stored.ChModeText, defaults.ChModeText);
    m_settings.FrequencyText = cmbFrequency->currentText();
    m_settings.ChModeText = cmbChMode->currentText();

    sldrBitrate->setValue(stored.BitratePos);
    sldrMinBitrate->setValue(stored.MinBitratePos);
    sldrMaxBitrate->setValue(stored.MaxBitratePos);
    sldrQuality->setValue(stored.QualityPos);
    // A slider already at the stored place emitted nothing: fill its label and record anyway.
    bitrateSliderChanged(sldrBitrate, &OggSettings::BitratePos, lblBitrate, NominalCaption);
    bitrateSliderChanged(sldrMinBitrate, &OggSettings::MinBitratePos, lblMinBitrate, MinCaption);
    bitrateSliderChanged(sldrMaxBitrate, &OggSettings::MaxBitratePos, lblMaxBitrate, MaxCaption);
    qualitySliderChanged();

    // A box restored checked runs its reaction; one restored unchecked leaves the controls as
    // they are.
    m_settings.VbrState = stored.VbrState != 0 ? 1 : 0;
    m_settings.QualityState = stored.QualityState != 0 ? 1 : 0;
    chVbr->setChecked(m_settings.VbrState != 0);
    chQuality->setChecked(m_settings.QualityState != 0);
}

void frmogg::vbrBoxChanged()
{
    m_settings.VbrState = chVbr->isChecked() ? 1 : 0;
    const bool on = chVbr->isChecked();
    if (on)
        frmVbr->setEnabled(true);
    else
        frmQuality->setEnabled(false);
    for (QWidget* w : std::initializer_list<QWidget*>{sldrMinBitrate, sldrMaxBitrate, lblMinBitrate,
                                                      lblMaxBitrate})
        w->setEnabled(on);
}

void frmogg::qualityBoxChanged()
{
    m_settings.QualityState = chQuality->isChecked() ? 1 : 0;
    if (chQuality->isChecked()) {
        for (QWidget* w : std::initializer_list<QWidget*>{chVbr, frmVbr, sldrBitrate,
                                                          sldrMinBitrate, sldrMaxBitrate,
                                                          lblBitrate, lblMinBitrate, lblMaxBitrate})
            w->setEnabled(false);
        frmQuality->setEnabled(true);
        sldrQuality->setEnabled(true);
        return;
    }
    frmVbr->setEnabled(false);
    sldrQuality->setEnabled(false);
    chVbr->setEnabled(true);
    lblBitrate->setEnabled(true);
    sldrBitrate->setEnabled(true);
    // Brings the VBR frame and the minimum and maximum back when VBR is on.
    vbrBoxChanged();
}

void frmogg::bitrateSliderChanged(QSlider* slider, qint16 OggSettings::*position, QLabel* label,
                                  const QString& caption)
{
    m_settings.*position = qint16(slider->value());
    const int kbit = encodertables::bitrateAt(slider->value()).value_or(0);
    label->setText(caption + QString::number(kbit) + QStringLiteral(" kbit"));
    slider->setToolTip(QString::number(kbit));
}

void frmogg::qualitySliderChanged()
{
    m_settings.QualityPos = qint16(sldrQuality->value());
    // Hundredths of a quality step, in the user's number format: 350 reads "3.5", 300 "3".
    sldrQuality->setToolTip(
        QLocale().toString(sldrQuality->value() / 100.0, 'f', QLocale::FloatingPointShortest));
}

void frmogg::showTip(QSlider* slider)
{
    // sliderMoved comes before valueChanged: show the tip once the value has followed.
    QMetaObject::invokeMethod(
        this, [slider] { QToolTip::showText(QCursor::pos(), slider->toolTip(), slider); },
        Qt::QueuedConnection);
}

bool frmogg::applySettings()
{
    if (applyOggSettings(m_audioFile, m_settings))
        return true;
    MessageBox box;
    box.text = QStringLiteral("Incorrect format");
    box.title = apptext::title();
    box.buttons = MessageBox::Buttons::Ok;
    box.icon = MessageBox::Icon::Critical;
    m_dialogs.ask(this, box);
    return false;
}

void frmogg::cmdApply_Click()
{
    // Saved even when the output file refuses the format, so the user's choice isn't lost.
    m_settings.save(CRegister());
    applySettings();
}

void frmogg::cmdOk_Click()
{
    if (!applySettings())
        return;
    accept();
    m_settings.save(CRegister());
}
