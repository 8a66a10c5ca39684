#include "preview/frmplaytrack.h"

#include "preview/trackpreview.h"
#include "ui/skinform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSlider>
#include <QVBoxLayout>

frmplaytrack::frmplaytrack(TrackPreview& preview, QWidget* owner)
    : QDialog(owner), m_preview(preview)
{
    setObjectName(QStringLiteral("frmplaytrack"));
    setWindowTitle(QStringLiteral("playtrack"));
    setModal(true);

    auto named = [](auto* widget, const char* name, const char* accessible) {
        widget->setObjectName(QLatin1String(name));
        widget->setAccessibleName(QLatin1String(accessible));
        return widget;
    };
    cmdPlay = named(new QPushButton(QStringLiteral(">"), this), "cmdPlay", "Play");
    cmdStop = named(new QPushButton(QStringLiteral("||||"), this), "cmdStop", "Stop");
    okbutton = named(new QPushButton(QStringLiteral("Ok"), this), "okbutton", "Ok");
    cmdStop->setEnabled(false);

    slPosition = named(new QSlider(Qt::Horizontal, this), "slPosition", "Position");
    slPosition->setRange(0, 100);
    slPosition->setEnabled(false);
    lblCurrentPlayTime = new QLabel(QStringLiteral("Current second: 00.000"), this);
    lblCurrentPlayTime->setObjectName(QStringLiteral("lblCurrentPlayTime"));

    for (int k = 0; k < 2; ++k) {
        Meter[k] = named(new QProgressBar(this), k == 0 ? "Meter0" : "Meter1",
                         k == 0 ? "Left level" : "Right level");
        Meter[k]->setRange(0, 100);
        Meter[k]->setValue(0);
        Meter[k]->setTextVisible(false);
        Meter[k]->setMaximumHeight(10);
    }

    slBuffer = named(new QSlider(Qt::Horizontal, this), "slBuffer", "Buffer");
    slBuffer->setRange(TrackPreview::BufferMin, TrackPreview::BufferMax);
    slBuffer->setValue(30);
    txtBuffer = named(new QLineEdit(QStringLiteral("26"), this), "txtBuffer", "Buffer size");
    txtBuffer->setMaximumWidth(60);
    auto* bufferLabel = new QLabel(QStringLiteral("&Buffer (sectors)"), this);
    bufferLabel->setBuddy(slBuffer);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdPlay);
    buttons->addWidget(cmdStop);
    buttons->addStretch(1);
    buttons->addWidget(lblCurrentPlayTime);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("L"), this), 0, 0);
    grid->addWidget(Meter[0], 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("R"), this), 1, 0);
    grid->addWidget(Meter[1], 1, 1, 1, 2);
    grid->addWidget(bufferLabel, 2, 0);
    grid->addWidget(slBuffer, 2, 1);
    grid->addWidget(txtBuffer, 2, 2);
    grid->setColumnStretch(1, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(okbutton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(slPosition);
    layout->addLayout(grid);
    layout->addLayout(bottom);
    resize(420, sizeHint().height());

    connect(cmdPlay, &QPushButton::clicked, &m_preview, &TrackPreview::StartPlay);
    connect(cmdStop, &QPushButton::clicked, &m_preview, &TrackPreview::StopPlay);
    // Ok only hides the dialog; closing it, by any way, ends the modal showing.
    connect(okbutton, &QPushButton::clicked, this, &QDialog::accept);
    connect(slPosition, &QSlider::sliderPressed, &m_preview, &TrackPreview::slPosition_MouseDown);
    connect(slPosition, &QSlider::sliderReleased, this,
            [this] { m_preview.slPosition_MouseUp(slPosition->value()); });
    connect(slBuffer, &QSlider::sliderReleased, this,
            [this] { m_preview.slBuffer_MouseUp(slBuffer->value()); });
    // Keys and clicks on a slider's groove move it without a drag: a press and a release at once.
    connect(slPosition, &QSlider::valueChanged, this, [this](int value) {
        if (m_settingSlider || slPosition->isSliderDown())
            return;
        m_preview.slPosition_MouseDown();
        m_preview.slPosition_MouseUp(value);
    });
    connect(slBuffer, &QSlider::valueChanged, this, [this](int value) {
        if (!m_settingSlider && !slBuffer->isSliderDown())
            m_preview.slBuffer_MouseUp(value);
    });
    connect(txtBuffer, &QLineEdit::textChanged, &m_preview, &TrackPreview::txtBuffer_Change);

    Form_Load();
}

void frmplaytrack::Form_Load()
{
    // The skin draws both buttons.
    cmdPlay->setText(QString());
    cmdStop->setText(QString());
    skinDialog(this);
    m_preview.setView(this, this);
}

void frmplaytrack::setPlayEnabled(bool enabled)
{
    cmdPlay->setEnabled(enabled);
}

void frmplaytrack::setStopEnabled(bool enabled)
{
    cmdStop->setEnabled(enabled);
}

void frmplaytrack::setOkEnabled(bool enabled)
{
    okbutton->setEnabled(enabled);
}

void frmplaytrack::setPositionEnabled(bool enabled)
{
    slPosition->setEnabled(enabled);
}

void frmplaytrack::setPosition(int percent)
{
    const QScopedValueRollback quiet(m_settingSlider, true);
    slPosition->setValue(percent);
}

void frmplaytrack::setMeter(int index, int value)
{
    Meter[index]->setValue(value);
}

void frmplaytrack::setTimeText(const QString& text)
{
    lblCurrentPlayTime->setText(text);
}

int frmplaytrack::bufferSliderValue() const
{
    return slBuffer->value();
}

void frmplaytrack::setBufferSliderValue(int value)
{
    const QScopedValueRollback quiet(m_settingSlider, true);
    slBuffer->setValue(value);
}

QString frmplaytrack::bufferText() const
{
    return txtBuffer->text();
}

void frmplaytrack::setBufferText(const QString& text)
{
    txtBuffer->setText(text);
}

void frmplaytrack::redraw()
{
    repaint();
}
