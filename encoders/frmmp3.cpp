#include "encoders/frmmp3.h"

#include "components/skin/skinlabel.h"
#include "ui/skinform.h"

#include "app/apptext.h"
#include "app/userdialogs.h"
#include "components/outputfile.h"
#include "encoders/encodertables.h"
#include "settings/cregister.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <array>
#include <utility>

namespace
{

template <typename W> W* named(W* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel* label(const char* name, const QString& caption, QWidget* buddy)
{
    // The labels named SkinLabel are the skin's own; the others keep the look around them.
    auto* text =
        named(QLatin1String(name).startsWith(QLatin1String("SkinLabel")) ? new SkinLabel(caption)
                                                                         : new QLabel(caption),
              name);
    if (buddy) {
        text->setBuddy(buddy);
        buddy->setAccessibleName(caption.trimmed());
    }
    return text;
}

QGroupBox* frame(const char* name, const QString& caption)
{
    return named(new QGroupBox(caption), name);
}

// A select-only list.
QComboBox* list(const char* name, const QStringList& entries)
{
    auto* combo = named(new QComboBox, name);
    combo->setEditable(false);
    combo->addItems(entries);
    return combo;
}

QSlider* slider(const char* name, int minimum, int maximum)
{
    auto* bar = named(new QSlider(Qt::Horizontal), name);
    bar->setRange(minimum, maximum);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setTickInterval(1);
    return bar;
}

// A number field with up and down arrows. The spin box is the arrows (udName) and its line edit
// the text (textName), so the text and the arrows can never disagree. An arrows-only field takes
// no typing.
QSpinBox* spinField(const char* textName, const char* udName, int minimum, int maximum, int step,
                    bool typing)
{
    auto* spin = named(new QSpinBox, udName);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    auto* text = spin->findChild<QLineEdit*>();
    text->setObjectName(QLatin1String(textName));
    text->setReadOnly(!typing);
    return spin;
}

QCheckBox* checkBox(const char* name, const QString& caption)
{
    auto* box = named(new QCheckBox(caption), name);
    box->setAccessibleName(caption);
    return box;
}

// Selects the entry showing exactly this text; a text the list doesn't hold leaves nothing
// selected (and the record keeps the text) rather than showing a value that isn't stored.
void select(QComboBox* combo, const QString& text)
{
    const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        combo->setCurrentIndex(index);
    } else {
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(-1);
    }
}

// One option button per caption, with the indexes 1..N as the group's ids.
QButtonGroup* optionGroup(QWidget* page, QObject* owner, const char* name,
                          const QStringList& captions)
{
    auto* group = named(new QButtonGroup(owner), name);
    group->setExclusive(true);
    auto* layout = new QGridLayout(page);
    const int rows = (int(captions.size()) + 1) / 2;
    for (int i = 0; i < int(captions.size()); ++i) {
        auto* button = new QRadioButton(captions[i]);
        button->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(name)).arg(i + 1));
        group->addButton(button, i + 1);
        layout->addWidget(button, i % rows, i / rows);
    }
    layout->setRowStretch(rows, 1);
    return group;
}

} // namespace

