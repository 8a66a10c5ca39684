#include "encoders/frmwma.h"

#include "ui/skinform.h"

#include "components/outputfile.h"
#include "settings/cregister.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QVBoxLayout>

namespace
{

// An up-down: a spin box's arrows without its own text field, since its value shows in the
// profile box beside it. It takes the keyboard focus itself, so the arrow keys and Page Up and
// Down step it.
class UpDown final : public QSpinBox
{
public:
    explicit UpDown(QWidget* parent) : QSpinBox(parent)
    {
        lineEdit()->hide();
        setFocusProxy(nullptr);
        setFocusPolicy(Qt::StrongFocus);
    }

    QSize sizeHint() const override
    {
        // As wide as the arrows, whatever the style draws them as.
        QStyleOptionSpinBox option;
        initStyleOption(&option);
        const QSize full = QSpinBox::sizeHint();
        option.rect = QRect(QPoint(0, 0), full);
        const QRect up =
            style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, this);
        return {full.width() - up.left() + up.width() / 4, full.height()};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

} // namespace

frmwma::frmwma(OutputFile& audioFile, std::optional<int>& appliedProfileIndex, QWidget* parent)
    : QDialog(parent), m_audioFile(audioFile), m_appliedProfileIndex(appliedProfileIndex),
      m_settings(WmaSettings::load(CRegister()))
{
    setObjectName(QStringLiteral("frmwma"));
    setWindowTitle(QStringLiteral("WMA Setting"));
    setModal(true);
    buildControls();

    const WmaSettings stored = m_settings;
    txtWMAProfile->setText(stored.ProfileText);
    txtWMAFormatString->setText(stored.FormatText);
    // The up-down starts at 0: any other stored index goes to the output file at once. An index
    // outside 0..10 (edited by hand) reads as the default.
    udWMAProfile->setValue(stored.profile());
    m_openingProfileIndex = udWMAProfile->value();
    skinDialog(this);
}

frmwma::~frmwma()
{
    // Destroyed while open (its owner closing under it), the dialog hides itself only after this
    // point; the profile box then loses focus and would report an edit to a half-gone dialog.
    txtWMAProfile->disconnect(this);
}

void frmwma::buildControls()
{
    frmWMAFormat = new QGroupBox(QStringLiteral("WMA Format"), this);
    frmWMAFormat->setObjectName(QStringLiteral("frmWMAFormat"));

    txtWMAProfile = new QLineEdit(QStringLiteral("10"), frmWMAFormat);
    txtWMAProfile->setObjectName(QStringLiteral("txtWMAProfile"));
    txtWMAProfile->setAccessibleName(QStringLiteral("Profile"));
    udWMAProfile = new UpDown(frmWMAFormat);
    udWMAProfile->setObjectName(QStringLiteral("udWMAProfile"));
    udWMAProfile->setAccessibleName(QStringLiteral("Profile"));
    udWMAProfile->setRange(0, WmaSettings::MaxProfile);
    udWMAProfile->setSingleStep(1);
    udWMAProfile->setValue(0);
    txtWMAFormatString = new QLineEdit(frmWMAFormat);
    txtWMAFormatString->setObjectName(QStringLiteral("txtWMAFormatString"));
    txtWMAFormatString->setAccessibleName(QStringLiteral("Format"));
    txtWMAFormatString->setReadOnly(true);

    auto* profileLabel = new QLabel(QStringLiteral("&Profile"), frmWMAFormat);
    profileLabel->setBuddy(txtWMAProfile);
    auto* formatLabel = new QLabel(QStringLiteral("&Format"), frmWMAFormat);
    formatLabel->setBuddy(txtWMAFormatString);
    auto* profileRow = new QHBoxLayout;
    profileRow->addWidget(txtWMAProfile);
    profileRow->addWidget(udWMAProfile);
    auto* form = new QFormLayout(frmWMAFormat);
    form->addRow(profileLabel, profileRow);
    form->addRow(formatLabel, txtWMAFormatString);

    cmdApply = new QPushButton(QStringLiteral("Apply"), this);
    cmdApply->setObjectName(QStringLiteral("cmdApply"));
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdOk = new QPushButton(QStringLiteral("Ok"), this);
    cmdOk->setObjectName(QStringLiteral("cmdOk"));
    cmdOk->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdApply);
    buttons->addWidget(cmdCancel);
    buttons->addWidget(cmdOk);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frmWMAFormat);
    layout->addLayout(buttons);

    connect(txtWMAProfile, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_settings.ProfileText = text; });
    // The description is read whole: the box is wide enough for the longest one, and shows its
    // beginning.
    txtWMAFormatString->setMinimumWidth(
        txtWMAFormatString->fontMetrics().horizontalAdvance(
            QStringLiteral("Windows Media Audio 2, 192 kbit/s, 44 100 Hz, stereo")) +
        16);
    connect(txtWMAFormatString, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_settings.FormatText = text;
        txtWMAFormatString->setCursorPosition(0);
    });
    connect(txtWMAProfile, &QLineEdit::editingFinished, this, &frmwma::txtWMAProfile_Edited);
    connect(udWMAProfile, &QSpinBox::valueChanged, this, &frmwma::udWMAProfile_Change);
    connect(cmdApply, &QPushButton::clicked, this, &frmwma::cmdApply_Click);
    connect(cmdOk, &QPushButton::clicked, this, &frmwma::cmdOk_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmwma::cmdCancel_Click);
}

void frmwma::handOver(int profile)
{
    // Every index the up-down allows names a profile the output file has: nothing to report.
    static_cast<void>(m_audioFile.SetWMAProfile(profile));
}

void frmwma::udWMAProfile_Change()
{
    const int profile = udWMAProfile->value();
    m_settings.StoredProfileIndex = qint16(profile);
    txtWMAProfile->setText(QString::number(profile));
    handOver(profile);
    txtWMAFormatString->setText(m_audioFile.FormatString());
}

void frmwma::txtWMAProfile_Edited()
{
    // A number typed into the profile box moves the up-down, kept to 0..10; the box then shows
    // the up-down's value, whatever was typed.
    bool ok = false;
    const int typed = txtWMAProfile->text().trimmed().toInt(&ok);
    if (ok)
        udWMAProfile->setValue(typed);
    txtWMAProfile->setText(QString::number(udWMAProfile->value()));
}

void frmwma::cmdApply_Click()
{
    m_settings.save(CRegister());
    handOver(udWMAProfile->value());
    m_appliedProfileIndex = udWMAProfile->value();
}

void frmwma::cmdOk_Click()
{
    cmdApply_Click();
    accept();
}

void frmwma::cmdCancel_Click()
{
    // Back to the profile in force when the dialog opened: the one applied last in this run, or
    // the stored one this opening showed.
    const int profile = m_appliedProfileIndex.value_or(m_openingProfileIndex);
    udWMAProfile->setValue(profile);
    m_settings.StoredProfileIndex = qint16(profile);
    handOver(profile);
    txtWMAFormatString->setText(m_audioFile.FormatString());
    reject();
}

void frmwma::done(int result)
{
    // Every way out saves: Ok, Cancel and the close box alike.
    m_settings.save(CRegister());
    QDialog::done(result);
}

void frmwma::keyPressEvent(QKeyEvent* event)
{
    // Escape is the Cancel button, not a bare close.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