frmmp3::frmmp3(OutputFile& audioFile, UserDialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_audioFile(audioFile), m_dialogs(dialogs),
      m_settings(Mp3Settings::load(CRegister()))
{
    setObjectName(QStringLiteral("frmmp3"));
    setWindowTitle(QStringLiteral("MP3 Lame 3.91 Encoder Option"));
    setModal(true);

    m_tabs = named(new QTabWidget, "Taboptions");
    // All seven tabs in sight: the dialog widens to hold them rather than scrolling.
    m_tabs->setUsesScrollButtons(false);
    const std::array<std::pair<QWidget*, const char*>, 7> pages = {{
        {makeGeneralPage(), "General"},
        {makeFilteringPage(), "Filtering"},
        {makeVbrPage(), "VBR"},
        {makeExpertPage(), "Expert"},
        {makePresetPage(), "Preset"},
        {makeAltPresetPage(), "Alt-Preset"},
        {makeCommandLinePage(), "Command Line"},
    }};
    for (int i = 0; i < int(pages.size()); ++i) {
        pages[i].first->setObjectName(QStringLiteral("frameMp3Option%1").arg(i));
        m_tabs->addTab(pages[i].first, QLatin1String(pages[i].second));
    }

    auto* ok = named(new QPushButton(QStringLiteral("Ok")), "Command3");
    auto* apply = named(new QPushButton(QStringLiteral("Apply")), "Command1");
    auto* cancel = named(new QPushButton(QStringLiteral("Cancel")), "Command2");
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(apply);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, [this] {
        if (saveAndApply())
            accept();
    });
    connect(apply, &QPushButton::clicked, this, [this] { saveAndApply(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    fillControls();
    skinDialog(this);
    // Every opening starts on the first page.
    m_tabs->setCurrentIndex(0);
}

QWidget* frmmp3::makeGeneralPage()
{
    auto* page = new QWidget;

    auto* chModeFrame = frame("frmChMode", QStringLiteral("Channels Mode"));
    m_chMode = list("cmbChMode", Mp3Settings::ChannelModes);
    m_chMode->setAccessibleName(chModeFrame->title());
    (new QVBoxLayout(chModeFrame))->addWidget(m_chMode);
    connect(m_chMode, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_settings.ChannelMode = m_chMode->currentText();
    });

    m_bitrateFrame = frame("frmBitrate", QStringLiteral("Bitrate"));
    m_bitrate = slider("sldrBitrate", 5, 10);
    m_bitrate->setAccessibleName(m_bitrateFrame->title());
    auto* bitrateRow = new QHBoxLayout(m_bitrateFrame);
    bitrateRow->addWidget(named(new QLabel(QStringLiteral("poor quality ")), "lblpoor"));
    bitrateRow->addWidget(m_bitrate, 1);
    bitrateRow->addWidget(named(new QLabel(QStringLiteral("good quality ")), "lblgood"));
    connect(m_bitrate, &QSlider::valueChanged, this,
            [this](int position) { m_settings.BitratePos = qint16(position); });
    connect(m_bitrate, &QSlider::sliderMoved, this, &frmmp3::showDraggedBitrate);

    auto* qualityFrame = frame("frmQuality", QStringLiteral("Encoder Quality"));
    m_quality = slider("sldrQuality", 5, 9);
    m_quality->setAccessibleName(qualityFrame->title());
    auto* qualityRow = new QHBoxLayout(qualityFrame);
    qualityRow->addWidget(named(new QLabel(QStringLiteral("better")), "lblbetter"));
    qualityRow->addWidget(m_quality, 1);
    qualityRow->addWidget(named(new QLabel(QStringLiteral("faster")), "lblfaster"));
    connect(m_quality, &QSlider::valueChanged, this,
            [this](int position) { m_settings.QualityPos = qint16(position); });

    auto* frequencyFrame = frame("frmFrequency", QStringLiteral("Sampling Frequency"));
    m_frequency = named(new QComboBox, "cmbFrequency");
    for (const auto& entry : encodertables::SamplingFrequencyList)
        m_frequency->addItem(QString::fromLatin1(entry.text), entry.rate);
    m_frequency->setAccessibleName(frequencyFrame->title());
    (new QVBoxLayout(frequencyFrame))->addWidget(m_frequency);
    connect(m_frequency, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_settings.Frequency = m_frequency->currentText();
    });

    auto* grid = new QGridLayout(page);
    grid->addWidget(chModeFrame, 0, 0);
    grid->addWidget(frequencyFrame, 0, 1);
    grid->addWidget(m_bitrateFrame, 1, 0, 1, 2);
    grid->addWidget(qualityFrame, 2, 0, 1, 2);
    grid->setRowStretch(3, 1);
    return page;
}

QWidget* frmmp3::makeFilteringPage()
{
    auto* page = new QWidget;

    const auto bindText = [this](QSpinBox* field, QString Mp3Settings::*member) {
        connect(field, &QSpinBox::textChanged, this,
                [this, member](const QString& text) { m_settings.*member = text; });
    };

    auto* lowFrame = frame("frmLFilt", QStringLiteral("LowPass Filter"));
    m_lowpassOn = checkBox("chLFilt", QStringLiteral("Lowpass filtering frequency (in Hz):"));
    m_lowpassFrequency = spinField("tLFiltF", "udLFiltF", 0, 48000, 10, false);
    m_lowpassFrequency->setAccessibleName(m_lowpassOn->text());
    m_lowpassWidth = spinField("tLFiltW", "udLFiltW", 0, 48000, 10, false);
    m_lowpassWidthLabel =
        label("lblLFiltW", QStringLiteral("Width of Lowpass filter (in Hz):"), m_lowpassWidth);
    auto* lowGrid = new QGridLayout(lowFrame);
    lowGrid->addWidget(m_lowpassOn, 0, 0);
    lowGrid->addWidget(m_lowpassFrequency, 0, 1);
    lowGrid->addWidget(m_lowpassWidthLabel, 1, 0);
    lowGrid->addWidget(m_lowpassWidth, 1, 1);
    connect(m_lowpassOn, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.LowpassOn = on ? 1 : 0;
        UpdateLowpassControls();
    });
    bindText(m_lowpassFrequency, &Mp3Settings::LowpassFrequency);
    bindText(m_lowpassWidth, &Mp3Settings::LowpassWidth);

    auto* highFrame = frame("frmHFilt", QStringLiteral("HighPass Filter"));
    // The check box carries no caption of its own; the label beside it names it.
    m_highpassOn = named(new QCheckBox, "chHFilt");
    auto* highLabel =
        label("SkinLabel1", QStringLiteral("Highpass filtering frequency (in Hz):"), m_highpassOn);
    m_highpassFrequency = spinField("tHFiltF", "udHFiltF", 0, 48000, 10, false);
    m_highpassFrequency->setAccessibleName(highLabel->text());
    m_highpassWidth = spinField("tHFiltW", "udHFiltW", 0, 48000, 10, false);
    m_highpassWidthLabel =
        label("lblHFiltW", QStringLiteral("Width of Highpass filter (in Hz):"), m_highpassWidth);
    auto* highGrid = new QGridLayout(highFrame);
    auto* highCheck = new QHBoxLayout;
    highCheck->addWidget(m_highpassOn);
    highCheck->addWidget(highLabel, 1);
    highGrid->addLayout(highCheck, 0, 0);
    highGrid->addWidget(m_highpassFrequency, 0, 1);
    highGrid->addWidget(m_highpassWidthLabel, 1, 0);
    highGrid->addWidget(m_highpassWidth, 1, 1);
    connect(m_highpassOn, &QCheckBox::toggled, this, [this](bool on) {
        m_settings.HighpassOn = on ? 1 : 0;
        UpdateHighpassControls();
    });
    bindText(m_highpassFrequency, &Mp3Settings::HighpassFrequency);
    bindText(m_highpassWidth, &Mp3Settings::HighpassWidth);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lowFrame);
    layout->addWidget(highFrame);
    layout->addStretch();
    return page;
}

QWidget* frmmp3::makeVbrPage()
{
    auto* page = new QWidget;

    m_vbrCoding = list("cmbVBRCodingMethod", Mp3Settings::VbrCodings);
    auto* codingLabel = label("lblcoding", QStringLiteral(" Coding Method:"), m_vbrCoding);
    connect(m_vbrCoding, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_settings.VbrCoding = m_vbrCoding->currentText();
        UpdateVbrControls();
    });

    m_vbrQuality = spinField("txtVbrQuality", "udVbrQuality", 0, 9, 1, true);
    m_vbrQualityLabel = label("lblVbrQuality", QStringLiteral("VBR Quality:"), m_vbrQuality);
    connect(m_vbrQuality, &QSpinBox::textChanged, this,
            [this](const QString& text) { m_settings.VbrQuality = text; });

    m_abrBitrate = spinField("txtAbrBitrate", "udAbrBitrate", 0, 320, 1, true);
    m_abrBitrateLabel =
        label("lblAbrBitrate", QStringLiteral("Targed bitrate for ABR:"), m_abrBitrate);
    connect(m_abrBitrate, &QSpinBox::textChanged, this,
            [this](const QString& text) { m_settings.AbrBitrate = text; });

    m_vbrBitrateFrame = frame("frmVbrBitrate", QStringLiteral("Maximum VBR Bitrate"));
    m_vbrBitrate = slider("sldrVbrBitrate", 0, 14);
    m_vbrBitrate->setAccessibleName(m_vbrBitrateFrame->title());
    m_vbrBitrateLabel = named(new QLabel(QStringLiteral("VbrBitrate")), "lblVbrBitrate");
    auto* vbrBitrateRow = new QHBoxLayout(m_vbrBitrateFrame);
    vbrBitrateRow->addWidget(m_vbrBitrate, 1);
    vbrBitrateRow->addWidget(m_vbrBitrateLabel);
    // Every change reaches the record, by mouse or by keyboard.
    connect(m_vbrBitrate, &QSlider::valueChanged, this,
            [this](int position) { m_settings.VbrBitratePos = qint16(position); });

    m_vbrAdvancedFrame = frame("frmVbrAdvanced", QStringLiteral("Advanced"));
    m_strictlyEnforceMinBitrate =
        checkBox("chStrictlyEnforceMinBitrate", QStringLiteral("Strictly enforce minimum bitrate"));
    m_writeVbrHeader = checkBox("chWriteVBRHeader", QStringLiteral("Write VBR Header"));
    auto* advanced = new QVBoxLayout(m_vbrAdvancedFrame);
    advanced->addWidget(m_strictlyEnforceMinBitrate);
    advanced->addWidget(m_writeVbrHeader);
    connect(m_strictlyEnforceMinBitrate, &QCheckBox::toggled, this,
            [this](bool on) { m_settings.StrictlyEnforceMinBitrate = on ? 1 : 0; });
    connect(m_writeVbrHeader, &QCheckBox::toggled, this,
            [this](bool on) { m_settings.WriteVbrHeader = on ? 1 : 0; });

    auto* grid = new QGridLayout(page);
    grid->addWidget(codingLabel, 0, 0);
    grid->addWidget(m_vbrCoding, 0, 1);
    grid->addWidget(m_vbrQualityLabel, 1, 0);
    grid->addWidget(m_vbrQuality, 1, 1);
    grid->addWidget(m_abrBitrateLabel, 2, 0);
    grid->addWidget(m_abrBitrate, 2, 1);
    grid->addWidget(m_vbrBitrateFrame, 3, 0, 1, 2);
    grid->addWidget(m_vbrAdvancedFrame, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);
    return page;
}

QWidget* frmmp3::makeExpertPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    const auto option = [this, layout](const char* name, const QString& caption,
                                       qint16 Mp3Settings::*member) {
        auto* box = checkBox(name, caption);
        layout->addWidget(box);
        connect(box, &QCheckBox::toggled, this,
                [this, member](bool on) { m_settings.*member = on ? 1 : 0; });
        return box;
    };
    m_errorProtection = option("chErrorProtection", QStringLiteral("include CRC -Checksums"),
                               &Mp3Settings::ErrorProtection);
    m_shortBlocks =
        option("chShortBlocks", QStringLiteral("short blocks"), &Mp3Settings::ShortBlocks);
    m_bitReservoir =
        option("chBitReservoir", QStringLiteral("bit reservoir"), &Mp3Settings::BitReservoir);
    m_blockType =
        option("chBlockType", QStringLiteral("allow block types to differ between channels"),
               &Mp3Settings::BlockType);
    m_strictlyIsoCompliance = option("chStrictlyISOCompliance",
                                     QStringLiteral("comply as much as possible to ISO MPEG spec"),
                                     &Mp3Settings::StrictlyIsoCompliance);

    m_athControl = list("cmbATHControl", Mp3Settings::AthControls);
    m_emphasis = list("cmbEmphasis", Mp3Settings::Emphases);
    auto* lists = new QGridLayout;
    lists->addWidget(label("SkinLabel3", QStringLiteral("ATH Control :"), m_athControl), 0, 0);
    lists->addWidget(m_athControl, 0, 1);
    lists->addWidget(label("SkinLabel4", QStringLiteral("De-emphasis :"), m_emphasis), 1, 0);
    lists->addWidget(m_emphasis, 1, 1);
    layout->addLayout(lists);
    layout->addStretch();
    connect(m_athControl, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_settings.AthControl = m_athControl->currentText();
    });
    connect(m_emphasis, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_settings.Emphasis = m_emphasis->currentText();
    });
    return page;
}

QWidget* frmmp3::makePresetPage()
{
    auto* page = new QWidget;
    m_preset = optionGroup(page, this, "opPreset",
                           {QStringLiteral("Phone"), QStringLiteral("SW"), QStringLiteral("AM"),
                            QStringLiteral("FM"), QStringLiteral("Voice"), QStringLiteral("Radio"),
                            QStringLiteral("Tape"), QStringLiteral("HiFi"), QStringLiteral("CD"),
                            QStringLiteral("Studio"), QStringLiteral("R3Mix")});
    connect(m_preset, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            m_settings.Preset = QString::number(id);
    });
    return page;
}

QWidget* frmmp3::makeAltPresetPage()
{
    auto* page = new QWidget;
    m_altPreset = optionGroup(page, this, "opAltPreset",
                              {QStringLiteral("Fast Standard"), QStringLiteral("Standard"),
                               QStringLiteral("Fast Extreme"), QStringLiteral("Extrene"),
                               QStringLiteral("Insane")});
    connect(m_altPreset, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            m_settings.AltPreset = qint16(id);
    });
    return page;
}

QWidget* frmmp3::makeCommandLinePage()
{
    auto* page = new QWidget;
    m_commandLine = named(new QLineEdit, "txtCommLine");
    m_commandLine->setAccessibleName(QStringLiteral("Command Line"));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(m_commandLine);
    layout->addStretch();
    connect(m_commandLine, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_settings.CommandLine = text; });
    return page;
}

void frmmp3::fillControls()
{
    // Filled from a copy of the loaded record, since each control's handler writes into the
    // record as its value arrives.
    const Mp3Settings stored = m_settings;

    // A number field shows the stored text as its number, and the record then holds what the
    // field shows, so the text kept and the number applied always agree.
    const auto setNumber = [](QSpinBox* field, const QString& text, QString& member) {
        field->setValue(text.trimmed().toInt());
        member = field->text();
    };
    const auto setPosition = [](QSlider* bar, qint16 position, qint16& member) {
        bar->setValue(position);
        member = qint16(bar->value());
    };

    select(m_frequency, stored.Frequency);
    select(m_chMode, stored.ChannelMode);
    setPosition(m_bitrate, stored.BitratePos, m_settings.BitratePos);
    setPosition(m_quality, stored.QualityPos, m_settings.QualityPos);
    m_highpassOn->setChecked(stored.HighpassOn != 0);
    m_lowpassOn->setChecked(stored.LowpassOn != 0);
    setNumber(m_highpassFrequency, stored.HighpassFrequency, m_settings.HighpassFrequency);
    setNumber(m_highpassWidth, stored.HighpassWidth, m_settings.HighpassWidth);
    setNumber(m_lowpassFrequency, stored.LowpassFrequency, m_settings.LowpassFrequency);
    setNumber(m_lowpassWidth, stored.LowpassWidth, m_settings.LowpassWidth);
    m_commandLine->setText(stored.CommandLine);
    select(m_vbrCoding, stored.VbrCoding);
    setPosition(m_vbrBitrate, stored.VbrBitratePos, m_settings.VbrBitratePos);
    m_writeVbrHeader->setChecked(stored.WriteVbrHeader != 0);
    m_strictlyEnforceMinBitrate->setChecked(stored.StrictlyEnforceMinBitrate != 0);
    setNumber(m_vbrQuality, stored.VbrQuality, m_settings.VbrQuality);
    setNumber(m_abrBitrate, stored.AbrBitrate, m_settings.AbrBitrate);
    m_errorProtection->setChecked(stored.ErrorProtection != 0);
    m_strictlyIsoCompliance->setChecked(stored.StrictlyIsoCompliance != 0);
    m_blockType->setChecked(stored.BlockType != 0);
    m_shortBlocks->setChecked(stored.ShortBlocks != 0);
    m_bitReservoir->setChecked(stored.BitReservoir != 0);
    select(m_athControl, stored.AthControl);
    select(m_emphasis, stored.Emphasis);
    if (QAbstractButton* preset = m_preset->button(stored.Preset.trimmed().toInt()))
        preset->setChecked(true);
    if (QAbstractButton* altPreset = m_altPreset->button(stored.AltPreset))
        altPreset->setChecked(true);

    // A handler runs only on a change, so the dependent states are set here whatever arrived.
    UpdateVbrControls();
    UpdateHighpassControls();
    UpdateLowpassControls();
}

void frmmp3::UpdateVbrControls()
{
    const QString method = m_vbrCoding->currentText();
    const bool none = method == QLatin1String("None");
    const bool abr = method == QLatin1String("ABR");
    for (QWidget* vbr :
         {static_cast<QWidget*>(m_vbrBitrateFrame), static_cast<QWidget*>(m_vbrBitrate),
          static_cast<QWidget*>(m_vbrBitrateLabel), static_cast<QWidget*>(m_vbrAdvancedFrame),
          static_cast<QWidget*>(m_writeVbrHeader),
          static_cast<QWidget*>(m_strictlyEnforceMinBitrate)})
        vbr->setEnabled(!none);
    m_vbrQualityLabel->setEnabled(!none && !abr);
    m_vbrQuality->setEnabled(!none && !abr);
    m_abrBitrateLabel->setEnabled(abr);
    m_abrBitrate->setEnabled(abr);
}

void frmmp3::UpdateHighpassControls()
{
    const bool on = m_highpassOn->isChecked();
    m_highpassFrequency->setEnabled(on);
    m_highpassWidth->setEnabled(on);
    m_highpassWidthLabel->setEnabled(on);
}

void frmmp3::UpdateLowpassControls()
{
    const bool on = m_lowpassOn->isChecked();
    m_lowpassFrequency->setEnabled(on);
    m_lowpassWidth->setEnabled(on);
    m_lowpassWidthLabel->setEnabled(on);
}

void frmmp3::showDraggedBitrate(int position)
{
    const int kbits = encodertables::bitrateAt(position).value_or(0);
    m_bitrateFrame->setTitle(QStringLiteral("Current bitrate: %1 kbit/sec").arg(kbits));
    m_bitrate->setToolTip(QString::number(kbits));
}

bool frmmp3::saveAndApply()
{
    // A number being typed is settled first (a field left empty goes back to its number), so
    // that the text stored and the number applied agree.
    for (QSpinBox* field : {m_vbrQuality, m_abrBitrate})
        field->interpretText();
    // The whole record reaches the encoder whichever page is in front.
    m_settings.save(CRegister());
    const Status applied = applyMp3Settings(m_audioFile, m_settings);
    if (applied)
        return true;
    m_dialogs.ask(this, {applied.error(), apptext::title(), MessageBox::Buttons::Ok,
                         MessageBox::Icon::Critical, MessageBox::Answer::Ok});
    return false;
}
